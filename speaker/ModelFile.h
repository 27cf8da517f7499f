#pragma once

// ModelFile: a registered user's three phrase codebooks and acceptance threshold,
// as stored (encrypted) in the user's speaker file.
//
// Byte layout (binary, little-endian, no header, no padding):
//
//   offset  size             field
//   0       4                phrase1Count   int32, filled codewords of phrase codebook 1 (0..64)
//   4       88 * phrase1Count phrase1 rows  phrase1Count rows of 22 float32, in codebook index
//   order
//   ...     4                phrase2Count   int32
//   ...     88 * phrase2Count phrase2 rows
//   ...     4                phrase3Count   int32
//   ...     88 * phrase3Count phrase3 rows
//   ...     4                threshold      float32, the user's acceptance threshold
//
// Size: 16 + 88 * (phrase1Count + phrase2Count + phrase3Count) bytes. Only filled
// codewords (memberCount > 0) are stored, so a count may be below the trained
// codewordCount. A file whose counts lie outside 0..64, whose length does not match
// its counts, or which holds a value that is not a finite number is damaged and is
// rejected as a whole: nothing is half-loaded.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"

namespace quorvane {

// Codebooks in a model file, one per enrolment phrase.
inline constexpr std::int32_t kModelPhraseCount = 3;
// Floats per stored codeword row; fixed by the format (the cepstrum order).
inline constexpr std::int32_t kModelRowLength = 22;
// Bytes of one stored row: 22 float32.
inline constexpr std::size_t kModelRowBytes = 4 * kModelRowLength;
// Bytes of the three counts and the threshold.
inline constexpr std::size_t kModelFixedBytes = 4 * (kModelPhraseCount + 1);
// Largest valid model file: three codebooks of 64 rows (16 + 88 * 192 = 16912 bytes).
inline constexpr std::size_t kModelFileMaxBytes =
    kModelFixedBytes + kModelRowBytes * kModelPhraseCount * kMaxCodewords;

// Message of a model file that cannot be created or opened.
inline constexpr const char* kErrorOpeningFilesMessage = "Error with opening files";

// Entries 0 .. codewordCount-1 of codebook.codewords with memberCount above 0
// (0 for an untrained codebook).
[[nodiscard]] std::int32_t CountFilledCodewords(const VoiceCodebook& codebook);

// The cepstrumOrder values of each filled codeword, in index order, as consecutive
// rows of one flat array (CountFilledCodewords * cepstrumOrder floats).
[[nodiscard]] std::vector<float> ExportCodewords(const VoiceCodebook& codebook);

// Rebuilds `codebook` from `count` rows of `dimension` floats: ReleaseCodebook, then
// maxCodewords = codewordCount = count, cepstrumOrder = dimension, entry i a copy of
// row i with label i and memberCount 1 (so every entry counts as filled). vectors
// stays none. `rows` must hold at least count * dimension floats; it is not kept.
void ImportCodewords(VoiceCodebook& codebook, std::span<const float> rows, std::int32_t count,
                     std::int32_t dimension);

// The model file bytes for the given codebooks (always three) and threshold.
[[nodiscard]] std::vector<std::uint8_t> SerialiseModelFile(std::span<const VoiceCodebook> codebooks,
                                                           float threshold);

// Parses model file bytes into `codebooks` (their earlier content is replaced) and
// `threshold`. Returns false for a damaged file (see the layout above), and then
// leaves `codebooks` and `threshold` unchanged.
[[nodiscard]] bool ParseModelFile(std::span<const std::uint8_t> bytes,
                                  std::span<VoiceCodebook> codebooks, float& threshold);

// Writes a plain model file atomically (temporary file in the same folder, then
// rename). On failure reports kErrorOpeningFilesMessage and returns false; an
// existing file at `path` is then left as it was.
[[nodiscard]] bool WriteModelFile(const std::filesystem::path& path,
                                  std::span<const VoiceCodebook> codebooks, float threshold,
                                  Notifier& notifier);

// Reads a plain model file. A file that cannot be opened, or a damaged one, reports
// kErrorOpeningFilesMessage and returns false, leaving the arguments unchanged.
[[nodiscard]] bool ReadModelFile(const std::filesystem::path& path,
                                 std::span<VoiceCodebook> codebooks, float& threshold,
                                 Notifier& notifier);

}  // namespace quorvane
