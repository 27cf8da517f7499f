#include "cipher/GostFastAvx512.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)

// GCC 12's AVX-512 intrinsics fill unused operands with deliberately undefined values, which its
// own uninitialised-value warnings then report at every use; the values never reach a result.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include <array>

#include "cipher/GostSlicedTables.h"

#define QUORVANE_AVX512 __attribute__((target("avx512f,avx512bw")))

namespace quorvane {

namespace {

// The AVX2 kernel's byte-sliced scheme (see GostSlicedTables.h and GostFastAvx2.cpp) on 512-bit
// registers: 64 blocks at once, carries held in mask registers, three-way ORs done by one
// ternary-logic instruction.
struct Tables {
    __m512i p[4];
    __m512i q[4];
    __m512i r[4];
};

QUORVANE_AVX512 __m512i RowTable(const SubstitutionTable& table, int k, SlicedPart part) {
    alignas(16) const std::array<std::uint8_t, 16> bytes = SlicedTableBytes(table, k, part);
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data())));
}

struct KeyBytes {
    __m512i plain[4];
};

// y ^= round(x + key) for 64 blocks.
QUORVANE_AVX512 inline void RoundStep(const __m512i x[4], __m512i y[4], const KeyBytes& k,
                                      const Tables& t) {
    const __m512i ones = _mm512_set1_epi8(static_cast<char>(0xFF));
    const __m512i low = _mm512_set1_epi8(0x0F);

    // Byte-wise addition modulo 2^32 with the carries in masks.
    __m512i s[4];
    s[0] = _mm512_add_epi8(x[0], k.plain[0]);
    __mmask64 carry = _mm512_cmplt_epu8_mask(s[0], k.plain[0]);
#pragma GCC unroll 4
    for (int i = 1; i < 4; ++i) {
        const __m512i sum = _mm512_add_epi8(x[i], k.plain[i]);
        s[i] = _mm512_mask_sub_epi8(sum, carry, sum, ones);  // + 1 where a carry comes in
        if (i < 3) {
            carry = _kor_mask64(_mm512_cmplt_epu8_mask(sum, k.plain[i]),
                                _mm512_mask_cmpeq_epi8_mask(carry, sum, ones));
        }
    }

    __m512i lo[4];
    __m512i hi[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        lo[i] = _mm512_and_si512(s[i], low);
        hi[i] = _mm512_and_si512(_mm512_srli_epi16(s[i], 4), low);
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const int k1 = (j + 3) & 3;
        const int k2 = (j + 2) & 3;
        const __m512i pq = _mm512_or_si512(_mm512_shuffle_epi8(t.p[k1], lo[k1]),
                                           _mm512_shuffle_epi8(t.q[k1], hi[k1]));
        // y ^ (pq | r) in one instruction (truth table 0x1E).
        y[j] = _mm512_ternarylogic_epi32(y[j], pq, _mm512_shuffle_epi8(t.r[k2], hi[k2]), 0x1E);
    }
}

QUORVANE_AVX512 inline void Transpose(__m512i v[8]) {
    const __m512i t0 = _mm512_unpacklo_epi16(v[0], v[1]);
    const __m512i t1 = _mm512_unpackhi_epi16(v[0], v[1]);
    const __m512i t2 = _mm512_unpacklo_epi16(v[2], v[3]);
    const __m512i t3 = _mm512_unpackhi_epi16(v[2], v[3]);
    const __m512i t4 = _mm512_unpacklo_epi16(v[4], v[5]);
    const __m512i t5 = _mm512_unpackhi_epi16(v[4], v[5]);
    const __m512i t6 = _mm512_unpacklo_epi16(v[6], v[7]);
    const __m512i t7 = _mm512_unpackhi_epi16(v[6], v[7]);
    const __m512i s0 = _mm512_unpacklo_epi32(t0, t2);
    const __m512i s1 = _mm512_unpackhi_epi32(t0, t2);
    const __m512i s2 = _mm512_unpacklo_epi32(t1, t3);
    const __m512i s3 = _mm512_unpackhi_epi32(t1, t3);
    const __m512i s4 = _mm512_unpacklo_epi32(t4, t6);
    const __m512i s5 = _mm512_unpackhi_epi32(t4, t6);
    const __m512i s6 = _mm512_unpacklo_epi32(t5, t7);
    const __m512i s7 = _mm512_unpackhi_epi32(t5, t7);
    v[0] = _mm512_unpacklo_epi64(s0, s4);
    v[1] = _mm512_unpackhi_epi64(s0, s4);
    v[2] = _mm512_unpacklo_epi64(s1, s5);
    v[3] = _mm512_unpackhi_epi64(s1, s5);
    v[4] = _mm512_unpacklo_epi64(s2, s6);
    v[5] = _mm512_unpackhi_epi64(s2, s6);
    v[6] = _mm512_unpacklo_epi64(s3, s7);
    v[7] = _mm512_unpackhi_epi64(s3, s7);
}

}  // namespace

QUORVANE_AVX512 void GostAvx512Run(std::uint8_t* data, std::size_t groupCount, int passes,
                                   const std::uint32_t keys[kGostRounds],
                                   const SubstitutionTable& table) {
    Tables t;
    for (int k = 0; k < 4; ++k) {
        t.p[k] = RowTable(table, k, SlicedPart::P);
        t.q[k] = RowTable(table, k, SlicedPart::Q);
        t.r[k] = RowTable(table, k, SlicedPart::R);
    }
    KeyBytes roundKeys[kGostRounds];
    for (int j = 0; j < kGostRounds; ++j) {
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            roundKeys[j].plain[i] =
                _mm512_set1_epi8(static_cast<char>(static_cast<std::uint8_t>(keys[j] >> (8 * i))));
        }
    }
    const __m512i interleave =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15));
    const __m512i deinterleave =
        _mm512_broadcast_i32x4(_mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15));

    for (std::size_t g = 0; g < groupCount; ++g) {
        std::uint8_t* block = data + g * kAvx512GroupBlocks * kGostBlockBytes;
        __m512i v[8];
        for (int i = 0; i < 8; ++i) {
            v[i] = _mm512_shuffle_epi8(_mm512_loadu_si512(block + 64 * i), interleave);
        }
        Transpose(v);
        __m512i a[4] = {v[0], v[1], v[2], v[3]};
        __m512i b[4] = {v[4], v[5], v[6], v[7]};
        for (int pass = 0; pass < passes; ++pass) {
            for (int j = 0; j < kGostRounds; j += 2) {
                RoundStep(a, b, roundKeys[j], t);
                RoundStep(b, a, roundKeys[j + 1], t);
            }
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                const __m512i tmp = a[i];
                a[i] = b[i];
                b[i] = tmp;
            }
        }
#pragma GCC unroll 4
        for (int i = 0; i < 4; ++i) {
            v[i] = a[i];
            v[4 + i] = b[i];
        }
        Transpose(v);
        for (int i = 0; i < 8; ++i) {
            _mm512_storeu_si512(block + 64 * i, _mm512_shuffle_epi8(v[i], deinterleave));
        }
    }
}

}  // namespace quorvane

#pragma GCC diagnostic pop

#else

#include <cstdlib>

namespace quorvane {

void GostAvx512Run(std::uint8_t*, std::size_t, int, const std::uint32_t*,
                   const SubstitutionTable&) {
    std::abort();
}

}  // namespace quorvane

#endif
