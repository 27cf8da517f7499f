#pragma once

#include <cstddef>
#include <cstdint>

#include "cipher/Gost.h"

namespace quorvane {

// Blocks handled together by the AVX2 kernel (one per byte of a 256-bit register).
inline constexpr std::size_t kAvx2GroupBlocks = 32;

// Runs passes times the 32 rounds whose key words keys[0..31] lists, in place, over
// groupCount groups of kAvx2GroupBlocks blocks. Only call when the processor has AVX2.
void GostAvx2Run(std::uint8_t* data, std::size_t groupCount, int passes,
                 const std::uint32_t keys[kGostRounds], const SubstitutionTable& table);

}  // namespace quorvane
