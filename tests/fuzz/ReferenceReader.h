#pragma once

// A reader of encoded files written for the fuzz targets on its own, from the byte layout in
// docs/FORMAT.md rather than from the program's code: the header, the length, where a trailer
// is and what it must hold in either version (HMAC-SHA-256 and GMAC-AES-128 computed here
// directly with libgcrypt), and the plain
// data (deciphered block by block with GostDecryptBlock). The targets require the program's
// readers to decide exactly as it does on every input. It holds the whole file in memory, so
// the inputs stay far below the program's 64 KiB header window.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"

namespace quorvane::fuzz {

// What a reading decides, in the words of the format: the program's readers tell a wrong key
// from damage (CipherError::WrongKey, Damaged), which the format cannot.
enum class Verdict { Decoded, NotEncoded, Truncated, WrongKeyOrDamaged, Unverified, Other };

// The verdict of one of the program's readers.
[[nodiscard]] Verdict VerdictOf(const Failure& failure);

// What one of the program's readers decided: the verdict, the code of a failure, and what a
// success reported (a decoding delivers a file with a trailer only verified, so for the readers
// into memory tagged is tagVerified).
struct Decision {
    Verdict verdict = Verdict::Other;
    std::error_code code;
    bool tagged = false;
    bool tagVerified = false;
    [[nodiscard]] bool operator==(const Decision&) const = default;
};
[[nodiscard]] Decision DecisionOf(const Result<Coded>& result);
[[nodiscard]] Decision DecisionOf(const Result<DecodedBuffer<std::vector<std::uint8_t>>>& result);

struct ReferenceResult {
    Verdict status = Verdict::NotEncoded;
    bool refusedAtOpen = false;  // refused before any byte is deciphered: header, length,
                                 // trailer's length, key check, or no trailer
    bool tagged = false;         // the file counts as carrying a trailer (intact or not)
    bool tagVerified = false;
    std::uint64_t plainBytes = 0;     // the header's plain length, when the header parses
    std::vector<std::uint8_t> plain;  // the plain data, when status is Decoded
    // Whether a reader decided as this: the same verdict and, on success, the same report.
    [[nodiscard]] bool Matches(const Decision& decision) const {
        return decision.verdict == status &&
               (status != Verdict::Decoded ||
                (decision.tagged == tagged && decision.tagVerified == tagVerified));
    }
};

// The first white-space-delimited token (leading white space skipped), at most
// kMaxMarkerLength bytes; false when there is none or it is longer.
[[nodiscard]] bool ReferenceToken(std::span<const std::uint8_t> bytes, std::string& token);

// What decoding the bytes under marker, key and table must give; a file without a trailer is
// refused (Unverified) unless allowUnverified.
[[nodiscard]] ReferenceResult ReferenceRead(std::span<const std::uint8_t> bytes,
                                            std::string_view marker, const GostKey& key,
                                            const SubstitutionTable& table, bool allowUnverified);

}  // namespace quorvane::fuzz
