#pragma once

#include <array>
#include <cstdint>

namespace quorvane {

// GOST 28147-89 in its simple substitution mode: one 64-bit block under a 256-bit key and a
// table of eight 4-bit substitution boxes.
//
// A block is two 32-bit words. Read from 8 bytes, word 0 is bytes 0-3 and word 1 bytes 4-7, both
// little-endian; word 0 (N1) enters the first round. Read as one little-endian 64-bit number,
// word 0 is the low half.

// Key words K0..K7 in this order.
using GostKey = std::array<std::uint32_t, 8>;

// Eight rows of 16 entries, one byte each: row r occupies bytes 16*r .. 16*r+15 and replaces
// nibble r of a 32-bit word (nibble 0 = bits 0-3, the least significant). Every row is a
// permutation of 0..15.
using SubstitutionTable = std::array<std::uint8_t, 128>;

inline constexpr int kGostTableRows = 8;
inline constexpr int kGostTableRowSize = 16;
inline constexpr int kGostRounds = 32;
inline constexpr int kGostBlockBytes = 8;

// The program's fixed constants. Every encoded file and every speaker file depends on them, so
// they never change; docs/FORMAT.md lists their values and how they were chosen.
extern const SubstitutionTable FileSubstitutionTable;   // users' encoded files
extern const SubstitutionTable StoreSubstitutionTable;  // speaker files, with StoreKey
extern const GostKey StoreKey;

// The round function: substitutes the eight nibbles of x (the half-block already added to a
// key word) by the table rows and rotates the result left by 11 bits.
[[nodiscard]] std::uint32_t GostRound(std::uint32_t x, const SubstitutionTable& table);

// Enciphers one block: out[0] = N2, out[1] = N1 after the 32 rounds. out may be in.
void GostEncryptBlock(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
                      const SubstitutionTable& table);

// Undoes GostEncryptBlock for the same key and table. out may be in.
void GostDecryptBlock(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
                      const SubstitutionTable& table);

// True when every row of the table is a permutation of 0..15.
[[nodiscard]] bool IsValidSubstitutionTable(const SubstitutionTable& table);

}  // namespace quorvane
