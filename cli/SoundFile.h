#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "files/Result.h"

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
// A failure names the file and says why with a SoundFileError; libsndfile's and
// libsamplerate's own words, and an unusable sampling rate, are its detail.
[[nodiscard]] Result<std::vector<std::int16_t>> ReadSoundFile(
    const std::filesystem::path& path, std::size_t maxSamples = kMaxSoundFileSamples);

// Why a sound file was refused, or a recording file not taken (ReadRecordingFile).
enum class SoundFileError {
    NoSuchFile = 1,
    IsFolder,
    NotRegularFile,      // a pipe or a device, which would block the reader or never end
    NotSoundFile,        // libsndfile cannot open it; detail: libsndfile's reason
    NoChannels,          // the header gives no channels or no sampling rate
    TooLong,             // more than the limit once converted (one hour by default)
    ReadError,           // detail: libsndfile's reason
    RateNotConvertible,  // detail: the file's sampling rate in Hz
    ConversionFailed,    // detail: libsamplerate's reason
    NotRecorded,         // nothing in it counts as recorded by the level checks
};
[[nodiscard]] const std::error_category& SoundFileErrorCategory();
[[nodiscard]] std::error_code MakeError(SoundFileError error);

// A failure of ReadSoundFile or ReadRecordingFile as the one line the user reads: the file,
// then why ("FILE: no such file", "FILE: not a readable sound file (...)",
// "FILE: The sound was not recorded").
[[nodiscard]] std::string SoundFileProblemText(const Failure& failure);

}  // namespace quorvane
