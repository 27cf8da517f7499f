#pragma once

// The operations on encoded files (layout in cipher/EncodedFormat.h), with their results
// (cipher/CodingResult.h).
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

#include "cipher/CodingResult.h"
#include "cipher/EncodedFormat.h"
#include "cipher/EncodedHeader.h"
#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/ByteProgress.h"

namespace quorvane {

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
