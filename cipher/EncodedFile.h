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
//
// The plain data is the input followed by padCount zero bytes; the input's length is
// blockCount * 8 - padCount. Cipher block i is plain block i (two little-endian 32-bit words)
// enciphered three times in a row with GostEncryptBlock under the same key and table, stored
// as two little-endian words. The mode is electronic codebook: no chaining, no salt, no check
// value, so a wrong key is not detected. Bytes after the last block are ignored.
//
// Writing is atomic: the output is written to a uniquely named temporary file in the output's
// folder and renamed over the output only when every write and the close succeeded. On failure
// an existing output is left as it was and nothing else remains.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"

namespace quorvane {

inline constexpr char kHeaderSeparator = '\n';
inline constexpr std::size_t kMaxMarkerLength = 999;  // longest owner token a reader accepts
inline constexpr int kMaxPadCount = 7;
inline constexpr int kEncryptionPasses = 3;  // each block is enciphered three times

// Called now and then during long files (every few MiB, and once at the end) with the bytes
// done and the total, so callers can show progress. Runs on the calling thread.
using ProgressFn = std::function<void(std::uint64_t doneBytes, std::uint64_t totalBytes)>;

// Encodes the file at input into output under marker. Returns 1 when output holds the complete
// encoded file, 0 otherwise (input unreadable, marker empty, too long or holding white space,
// output not writable). An existing output is replaced only on success. input and output may
// name the same file.
[[nodiscard]] int EncodeFile(const std::filesystem::path& input,
                             const std::filesystem::path& output, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table,
                             const ProgressFn& progress = {});

// Decodes the encoded file at input into output. Returns 1 when the file's first token equals
// marker (byte for byte) and the whole plain data has been written, 0 otherwise: unreadable
// input, other marker, damaged header, fewer cipher bytes than the header promises, output not
// writable. Nothing is written on failure. A wrong key is not detected.
[[nodiscard]] int DecodeFile(const std::filesystem::path& input,
                             const std::filesystem::path& output, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table,
                             const ProgressFn& progress = {});

// EncodeFile for bytes held in memory.
[[nodiscard]] int EncodeBuffer(std::span<const std::uint8_t> plain,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table);

// DecodeFile into memory. Refuses (0, plain left empty) a file whose plain data would be longer
// than maxBytes. On failure plain is empty.
[[nodiscard]] int DecodeToBuffer(const std::filesystem::path& input, std::string_view marker,
                                 const GostKey& key, const SubstitutionTable& table,
                                 std::vector<std::uint8_t>& plain, std::uint64_t maxBytes);

// Reads the first white-space-delimited token of a file (leading white space skipped), as the
// owner's name of an encoded file is read. False when the file cannot be read, holds no token,
// or the token is longer than kMaxMarkerLength.
[[nodiscard]] bool ReadMarker(const std::filesystem::path& input, std::string& token);

}  // namespace quorvane
