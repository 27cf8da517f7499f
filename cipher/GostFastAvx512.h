#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/Gost.h"

namespace quorvane {

// Blocks handled together by the AVX-512 kernel (one per byte of a 512-bit register).
inline constexpr std::size_t kAvx512GroupBlocks = 64;

// As GostAvx2Run, over groups of kAvx512GroupBlocks blocks. Only call when the processor has
// AVX-512 F and BW.
void GostAvx512Run(std::uint8_t* data, std::size_t groupCount, int passes,
                   const std::uint32_t keys[kGostRounds], const SubstitutionTable& table);

}  // namespace quorvane
