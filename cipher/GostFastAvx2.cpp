#include "cipher/GostFastAvx2.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)

#include <immintrin.h>

#include <array>

#include "cipher/GostSlicedTables.h"

#define QUORVANE_AVX2 __attribute__((target("avx2")))

namespace quorvane {

namespace {

// The kernel works "byte-sliced" (see GostSlicedTables.h): register x[p] holds byte p of each
// of 32 blocks, so one byte shuffle substitutes 32 nibbles.
struct Tables {
    __m256i p[4];
    __m256i q[4];
    __m256i r[4];
};

QUORVANE_AVX2 __m256i RowTable(const SubstitutionTable& table, int k, SlicedPart part) {
    alignas(16) const std::array<std::uint8_t, 16> bytes = SlicedTableBytes(table, k, part);
    return _mm256_broadcastsi128_si256(
        _mm_load_si128(reinterpret_cast<const __m128i*>(bytes.data())));
}

// The four bytes of one key word, each repeated in all 32 lanes, plain and with the sign bit
// flipped (for unsigned comparisons through the signed byte compare).
struct KeyBytes {
    __m256i plain[4];
    __m256i biased[4];
};

// y ^= round(x + key) for 32 blocks.
QUORVANE_AVX2 inline void RoundStep(const __m256i x[4], __m256i y[4], const KeyBytes& k,
                                    const Tables& t) {
    const __m256i bias = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i ones = _mm256_set1_epi8(static_cast<char>(0xFF));
    const __m256i low = _mm256_set1_epi8(0x0F);

    // Addition modulo 2^32 byte by byte: a byte carries out when its sum is below the key byte,
    // or when it is 0xFF and receives a carry.
    __m256i s[4];
    s[0] = _mm256_add_epi8(x[0], k.plain[0]);
    __m256i carry = _mm256_cmpgt_epi8(k.biased[0], _mm256_xor_si256(s[0], bias));
#pragma GCC unroll 4
    for (int i = 1; i < 4; ++i) {
        const __m256i t = _mm256_add_epi8(x[i], k.plain[i]);
        s[i] = _mm256_sub_epi8(t, carry);
        if (i < 3) {
            carry = _mm256_or_si256(_mm256_cmpgt_epi8(k.biased[i], _mm256_xor_si256(t, bias)),
                                    _mm256_and_si256(_mm256_cmpeq_epi8(t, ones), carry));
        }
    }

    __m256i lo[4];
    __m256i hi[4];
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
        lo[i] = _mm256_and_si256(s[i], low);
        hi[i] = _mm256_and_si256(_mm256_srli_epi16(s[i], 4), low);
    }
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const int k1 = (j + 3) & 3;
        const int k2 = (j + 2) & 3;
        const __m256i f = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(t.p[k1], lo[k1]),
                                                          _mm256_shuffle_epi8(t.q[k1], hi[k1])),
                                          _mm256_shuffle_epi8(t.r[k2], hi[k2]));
        y[j] = _mm256_xor_si256(y[j], f);
    }
}

// 8 x 8 transpose of 16-bit elements within each 128-bit lane; its own inverse.
QUORVANE_AVX2 inline void Transpose(__m256i v[8]) {
    const __m256i t0 = _mm256_unpacklo_epi16(v[0], v[1]);
    const __m256i t1 = _mm256_unpackhi_epi16(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi16(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi16(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi16(v[4], v[5]);
    const __m256i t5 = _mm256_unpackhi_epi16(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi16(v[6], v[7]);
    const __m256i t7 = _mm256_unpackhi_epi16(v[6], v[7]);
    const __m256i s0 = _mm256_unpacklo_epi32(t0, t2);
    const __m256i s1 = _mm256_unpackhi_epi32(t0, t2);
    const __m256i s2 = _mm256_unpacklo_epi32(t1, t3);
    const __m256i s3 = _mm256_unpackhi_epi32(t1, t3);
    const __m256i s4 = _mm256_unpacklo_epi32(t4, t6);
    const __m256i s5 = _mm256_unpackhi_epi32(t4, t6);
    const __m256i s6 = _mm256_unpacklo_epi32(t5, t7);
    const __m256i s7 = _mm256_unpackhi_epi32(t5, t7);
    v[0] = _mm256_unpacklo_epi64(s0, s4);
    v[1] = _mm256_unpackhi_epi64(s0, s4);
    v[2] = _mm256_unpacklo_epi64(s1, s5);
    v[3] = _mm256_unpackhi_epi64(s1, s5);
    v[4] = _mm256_unpacklo_epi64(s2, s6);
    v[5] = _mm256_unpackhi_epi64(s2, s6);
    v[6] = _mm256_unpacklo_epi64(s3, s7);
    v[7] = _mm256_unpackhi_epi64(s3, s7);
}

}  // namespace

QUORVANE_AVX2 void GostAvx2Run(std::uint8_t* data, std::size_t groupCount, int passes,
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
            const auto b = static_cast<std::uint8_t>(keys[j] >> (8 * i));
            roundKeys[j].plain[i] = _mm256_set1_epi8(static_cast<char>(b));
            roundKeys[j].biased[i] = _mm256_set1_epi8(static_cast<char>(b ^ 0x80u));
        }
    }
    // Within each 128-bit lane (two blocks a, b): a0 b0 a1 b1 ... a7 b7, and back.
    const __m256i interleave =
        _mm256_setr_epi8(0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15, 0, 8, 1, 9, 2, 10, 3,
                         11, 4, 12, 5, 13, 6, 14, 7, 15);
    const __m256i deinterleave =
        _mm256_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15, 0, 2, 4, 6, 8, 10,
                         12, 14, 1, 3, 5, 7, 9, 11, 13, 15);

    for (std::size_t g = 0; g < groupCount; ++g) {
        auto* block = reinterpret_cast<__m256i*>(data + g * kAvx2GroupBlocks * kGostBlockBytes);
        __m256i v[8];
        for (int i = 0; i < 8; ++i) {
            v[i] = _mm256_shuffle_epi8(_mm256_loadu_si256(block + i), interleave);
        }
        Transpose(v);                             // v[p] = byte p of every block
        __m256i a[4] = {v[0], v[1], v[2], v[3]};  // word 0 (N1)
        __m256i b[4] = {v[4], v[5], v[6], v[7]};  // word 1 (N2)
        for (int pass = 0; pass < passes; ++pass) {
            for (int j = 0; j < kGostRounds; j += 2) {
                RoundStep(a, b, roundKeys[j], t);
                RoundStep(b, a, roundKeys[j + 1], t);
            }
// The block leaves as (N2, N1): swap the halves.
#pragma GCC unroll 4
            for (int i = 0; i < 4; ++i) {
                const __m256i tmp = a[i];
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
            _mm256_storeu_si256(block + i, _mm256_shuffle_epi8(v[i], deinterleave));
        }
    }
}

}  // namespace quorvane

#else

#include <cstdlib>

namespace quorvane {

// Never selected on processors without AVX2 (GostFast::Supported says no).
void GostAvx2Run(std::uint8_t*, std::size_t, int, const std::uint32_t*, const SubstitutionTable&) {
    std::abort();
}

}  // namespace quorvane

#endif
