#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "files/Result.h"
#include "workflow/Enrolment.h"  // LevelCheckResult

namespace quorvane {

// A sound file taken as a fresh recording: its samples as the program would have
// recorded them, and the level checks of a recording made with the Record button.
struct RecordingFile {
    std::vector<std::int16_t> samples;
    LevelCheckResult level;

    // The part of the samples the level checks kept (valid while `samples` lives).
    [[nodiscard]] std::span<const std::int16_t> Recorded() const;
};

// Reads `path` (see ReadSoundFile) and applies the level checks. Fails when the file
// cannot be read (ReadSoundFile's failure) or nothing in it counts as recorded
// (SoundFileError::NotRecorded); SoundFileProblemText words either.
// A recording the checks refuse is returned: the caller decides what a warning means.
[[nodiscard]] Result<RecordingFile> ReadRecordingFile(const std::filesystem::path& path);

}  // namespace quorvane
