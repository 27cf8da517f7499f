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
// are ignored. Files without a trailer (earlier versions, other programs) still decode, but the
// key is then unconfirmed (CodingResult::tagVerified false).
//
// Decoding a file with a trailer checks the key check first (a wrong key is told before any
// byte is deciphered), then the file tag while deciphering into a temporary file; the output is
// committed only when the tag matches. A file counts as carrying a trailer when its last 72
// bytes start with the magic, or when exactly 72 bytes or a start of the magic follow the cipher
// data; such a file whose trailer does not verify is refused as a whole.
//
// Writing is atomic (files/AtomicFile.h): the output is written to a uniquely named,
// owner-only temporary file in the output's folder and renamed to the output only when every
// write and the close succeeded. On failure an existing output is left as it was and nothing
// else remains.

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

#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/ByteProgress.h"

namespace quorvane {

inline constexpr char kHeaderSeparator = '\n';
inline constexpr std::size_t kMaxMarkerLength = 999;  // longest owner token a reader accepts
inline constexpr int kMaxPadCount = 7;
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
    NotEncoded,       // marker mismatch, or a header that does not parse
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
// cipher data is there, the trailer (when present) verifies and the plain data is committed.
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

// Encodes the file at input into output under marker. Returns 1 when output holds the complete
// encoded file, 0 otherwise (input unreadable, marker empty, too long or holding white space,
// output not writable, output the input itself). An existing output is replaced only on
// success.
[[nodiscard]] int EncodeFile(const std::filesystem::path& input,
                             const std::filesystem::path& output, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table,
                             const ProgressFn& progress = {});

// Decodes the encoded file at input into output. Returns 1 when the file's first token equals
// marker (byte for byte), its trailer (if any) verifies and the whole plain data has been
// written, 0 otherwise: unreadable input, other marker, damaged header, fewer cipher bytes than
// the header promises, wrong key or damage found by the trailer, output not writable, output
// the input itself. Nothing is written on failure. A wrong key is not detected on files without
// a trailer.
[[nodiscard]] int DecodeFile(const std::filesystem::path& input,
                             const std::filesystem::path& output, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table,
                             const ProgressFn& progress = {});

// EncodeFile for bytes held in memory.
[[nodiscard]] int EncodeBuffer(std::span<const std::uint8_t> plain,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table);

// DecodeFile into memory, the trailer verified when present. Refuses (0, plain left empty) a
// file whose plain data would be longer than maxBytes. On failure plain is empty.
[[nodiscard]] int DecodeToBuffer(const std::filesystem::path& input, std::string_view marker,
                                 const GostKey& key, const SubstitutionTable& table,
                                 std::vector<std::uint8_t>& plain, std::uint64_t maxBytes);

// DecodeToBuffer with the full result (tagged, tagVerified).
[[nodiscard]] CodingResult DecodeToBufferChecked(const std::filesystem::path& input,
                                                 std::string_view marker, const GostKey& key,
                                                 const SubstitutionTable& table,
                                                 std::vector<std::uint8_t>& plain,
                                                 std::uint64_t maxBytes);

// Reads the first white-space-delimited token of a file (leading white space skipped), as the
// owner's name of an encoded file is read. False when the file cannot be read, holds no token,
// or the token is longer than kMaxMarkerLength.
[[nodiscard]] bool ReadMarker(const std::filesystem::path& input, std::string& token);

// InstallTemporaryCleanup() and RemoveLiveTemporaries() are declared in files/AtomicFile.h.

}  // namespace quorvane
