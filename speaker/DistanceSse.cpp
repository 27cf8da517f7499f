#include "speaker/Distance.h"

#if defined(QUORVANE_X86_VECTORS)

#include <immintrin.h>

#include <cstddef>

namespace quorvane {

static_assert(kLaneBlock == 8 && kVectorBlock == 4,
              "the SSE kernel holds a group of 4 vectors and a block of 8 codewords");

// The four vectors of a group are written out so that every running sum stays
// in a register.
void DistancesSse(const float* const* rows, std::int32_t rowCount, std::int32_t dimension,
                  const float* block, std::int32_t stride, DistanceBlock& out) {
    // Rows past rowCount repeat row 0; their results are never read.
    const float* const x0 = rows[0];
    const float* const x1 = rowCount > 1 ? rows[1] : x0;
    const float* const x2 = rowCount > 2 ? rows[2] : x0;
    const float* const x3 = rowCount > 3 ? rows[3] : x0;
    __m128 a0 = _mm_setzero_ps(), b0 = _mm_setzero_ps(), a1 = _mm_setzero_ps();
    __m128 b1 = _mm_setzero_ps(), a2 = _mm_setzero_ps(), b2 = _mm_setzero_ps();
    __m128 a3 = _mm_setzero_ps(), b3 = _mm_setzero_ps();
    for (std::int32_t j = 0; j < dimension; ++j) {
        const float* const column = block + static_cast<std::ptrdiff_t>(j) * stride;
        const __m128 low = _mm_loadu_ps(column);
        const __m128 high = _mm_loadu_ps(column + 4);
        __m128 v = _mm_set1_ps(x0[j]);
        __m128 d = _mm_sub_ps(v, low);
        a0 = _mm_add_ps(a0, _mm_mul_ps(d, d));
        d = _mm_sub_ps(v, high);
        b0 = _mm_add_ps(b0, _mm_mul_ps(d, d));
        v = _mm_set1_ps(x1[j]);
        d = _mm_sub_ps(v, low);
        a1 = _mm_add_ps(a1, _mm_mul_ps(d, d));
        d = _mm_sub_ps(v, high);
        b1 = _mm_add_ps(b1, _mm_mul_ps(d, d));
        v = _mm_set1_ps(x2[j]);
        d = _mm_sub_ps(v, low);
        a2 = _mm_add_ps(a2, _mm_mul_ps(d, d));
        d = _mm_sub_ps(v, high);
        b2 = _mm_add_ps(b2, _mm_mul_ps(d, d));
        v = _mm_set1_ps(x3[j]);
        d = _mm_sub_ps(v, low);
        a3 = _mm_add_ps(a3, _mm_mul_ps(d, d));
        d = _mm_sub_ps(v, high);
        b3 = _mm_add_ps(b3, _mm_mul_ps(d, d));
    }
    _mm_storeu_ps(out[0], _mm_sqrt_ps(a0));
    _mm_storeu_ps(out[0] + 4, _mm_sqrt_ps(b0));
    _mm_storeu_ps(out[1], _mm_sqrt_ps(a1));
    _mm_storeu_ps(out[1] + 4, _mm_sqrt_ps(b1));
    _mm_storeu_ps(out[2], _mm_sqrt_ps(a2));
    _mm_storeu_ps(out[2] + 4, _mm_sqrt_ps(b2));
    _mm_storeu_ps(out[3], _mm_sqrt_ps(a3));
    _mm_storeu_ps(out[3] + 4, _mm_sqrt_ps(b3));
}

}  // namespace quorvane

#endif
