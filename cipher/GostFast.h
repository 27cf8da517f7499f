#pragma once

#include <cstdint>
#include <span>

#include "cipher/Gost.h"

namespace quorvane {

// How GostFast runs the cipher. Every path gives the same bytes as GostEncryptBlock and
// GostDecryptBlock; they differ only in speed.
enum class GostPath {
    Portable,  // table-driven rounds, eight blocks interleaved; runs everywhere
    Avx2,      // 32 blocks at once, nibbles substituted with byte shuffles; needs AVX2
    Avx512,    // the same on 64 blocks; needs AVX-512 F and BW
};

// "portable", "AVX2" or "AVX-512", for reports.
[[nodiscard]] const char* GostPathName(GostPath path);

// The block cipher prepared for one key and table, for enciphering many blocks at once.
// Blocks are 8 bytes laid out as in Gost.h (two little-endian words, word 0 = N1).
// Immutable after construction; any thread may use one object at the same time.
class GostFast final {
public:
    // Uses the fastest path this processor supports.
    GostFast(const GostKey& key, const SubstitutionTable& table);
    // Uses the given path, or the portable one when the processor lacks it.
    GostFast(const GostKey& key, const SubstitutionTable& table, GostPath path);
    // The prepared round keys are the key itself: wiped when done.
    ~GostFast();
    GostFast(const GostFast&) = default;
    GostFast& operator=(const GostFast&) = default;

    [[nodiscard]] static bool Supported(GostPath path);
    [[nodiscard]] static GostPath Best();
    [[nodiscard]] GostPath Path() const { return path_; }

    // Enciphers each whole 8-byte block of data in place, passes times in a row (passes >= 1),
    // as repeated GostEncryptBlock calls would. Bytes after the last whole block are untouched.
    void Encrypt(std::span<std::uint8_t> data, int passes) const;
    // The inverse: passes times GostDecryptBlock.
    void Decrypt(std::span<std::uint8_t> data, int passes) const;

    // The 32 key words in round order, and the substitution folded with the rotation by 11 for
    // each byte of the round input (the portable path's tables).
    struct Prepared {
        std::uint32_t encryptKeys[kGostRounds];
        std::uint32_t decryptKeys[kGostRounds];
        std::uint32_t byteRound[4][256];
        SubstitutionTable table;
    };

private:
    void Run(std::span<std::uint8_t> data, int passes, const std::uint32_t* keys) const;

    Prepared prepared_;
    GostPath path_;
};

}  // namespace quorvane
