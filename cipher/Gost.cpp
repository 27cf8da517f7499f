#include "cipher/Gost.h"

namespace quorvane {

// The constants below were drawn once by the procedure recorded in docs/FORMAT.md (a splitmix64
// generator seeded with the FNV-1a hash of a fixed text, Fisher-Yates shuffles for the rows) and
// frozen: files written with them must stay readable.
const SubstitutionTable FileSubstitutionTable = {
    5,  9,  1,  6,  8,  0,  10, 14, 11, 3,  12, 13, 2,  4,  15, 7,   // row 0
    3,  10, 15, 11, 9,  8,  0,  1,  6,  13, 14, 7,  12, 2,  4,  5,   // row 1
    4,  6,  15, 0,  10, 7,  12, 14, 3,  1,  2,  11, 9,  8,  13, 5,   // row 2
    14, 10, 3,  12, 6,  0,  1,  2,  4,  13, 8,  7,  15, 9,  5,  11,  // row 3
    12, 2,  5,  0,  15, 6,  4,  11, 1,  3,  9,  7,  14, 13, 10, 8,   // row 4
    9,  1,  7,  13, 10, 11, 6,  4,  8,  0,  12, 14, 5,  15, 3,  2,   // row 5
    5,  3,  12, 1,  0,  9,  6,  4,  2,  7,  8,  14, 11, 13, 15, 10,  // row 6
    15, 8,  11, 4,  7,  1,  3,  9,  14, 6,  5,  0,  10, 13, 12, 2,   // row 7
};

const SubstitutionTable StoreSubstitutionTable = {
    0,  1,  10, 2,  7,  4,  12, 14, 13, 3,  11, 9,  15, 8,  5,  6,   // row 0
    5,  8,  9,  1,  14, 10, 3,  0,  13, 6,  4,  11, 15, 12, 2,  7,   // row 1
    1,  0,  10, 9,  2,  12, 15, 14, 3,  4,  13, 5,  8,  11, 6,  7,   // row 2
    15, 9,  7,  13, 10, 0,  6,  5,  3,  14, 2,  8,  4,  1,  11, 12,  // row 3
    13, 11, 15, 6,  2,  14, 7,  3,  12, 9,  0,  5,  4,  10, 1,  8,   // row 4
    4,  3,  15, 9,  5,  14, 1,  6,  2,  10, 13, 11, 0,  7,  8,  12,  // row 5
    8,  2,  11, 12, 5,  10, 9,  13, 15, 0,  6,  4,  14, 7,  1,  3,   // row 6
    8,  11, 0,  14, 4,  2,  3,  6,  15, 5,  10, 9,  13, 12, 7,  1,   // row 7
};

const GostKey StoreKey = {0x30ACBD6Cu, 0x593677F0u, 0xEEFD1784u, 0x57924A1Eu,
                          0xA9BFEA84u, 0xBF991A2Du, 0x9ADB4800u, 0x9C3FF038u};

namespace {

// Key word index for each of the 32 rounds.
constexpr std::array<int, kGostRounds> kEncryptSchedule = {
    0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0};
constexpr std::array<int, kGostRounds> kDecryptSchedule = {
    0, 1, 2, 3, 4, 5, 6, 7, 7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0, 7, 6, 5, 4, 3, 2, 1, 0};

void RunRounds(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
               const SubstitutionTable& table, const std::array<int, kGostRounds>& schedule) {
    std::uint32_t n1 = in[0];
    std::uint32_t n2 = in[1];
    // The halves take turns instead of being swapped, so nothing is swapped after round 32.
    for (int j = 0; j < kGostRounds; j += 2) {
        n2 ^= GostRound(n1 + key[schedule[j]], table);  // unsigned addition drops the carry
        n1 ^= GostRound(n2 + key[schedule[j + 1]], table);
    }
    out[0] = n2;
    out[1] = n1;
}

}  // namespace

std::uint32_t GostRound(std::uint32_t x, const SubstitutionTable& table) {
    std::uint32_t substituted = 0;
    for (int r = 0; r < kGostTableRows; ++r) {
        const std::uint32_t nibble = (x >> (4 * r)) & 0xFu;
        substituted |= std::uint32_t{table[kGostTableRowSize * r + nibble]} << (4 * r);
    }
    return (substituted << 11) | (substituted >> 21);
}

void GostEncryptBlock(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
                      const SubstitutionTable& table) {
    RunRounds(in, out, key, table, kEncryptSchedule);
}

void GostDecryptBlock(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
                      const SubstitutionTable& table) {
    RunRounds(in, out, key, table, kDecryptSchedule);
}

bool IsValidSubstitutionTable(const SubstitutionTable& table) {
    for (int r = 0; r < kGostTableRows; ++r) {
        unsigned seen = 0;
        for (int i = 0; i < kGostTableRowSize; ++i) {
            const unsigned v = table[kGostTableRowSize * r + i];
            if (v >= 16) {
                return false;
            }
            seen |= 1u << v;
        }
        if (seen != 0xFFFFu) {
            return false;
        }
    }
    return true;
}

}  // namespace quorvane
