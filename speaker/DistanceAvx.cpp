#include "speaker/Distance.h"

#if defined(QUORVANE_X86_VECTORS)

#include <immintrin.h>

#include <cstddef>

// Only this file's kernel uses AVX; the processor check in Distance.cpp keeps
// it from running where AVX is missing.
#define QUORVANE_AVX __attribute__((target("avx")))

namespace quorvane {

static_assert(kLaneBlock == 8 && kVectorBlock == 4,
              "the AVX kernel holds a group of 4 vectors and a block of 8 codewords");

QUORVANE_AVX void DistancesAvx(const float* const* rows, std::int32_t rowCount,
                               std::int32_t dimension, const float* block, std::int32_t stride,
                               DistanceBlock& out) {
    // Rows past rowCount repeat row 0; their results are never read.
    const float* const x0 = rows[0];
    const float* const x1 = rowCount > 1 ? rows[1] : x0;
    const float* const x2 = rowCount > 2 ? rows[2] : x0;
    const float* const x3 = rowCount > 3 ? rows[3] : x0;
    __m256 a0 = _mm256_setzero_ps(), a1 = _mm256_setzero_ps();
    __m256 a2 = _mm256_setzero_ps(), a3 = _mm256_setzero_ps();
    for (std::int32_t j = 0; j < dimension; ++j) {
        const __m256 column = _mm256_loadu_ps(block + static_cast<std::ptrdiff_t>(j) * stride);
        __m256 d = _mm256_sub_ps(_mm256_set1_ps(x0[j]), column);
        a0 = _mm256_add_ps(a0, _mm256_mul_ps(d, d));
        d = _mm256_sub_ps(_mm256_set1_ps(x1[j]), column);
        a1 = _mm256_add_ps(a1, _mm256_mul_ps(d, d));
        d = _mm256_sub_ps(_mm256_set1_ps(x2[j]), column);
        a2 = _mm256_add_ps(a2, _mm256_mul_ps(d, d));
        d = _mm256_sub_ps(_mm256_set1_ps(x3[j]), column);
        a3 = _mm256_add_ps(a3, _mm256_mul_ps(d, d));
    }
    _mm256_storeu_ps(out[0], _mm256_sqrt_ps(a0));
    _mm256_storeu_ps(out[1], _mm256_sqrt_ps(a1));
    _mm256_storeu_ps(out[2], _mm256_sqrt_ps(a2));
    _mm256_storeu_ps(out[3], _mm256_sqrt_ps(a3));
}

}  // namespace quorvane

#endif
