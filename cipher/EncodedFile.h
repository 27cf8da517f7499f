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
// key: decoding refuses them (CodingStatus::Unverified) unless CodingOptions::allowUnverified
// is given, and then decodes them with CodingResult::tagVerified false.
//
// The trailer is looked for only at the end of the cipher data as the header states it
// (header length + blockCount * 8), never at the end of the file, so a file of an earlier
// version whose last cipher bytes happen to read like the magic is still untagged. What
// follows the cipher data decides:
//   - nothing: no trailer;
//   - bytes that begin with the magic (or with its first bytes, when fewer than 8 follow), or
//     exactly 72 bytes whatever they hold (a trailer whose magic was damaged): a trailer, which
//     must be exactly 72 bytes; a trailer cut or extended, or whose magic, key check or file tag
//     does not match, is refused as a whole (CodingStatus::WrongKeyOrDamaged);
//   - other bytes: no trailer; they are ignored, as earlier readers ignored them.
//
// Decoding a file with a trailer checks the key check first (a wrong key is told before any
// byte is deciphered), then the file tag while deciphering into a temporary file; the output is
// committed only when the tag matches.
//
// Encoding reads its input as a stream whose length is checked: a regular file is measured
// (size, modification and change times, device and inode) when opened and again after the
// last read, and one more byte is asked for at the end; any difference fails the file with
// CodingStatus::InputChanged. An input that reports size 0 (pseudo-files such as /proc/cpuinfo)
// is measured by reading it into memory, up to 64 MiB.
//
// Writing is atomic (files/AtomicFile.h): the output is written to a uniquely named,
// owner-only temporary file in the output's folder and renamed to the output only when every
// write and the close succeeded; the folder is flushed before the result is Done. An existing
// output that is not a regular file (a folder, a pipe, a device) is refused. On failure an
// existing output is left as it was and nothing else remains.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cipher/EncodedHeader.h"
#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/ByteProgress.h"

namespace quorvane {

inline constexpr int kEncryptionPasses = 3;  // each block is enciphered three times
// The magic of the trailer written now (version 2), and that of the previous release.
inline constexpr std::array<std::uint8_t, 8> kTrailerMagic = {'Q', 'V', 'T', 'A',
                                                              'G', '0', '2', '\n'};
inline constexpr std::array<std::uint8_t, 8> kTrailerMagicV1 = {'Q', 'V', 'T', 'A',
                                                                'G', '0', '1', '\n'};
inline constexpr std::size_t kTrailerBytes = kTrailerMagic.size() + 2 * kTagBytes;  // 72

// The trailer version whose magic `bytes` are (8 bytes), or none.
[[nodiscard]] std::optional<TrailerVersion> TrailerMagicVersion(
    std::span<const std::uint8_t> bytes);
// Whether `bytes` (at most 8) are the start of a trailer's magic, of either version.
[[nodiscard]] bool StartsLikeTrailerMagic(std::span<const std::uint8_t> bytes);

enum class CodingStatus {
    Done,             // output complete (decoding: plain data committed)
    InputUnreadable,  // cannot open/read the input (error holds why); also a folder, FIFO or device
                      // as input
    NotEncoded,       // marker mismatch, or a header that does not parse (error: a HeaderError
                      // naming the field when the marker matched)
    Truncated,        // fewer cipher bytes than the header promises
    WrongKeyOrDamaged,  // the trailer's key check or tag does not match
    OutputExists,       // NoReplace and the target exists
    OutputUnwritable,   // cannot create/write/commit the output (error holds why); also output is a
                        // folder
    SameFile,      // output resolves to the input (std::filesystem::equivalent, links included)
    BadMarker,     // encoding: marker empty, too long or with white space
    Unverified,    // decoding: the file carries no check value and CodingOptions::allowUnverified
                   // was not given; nothing written
    InputChanged,  // the input changed while it was read (size, times or identity), or held
                   // more bytes than were measured; nothing written
    Cancelled      // CodingOptions::cancelled said stop; nothing of this file written
};

struct CodingOptions {
    OutputMode mode = OutputMode::Replace;
    ProgressFn progress;
    // Decoding: also decode a file that carries no check value (its key cannot be confirmed).
    bool allowUnverified = false;
    // Asked between chunks; true stops the file with CodingStatus::Cancelled, leaving nothing.
    std::function<bool()> cancelled = {};
};

struct CodingResult {
    CodingStatus status = CodingStatus::InputUnreadable;
    bool tagVerified = false;  // decoding: the file's own trailer verified the key
    bool tagged = false;       // decoding: the file carries a trailer
    std::error_code error;     // the system's reason for I/O failures
    std::vector<std::filesystem::path>
        staleRemoved;  // left-over temporaries removed from the output folder
    [[nodiscard]] bool ok() const { return status == CodingStatus::Done; }
};

// Encodes the file at input into output under marker, with the trailer.
[[nodiscard]] CodingResult EncodeFileChecked(const std::filesystem::path& input,
                                             const std::filesystem::path& output,
                                             std::string_view marker, const GostKey& key,
                                             const SubstitutionTable& table,
                                             const CodingOptions& options = {});

// Decodes the encoded file at input into output. Done only when the marker matches, the whole
// cipher data is there, the trailer verifies (or, without one, options.allowUnverified was
// given: otherwise Unverified) and the plain data is committed.
[[nodiscard]] CodingResult DecodeFileChecked(const std::filesystem::path& input,
                                             const std::filesystem::path& output,
                                             std::string_view marker, const GostKey& key,
                                             const SubstitutionTable& table,
                                             const CodingOptions& options = {});

// Tests a key against a file without writing anything: Done with tagVerified when the whole tag
// verifies, Done with tagged=false for an untagged file (cannot be checked), WrongKeyOrDamaged
// on mismatch, NotEncoded etc.
[[nodiscard]] CodingResult CheckEncodedFile(const std::filesystem::path& input,
                                            std::string_view marker, const GostKey& key,
                                            const SubstitutionTable& table);

// Tests a key against the file's key check alone (the header and the trailer; no cipher data is
// read, so it takes no longer for a large file): Done with tagged when the key check verifies,
// Done without tagged for a file without a check value (its key cannot be tested here),
// WrongKeyOrDamaged, NotEncoded, Truncated or InputUnreadable as decoding would say.
[[nodiscard]] CodingResult CheckEncodedKey(const std::filesystem::path& input,
                                           std::string_view marker, const GostKey& key,
                                           const SubstitutionTable& table);

// A one-line English reason for a failed result, naming the system's reason where there is one
// ("wrong key or damaged file", "no space left on device", "permission denied", "is a folder").
[[nodiscard]] std::string DescribeFailure(const CodingResult& result);

// EncodeFileChecked for bytes held in memory, with the permissions of the new file.
[[nodiscard]] CodingResult EncodeBufferChecked(std::span<const std::uint8_t> plain,
                                               const std::filesystem::path& output,
                                               std::string_view marker, const GostKey& key,
                                               const SubstitutionTable& table, OutputMode mode,
                                               FilePrivacy privacy);

// The formats of earlier versions: without the trailer, or with the trailer of the previous
// release. For compatibility tests and for measuring what the trailer costs; the program itself
// always writes the latest trailer.
[[nodiscard]] CodingResult EncodeFileWithTrailerVersion(const std::filesystem::path& input,
                                                        const std::filesystem::path& output,
                                                        std::string_view marker, const GostKey& key,
                                                        const SubstitutionTable& table,
                                                        TrailerVersion version,
                                                        const CodingOptions& options = {});
[[nodiscard]] CodingResult EncodeFileWithoutTrailer(const std::filesystem::path& input,
                                                    const std::filesystem::path& output,
                                                    std::string_view marker, const GostKey& key,
                                                    const SubstitutionTable& table,
                                                    const CodingOptions& options = {});

// DecodeFileChecked into memory. Refuses (OutputUnwritable, file_too_large) a file whose plain
// data would be longer than maxBytes. On failure plain is empty. Of the options, only
// allowUnverified, progress and cancelled apply.
[[nodiscard]] CodingResult DecodeToBufferChecked(const std::filesystem::path& input,
                                                 std::string_view marker, const GostKey& key,
                                                 const SubstitutionTable& table,
                                                 std::vector<std::uint8_t>& plain,
                                                 std::uint64_t maxBytes,
                                                 const CodingOptions& options = {});

// ReadMarker is declared in cipher/EncodedHeader.h.

// InstallTemporaryCleanup() and RemoveLiveTemporaries() are declared in files/AtomicFile.h.

}  // namespace quorvane
