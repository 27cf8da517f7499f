#include "cipher/Gost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cipher/GostFast.h"
#include "tests/cipher/VectorFile.h"

namespace quorvane {
namespace {

using test_vectors::Hex;
using test_vectors::ReadVectorFile;
using test_vectors::VectorRecord;

SubstitutionTable TableFromHex(const std::string& text) {
    SubstitutionTable table{};
    std::size_t n = 0;
    for (const char c : text) {
        if (c != ' ') {
            table.at(n++) = static_cast<std::uint8_t>(Hex(std::string(1, c)));
        }
    }
    EXPECT_EQ(n, table.size());
    return table;
}

SubstitutionTable IdentityTable() {
    SubstitutionTable table{};
    for (std::size_t i = 0; i < table.size(); ++i) {
        table[i] = static_cast<std::uint8_t>(i % 16);
    }
    return table;
}

SubstitutionTable RandomTable(std::mt19937_64& rng) {
    SubstitutionTable table{};
    for (int r = 0; r < kGostTableRows; ++r) {
        std::array<std::uint8_t, 16> row{};
        std::iota(row.begin(), row.end(), std::uint8_t{0});
        std::shuffle(row.begin(), row.end(), rng);
        std::copy(row.begin(), row.end(), table.begin() + 16 * r);
    }
    return table;
}

GostKey RandomKey(std::mt19937_64& rng) {
    GostKey key{};
    for (auto& k : key) {
        k = static_cast<std::uint32_t>(rng());
    }
    return key;
}

// The published example of GOST R 34.12-2015 checks the nibble order, the rotation, the key
// schedule and the word order together.
class MagmaVectors : public ::testing::Test {
protected:
    void SetUp() override {
        records_ = ReadVectorFile("gost_magma.vec");
        ASSERT_FALSE(records_.empty());
        ASSERT_TRUE(records_[0].count("Table"));
        table_ = TableFromHex(records_[0]["Table"]);
        ASSERT_TRUE(IsValidSubstitutionTable(table_));
    }
    std::vector<VectorRecord> records_;
    SubstitutionTable table_{};
};

TEST_F(MagmaVectors, RoundFunction) {
    int checked = 0;
    for (auto& r : records_) {
        if (r.count("K") && r.count("A")) {
            const auto k = static_cast<std::uint32_t>(Hex(r["K"]));
            const auto a = static_cast<std::uint32_t>(Hex(r["A"]));
            EXPECT_EQ(GostRound(a + k, table_), Hex(r["Out"])) << r["K"] << " " << r["A"];
            ++checked;
        }
    }
    EXPECT_EQ(checked, 4);
}

TEST_F(MagmaVectors, BlockBothDirectionsInPlaceAndSeparate) {
    int checked = 0;
    for (auto& r : records_) {
        if (!r.count("Key")) {
            continue;
        }
        const std::string keyHex = r["Key"];
        ASSERT_EQ(keyHex.size(), 64u);
        GostKey key{};
        for (int i = 0; i < 8; ++i) {
            key[i] = static_cast<std::uint32_t>(Hex(keyHex.substr(8 * i, 8)));
        }
        const std::uint64_t plain = Hex(r["In"]);
        const std::uint64_t cipher = Hex(r["Out"]);
        const std::uint32_t in[2] = {static_cast<std::uint32_t>(plain),
                                     static_cast<std::uint32_t>(plain >> 32)};
        std::uint32_t out[2] = {0, 0};
        GostEncryptBlock(in, out, key, table_);
        EXPECT_EQ(out[0], static_cast<std::uint32_t>(cipher));
        EXPECT_EQ(out[1], static_cast<std::uint32_t>(cipher >> 32));

        std::uint32_t inPlace[2] = {in[0], in[1]};
        GostEncryptBlock(inPlace, inPlace, key, table_);
        EXPECT_EQ(inPlace[0], out[0]);
        EXPECT_EQ(inPlace[1], out[1]);

        std::uint32_t back[2] = {0, 0};
        GostDecryptBlock(out, back, key, table_);
        EXPECT_EQ(back[0], in[0]);
        EXPECT_EQ(back[1], in[1]);
        GostDecryptBlock(inPlace, inPlace, key, table_);
        EXPECT_EQ(inPlace[0], in[0]);
        EXPECT_EQ(inPlace[1], in[1]);

        // The same through every fast path, as bytes (little-endian words).
        for (const GostPath path : {GostPath::Portable, GostPath::Avx2, GostPath::Avx512}) {
            if (!GostFast::Supported(path)) {
                continue;
            }
            const GostFast fast(key, table_, path);
            std::vector<std::uint8_t> bytes(8 * 101);  // 64 + 32 + 4 + 1: every kernel runs
            for (std::size_t b = 0; b < bytes.size(); ++b) {
                bytes[b] = static_cast<std::uint8_t>(plain >> (8 * (b % 8)));
            }
            fast.Encrypt(bytes, 1);
            for (std::size_t b = 0; b < bytes.size(); ++b) {
                ASSERT_EQ(bytes[b], static_cast<std::uint8_t>(cipher >> (8 * (b % 8))))
                    << "path " << static_cast<int>(path) << " byte " << b;
            }
            fast.Decrypt(bytes, 1);
            for (std::size_t b = 0; b < bytes.size(); ++b) {
                ASSERT_EQ(bytes[b], static_cast<std::uint8_t>(plain >> (8 * (b % 8))));
            }
        }
        ++checked;
    }
    EXPECT_EQ(checked, 1);
}

TEST(GostRound, IdentityTableIsRotationBy11) {
    const SubstitutionTable identity = IdentityTable();
    EXPECT_EQ(GostRound(0x00000001u, identity), 0x00000800u);
    EXPECT_EQ(GostRound(0x80000000u, identity), 0x00000400u);
    EXPECT_EQ(GostRound(0x12345678u, identity), 0xA2B3C091u);
    EXPECT_EQ(GostRound(0xFFFFFFFFu, identity), 0xFFFFFFFFu);
}

TEST(GostRound, RowZeroActsOnTheLowestNibble) {
    SubstitutionTable table = IdentityTable();
    for (int i = 0; i < 16; ++i) {
        table[i] = static_cast<std::uint8_t>((i + 1) % 16);  // row 0: add one
    }
    EXPECT_EQ(GostRound(0x00000000u, table), 0x00000800u);  // 0x1 rotated
    EXPECT_EQ(GostRound(0x00000010u, table), 0x00008800u);  // 0x11 rotated
    EXPECT_EQ(GostRound(0x0000000Fu, table), 0x00000000u);  // 0xF -> 0x0
    EXPECT_EQ(GostRound(0xF0000000u, table), GostRound(0xF0000000u, IdentityTable()) | 0x800u);
}

// The rounds written out once more from their description, with the key addition carried in
// 64 bits and cut to 32 by hand: an independent model for the carry and the schedules.
void ModelBlock(const std::uint32_t in[2], std::uint32_t out[2], const GostKey& key,
                const SubstitutionTable& table, bool decrypt) {
    std::uint64_t halves[2] = {in[0], in[1]};  // N1, N2
    for (int j = 0; j < 32; ++j) {
        int index = 0;
        if (!decrypt) {
            index = j < 24 ? j % 8 : 7 - (j - 24);
        } else {
            index = j < 8 ? j : 7 - (j - 8) % 8;
        }
        const std::uint64_t& source = halves[j % 2];
        const std::uint64_t sum = (source + key[index]) % 0x100000000ull;
        std::uint64_t sub = 0;
        for (int r = 0; r < 8; ++r) {
            sub += std::uint64_t{table[16 * r + ((sum >> (4 * r)) & 15)]} << (4 * r);
        }
        const std::uint64_t rotated = ((sub << 11) | (sub >> 21)) % 0x100000000ull;
        halves[1 - j % 2] ^= rotated;
    }
    out[0] = static_cast<std::uint32_t>(halves[1]);
    out[1] = static_cast<std::uint32_t>(halves[0]);
}

TEST(GostBlock, KeyAdditionDropsTheCarry) {
    std::mt19937_64 rng(11);
    const SubstitutionTable table = RandomTable(rng);
    // Halves and key words at the wrap-around, where every byte carries.
    const GostKey ones = {1, 1, 1, 1, 1, 1, 1, 1};
    const GostKey high = {0xFFFFFFFFu, 0x80000000u, 0xFF00FF01u, 0x00FFFFFFu,
                          0xFFFF0000u, 0x7FFFFFFFu, 0x01010101u, 0xFEFEFEFFu};
    for (const GostKey& key : {ones, high}) {
        for (const std::uint32_t n1 : {0xFFFFFFFFu, 0xFFFFFF00u, 0x00FFFFFFu, 0x80000000u}) {
            const std::uint32_t in[2] = {n1, 0xFFFFFFFFu};
            std::uint32_t expected[2];
            std::uint32_t actual[2];
            ModelBlock(in, expected, key, table, false);
            GostEncryptBlock(in, actual, key, table);
            EXPECT_EQ(actual[0], expected[0]);
            EXPECT_EQ(actual[1], expected[1]);
            ModelBlock(in, expected, key, table, true);
            GostDecryptBlock(in, actual, key, table);
            EXPECT_EQ(actual[0], expected[0]);
            EXPECT_EQ(actual[1], expected[1]);
        }
    }
    // (2^32 - 1) + 1 enters the round as 0.
    EXPECT_EQ(GostRound(0xFFFFFFFFu + 1u, table), GostRound(0u, table));
}

TEST(GostBlock, RandomKeysAndTablesRoundTripAndTripleRoundTrip) {
    std::mt19937_64 rng(3);
    for (int trial = 0; trial < 200; ++trial) {
        const GostKey key = RandomKey(rng);
        const SubstitutionTable table = RandomTable(rng);
        const std::uint32_t in[2] = {static_cast<std::uint32_t>(rng()),
                                     static_cast<std::uint32_t>(rng())};
        std::uint32_t separate[2];
        GostEncryptBlock(in, separate, key, table);
        std::uint32_t model[2];
        ModelBlock(in, model, key, table, false);
        ASSERT_EQ(separate[0], model[0]);
        ASSERT_EQ(separate[1], model[1]);

        std::uint32_t block[2] = {in[0], in[1]};
        for (int i = 0; i < 3; ++i) {
            GostEncryptBlock(block, block, key, table);
        }
        EXPECT_FALSE(block[0] == in[0] && block[1] == in[1]);
        for (int i = 0; i < 3; ++i) {
            GostDecryptBlock(block, block, key, table);
        }
        EXPECT_EQ(block[0], in[0]);
        EXPECT_EQ(block[1], in[1]);
    }
}

// Every fast path gives the bytes of the plain reference, for any key, table, length and
// number of passes.
TEST(GostFast, MatchesReferenceOnRandomData) {
    std::mt19937_64 rng(5);
    for (const GostPath path : {GostPath::Portable, GostPath::Avx2, GostPath::Avx512}) {
        if (!GostFast::Supported(path)) {
            std::cout << "path " << static_cast<int>(path) << " not supported here\n";
            continue;
        }
        for (int trial = 0; trial < 24; ++trial) {
            const GostKey key = RandomKey(rng);
            const SubstitutionTable table = RandomTable(rng);
            const GostFast fast(key, table, path);
            ASSERT_EQ(fast.Path(), path);
            // Short runs, and block counts that mix the wide groups (64, 32 blocks), the groups
            // of four and single blocks.
            static constexpr std::size_t kLongBlocks[12] = {103,  127, 64, 96, 131, 200,
                                                            1000, 33,  65, 97, 500, 385};
            const std::size_t length =
                (trial < 12 ? trial * 8 + trial % 8 : 8 * kLongBlocks[trial - 12]) + trial % 3;
            std::vector<std::uint8_t> plain(length);
            for (auto& b : plain) {
                b = static_cast<std::uint8_t>(rng());
            }
            if (trial % 4 == 0) {
                std::fill(plain.begin(), plain.begin() + static_cast<long>(plain.size() / 2), 0xFF);
            }
            const int passes = 1 + trial % 3;
            std::vector<std::uint8_t> expected = plain;
            for (std::size_t b = 0; b + 8 <= expected.size(); b += 8) {
                std::uint32_t w[2];
                std::memcpy(w, expected.data() + b, 8);  // little-endian host
                for (int p = 0; p < passes; ++p) {
                    GostEncryptBlock(w, w, key, table);
                }
                std::memcpy(expected.data() + b, w, 8);
            }
            std::vector<std::uint8_t> actual = plain;
            fast.Encrypt(actual, passes);
            ASSERT_EQ(actual, expected) << "path " << static_cast<int>(path) << " trial " << trial;
            fast.Decrypt(actual, passes);
            ASSERT_EQ(actual, plain) << "path " << static_cast<int>(path) << " trial " << trial;
        }
    }
}

// The fixed constants: valid, different, and exactly what the documented procedure draws
// (splitmix64 seeded with the 64-bit FNV-1a hash of a text; Fisher-Yates per row).
struct SplitMix {
    std::uint64_t state;
    std::uint64_t Next() {
        state += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
};

std::uint64_t Fnv1a(const std::string& text) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (const unsigned char c : text) {
        h = (h ^ c) * 0x100000001b3ull;
    }
    return h;
}

SubstitutionTable DrawTable(const std::string& seedText) {
    SplitMix g{Fnv1a(seedText)};
    SubstitutionTable table{};
    for (int r = 0; r < 8; ++r) {
        std::uint8_t row[16];
        std::iota(row, row + 16, std::uint8_t{0});
        for (int i = 15; i > 0; --i) {
            const auto j = static_cast<int>(g.Next() % static_cast<std::uint64_t>(i + 1));
            std::swap(row[i], row[j]);
        }
        std::copy(row, row + 16, table.begin() + 16 * r);
    }
    return table;
}

TEST(GostConstants, FrozenValuesFollowTheDocumentedProcedure) {
    EXPECT_TRUE(IsValidSubstitutionTable(FileSubstitutionTable));
    EXPECT_TRUE(IsValidSubstitutionTable(StoreSubstitutionTable));
    EXPECT_NE(FileSubstitutionTable, StoreSubstitutionTable);
    EXPECT_EQ(FileSubstitutionTable, DrawTable("Quorvane 1.1 file substitution table"));
    EXPECT_EQ(StoreSubstitutionTable, DrawTable("Quorvane 1.1 store substitution table"));
    SplitMix g{Fnv1a("Quorvane 1.1 store key")};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(StoreKey[i], static_cast<std::uint32_t>(g.Next())) << i;
    }
    const auto magma = TableFromHex(ReadVectorFile("gost_magma.vec").at(0)["Table"]);
    EXPECT_NE(FileSubstitutionTable, magma);
    EXPECT_NE(StoreSubstitutionTable, magma);
}

TEST(GostConstants, ValidityCheckRejectsRepeatedEntries) {
    SubstitutionTable table = IdentityTable();
    EXPECT_TRUE(IsValidSubstitutionTable(table));
    table[16 * 5 + 3] = 4;  // row 5 now holds 4 twice and no 3
    EXPECT_FALSE(IsValidSubstitutionTable(table));
    table = IdentityTable();
    table[0] = 16;
    EXPECT_FALSE(IsValidSubstitutionTable(table));
}

}  // namespace
}  // namespace quorvane
