#pragma once

// The whole-file operations on encoded files: encoding a file or bytes in memory, decoding into
// a file or into memory, and testing a key. The format is cipher/EncodedFormat.h's; what they
// report and how they fail, cipher/Coded.h's; the work is done by cipher/EncodedWriter.h (with
// the measured input of cipher/MeasuredInput.h) and cipher/EncodedReader.h. Encoded bytes
// already in memory are decoded by cipher/EncodedBuffer.h.
//
// Decoding a file with a trailer checks the key check first (a wrong key is told before any
// byte is deciphered), then the file tag while deciphering into a temporary file; the output is
// committed only when the tag matches. An output that names the input itself is refused
// (CipherError::SameFile).
//
// None of them throws for a failure of its own: no memory for a buffer (not_enough_memory) and a
// failing library call (its own code) are failures of the output, or of the input for the
// operations that write nothing. What a caller's callback (progress, cancel) throws goes on to
// the caller, after the operation has cleaned up: no output is left half-written.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "cipher/Coded.h"
#include "cipher/EncodedBuffer.h"
#include "cipher/EncodedFormat.h"
#include "cipher/EncodedHeader.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/Result.h"

namespace quorvane {

// Encodes the file at input into output under marker, with the trailer.
[[nodiscard]] Status EncodeFileChecked(const std::filesystem::path& input,
                                       const std::filesystem::path& output, std::string_view marker,
                                       const GostKey& key, const SubstitutionTable& table,
                                       const CodingOptions& options = {});

// Decodes the encoded file at input into output. Succeeds only when the marker matches, the
// whole cipher data is there, the trailer verifies (or, without one, options.allowUnverified
// was given: otherwise CipherError::Unverified) and the plain data is committed.
[[nodiscard]] Result<Coded> DecodeFileChecked(const std::filesystem::path& input,
                                              const std::filesystem::path& output,
                                              std::string_view marker, const GostKey& key,
                                              const SubstitutionTable& table,
                                              const CodingOptions& options = {});

// Tests a key against a file without writing anything: tagVerified when the whole tag
// verifies, not tagged for an untagged file (cannot be checked); fails with WrongKey or
// Damaged on a mismatch, NotEncoded etc.
[[nodiscard]] Result<Coded> CheckEncodedFile(const std::filesystem::path& input,
                                             std::string_view marker, const GostKey& key,
                                             const SubstitutionTable& table);

// Tests a key against the file's key check alone (the header and the trailer; no cipher data is
// read, so it takes no longer for a large file): tagged when the key check verifies, not
// tagged for a file without a check value (its key cannot be tested here); fails with WrongKey,
// Damaged, NotEncoded, Truncated or the input's failure as decoding would.
[[nodiscard]] Result<Coded> CheckEncodedKey(const std::filesystem::path& input,
                                            std::string_view marker, const GostKey& key,
                                            const SubstitutionTable& table);

// EncodeFileChecked for bytes held in memory, with the permissions of the new file.
[[nodiscard]] Status EncodeBufferChecked(std::span<const std::uint8_t> plain,
                                         const std::filesystem::path& output,
                                         std::string_view marker, const GostKey& key,
                                         const SubstitutionTable& table, OutputMode mode,
                                         FilePrivacy privacy);

// DecodeFileChecked into memory. Refuses (CipherError::TooLarge) a file whose plain data would
// be longer than maxBytes. Of the options, only allowUnverified, progress and cancelled apply.
[[nodiscard]] Result<DecodedBuffer<std::vector<std::uint8_t>>> DecodeToBufferChecked(
    const std::filesystem::path& input, std::string_view marker, const GostKey& key,
    const SubstitutionTable& table, std::uint64_t maxBytes, const CodingOptions& options = {});

// ReadMarker is declared in cipher/EncodedHeader.h.

// InstallTemporaryCleanup() and RemoveLiveTemporaries() are declared in files/AtomicFile.h.

}  // namespace quorvane
