#pragma once

// The encoded file: the one encrypted format of the program, used for users' ".crp" files and
// for the speaker files.
//
// Byte layout (all header text is ASCII, line ends are single LF bytes 0x0A):
//
//   marker    LF   the owner token: 1..999 bytes, none of them white space
//   blockCount LF  number of 8-byte cipher blocks, decimal digits, no sign, no leading zeros
//   padCount  LF   zero bytes added to fill the last block, one digit 0..7 (0 when blockCount is 0)
//   cipher data    blockCount * 8 bytes, right after the third LF
//   trailer        72 bytes, right after the last cipher block:
//     magic        8 bytes "QVTAG02\n" (kTrailerMagic; "QVTAG01\n" in files of the previous
//                  release, kTrailerMagicV1, still read and verified)
//     key check    32 bytes, HMAC-SHA-256 over the header alone
//     file tag     32 bytes, HMAC-SHA-256 over the header and the chunk values of the cipher
//                  data (GMAC per 1 MiB in version 2, HMAC-SHA-256 in version 1)
//
// The plain data is the input followed by padCount zero bytes; the input's length is
// blockCount * 8 - padCount. Cipher block i is plain block i (two little-endian 32-bit words)
// enciphered three times in a row with GostEncryptBlock under the same key and table, stored
// as two little-endian words. The mode is electronic codebook: no chaining, no salt.
//
// The trailer's key and the constructions of the key check and the file tag are described in
// cipher/FileTag.h and docs/FORMAT.md; the tag key is derived from the file's key and table.
// Readers that know nothing of the trailer still read these files: bytes after the last block
// are ignored. Files without a trailer (earlier versions, other programs) cannot confirm the
// key: decoding refuses them unless the caller allows it.
//
// The trailer is looked for only at the end of the cipher data as the header states it
// (header length + blockCount * 8), never at the end of the file, so a file of an earlier
// version whose last cipher bytes happen to read like the magic is still untagged. What
// follows the cipher data decides (LocateTrailer):
//   - nothing: no trailer;
//   - bytes that begin with the magic (or with its first bytes, when fewer than 8 follow), or
//     exactly 72 bytes whatever they hold (a trailer whose magic was damaged): a trailer, which
//     must be exactly 72 bytes; a trailer cut or extended, or whose magic, key check or file tag
//     does not match, is refused as a whole;
//   - other bytes: no trailer; they are ignored, as earlier readers ignored them.
//
// The header's text is cipher/EncodedHeader.h's, the check values cipher/FileTag.h's; the
// readers of the whole file are cipher/EncodedReader.h (from a file or from memory).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "cipher/FileTag.h"

namespace quorvane {

inline constexpr int kEncryptionPasses = 3;  // each block is enciphered three times
// The magic of the trailer written now (version 2), and that of the previous release.
inline constexpr std::array<std::uint8_t, 8> kTrailerMagic = {'Q', 'V', 'T', 'A',
                                                              'G', '0', '2', '\n'};
inline constexpr std::array<std::uint8_t, 8> kTrailerMagicV1 = {'Q', 'V', 'T', 'A',
                                                                'G', '0', '1', '\n'};
inline constexpr std::size_t kTrailerMagicBytes = kTrailerMagic.size();
inline constexpr std::size_t kTrailerBytes = kTrailerMagicBytes + 2 * kTagBytes;  // 72

using Trailer = std::array<std::uint8_t, kTrailerBytes>;

// The trailer version whose magic `bytes` are (8 bytes), or none.
[[nodiscard]] std::optional<TrailerVersion> TrailerMagicVersion(
    std::span<const std::uint8_t> bytes);
// Whether `bytes` (at most 8) are the start of a trailer's magic, of either version.
[[nodiscard]] bool StartsLikeTrailerMagic(std::span<const std::uint8_t> bytes);

// The trailer of a version with its key check and file tag.
[[nodiscard]] Trailer MakeTrailer(TrailerVersion version, const Tag& keyCheck, const Tag& fileTag);
[[nodiscard]] std::span<const std::uint8_t, kTagBytes> TrailerKeyCheck(const Trailer& trailer);
[[nodiscard]] std::span<const std::uint8_t, kTagBytes> TrailerFileTag(const Trailer& trailer);

// What the bytes after the cipher data make of a file.
enum class TrailerPlace {
    None,     // no trailer: nothing follows, or bytes that are not one (ignored)
    Whole,    // a trailer of 72 bytes with a known magic
    Damaged,  // a trailer cut, extended or with a damaged magic
};
struct TrailerFound {
    TrailerPlace place = TrailerPlace::None;
    TrailerVersion version = kLatestTrailer;  // when Whole
};
// Decides from `extra`, the count of bytes after the cipher data, and `first`, the first
// min(extra, 72) of them.
[[nodiscard]] TrailerFound LocateTrailer(std::uint64_t extra, std::span<const std::uint8_t> first);

}  // namespace quorvane
