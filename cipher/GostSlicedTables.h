#pragma once

#include <array>
#include <cstdint>

#include "cipher/Gost.h"

namespace quorvane {

// The shuffle tables of the byte-sliced SIMD kernels (GostFastAvx2.cpp, GostFastAvx512.cpp).
// There a register holds one byte position of many blocks, so every byte of it needs the same
// substitution rows and one byte shuffle substitutes a nibble in all of them. The rotation by
// 11 is folded into three tables per byte position: byte j of the round value is
//   P[j-1][lo(j-1)] | Q[j-1][hi(j-1)] | R[j-2][hi(j-2)]     (byte positions modulo 4)
// where lo(k), hi(k) are the nibbles of input byte k and, with S = the table rows,
//   P[k][i] = S[2k][i] << 3,  Q[k][i] = (S[2k+1][i] & 1) << 7,  R[k][i] = S[2k+1][i] >> 1.
enum class SlicedPart { P, Q, R };

// The 16 bytes of table `part` for byte position k (0..3).
inline std::array<std::uint8_t, 16> SlicedTableBytes(const SubstitutionTable& table, int k,
                                                     SlicedPart part) {
    const int row = part == SlicedPart::P ? 2 * k : 2 * k + 1;
    std::array<std::uint8_t, 16> bytes{};
    for (int i = 0; i < 16; ++i) {
        const unsigned s = table[kGostTableRowSize * row + i];
        bytes[i] = static_cast<std::uint8_t>(part == SlicedPart::P   ? s << 3
                                             : part == SlicedPart::Q ? (s & 1u) << 7
                                                                     : s >> 1);
    }
    return bytes;
}

}  // namespace quorvane
