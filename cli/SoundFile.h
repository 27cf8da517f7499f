#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quorvane {

// Longest sound a file may give after conversion: one hour at 11025 Hz. The
// program itself keeps at most 30 seconds; this only bounds the memory a
// mistaken choice of file can take.
inline constexpr std::size_t kMaxSoundFileSamples = 3600u * 11025u;

// Reads a sound file in any format libsndfile knows (WAV, FLAC, OGG, AIFF, ...)
// as the program would have recorded it: 16-bit mono at 11025 Hz. Channels are
// mixed to mono by their mean, the rate is converted with libsamplerate at its
// best quality, and the result is rounded to the nearest integer and clipped
// to -32768 .. 32767. A file that already is 16-bit PCM mono at 11025 Hz is
// passed through sample for sample. A file whose header gives a length beyond
// maxSamples (once converted) is refused before any of it is read.
// On failure returns false, leaves samples empty and sets error to one line
// that names the file and says why ("FILE: no such file", "FILE: not a sound
// file (...)", ...).
[[nodiscard]] bool ReadSoundFile(const std::filesystem::path& path,
                                 std::vector<std::int16_t>& samples, std::string& error,
                                 std::size_t maxSamples = kMaxSoundFileSamples);

}  // namespace quorvane
