#pragma once

// The kernels of the nearest-codeword search in codebook training: the
// distances of a few vectors to a block of codewords at once. One kernel per
// vector unit, each in its own file (DistancePlain.cpp, DistanceSse.cpp,
// DistanceAvx.cpp); every kernel gives the same bits, they differ only in
// speed. Callers pass the kernel they want; BestDistanceKernel is the default.

#include <cstdint>
#include <vector>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define QUORVANE_X86_VECTORS 1
#endif

namespace quorvane {

// Codewords compared with a vector at once: one float32 running sum per
// codeword in a vector register.
inline constexpr std::int32_t kLaneBlock = 8;
// Vectors compared at once with each block of codewords: the codeword values
// are loaded once for all of them.
inline constexpr std::int32_t kVectorBlock = 4;

// out[r][lane]: distance of vector r to codeword lane of the block.
using DistanceBlock = float[kVectorBlock][kLaneBlock];

// Distances of the vectors rows[0 .. rowCount-1] (rowCount 1 .. kVectorBlock,
// `dimension` values each) to the kLaneBlock codewords of one block, whose
// component j lies at block[j * stride .. j * stride + kLaneBlock - 1]. Each
// lane adds (x[j] - c[j])^2 in component order, in float32, and takes the
// correctly rounded square root, exactly as FeatureDistance does; the vector
// kernels only run lanes side by side, with separate multiply and add (never
// fused). Rows of `out` past rowCount hold no meaningful value.
using DistanceKernel = void (*)(const float* const* rows, std::int32_t rowCount,
                                std::int32_t dimension, const float* block, std::int32_t stride,
                                DistanceBlock& out);

// The vector units a kernel exists for.
enum class DistanceUnit { Plain, Sse, Avx };

// The plain loops; run everywhere.
void DistancesPlain(const float* const* rows, std::int32_t rowCount, std::int32_t dimension,
                    const float* block, std::int32_t stride, DistanceBlock& out);

#if defined(QUORVANE_X86_VECTORS)
// SSE2, part of every x86-64 processor: two registers of four lanes per vector.
void DistancesSse(const float* const* rows, std::int32_t rowCount, std::int32_t dimension,
                  const float* block, std::int32_t stride, DistanceBlock& out);
// AVX: one register of eight lanes per vector. Only call when the processor has AVX.
void DistancesAvx(const float* const* rows, std::int32_t rowCount, std::int32_t dimension,
                  const float* block, std::int32_t stride, DistanceBlock& out);
#endif

// The units this processor can run, Plain first, widest last.
[[nodiscard]] std::vector<DistanceUnit> AvailableDistanceUnits();

// The kernel of the unit, or the plain one when the processor lacks the unit.
[[nodiscard]] DistanceKernel DistanceKernelFor(DistanceUnit unit);

// The kernel of the widest unit the processor has, found once.
[[nodiscard]] DistanceKernel BestDistanceKernel();

}  // namespace quorvane
