#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

// Reads `path` (see ReadSoundFile) and applies the level checks. Returns false when
// the file cannot be read or nothing in it counts as recorded, with `error` set to
// one line: the reader's own, or `where` followed by kSoundNotRecordedText.
// A recording the checks refuse is returned: the caller decides what a warning means.
[[nodiscard]] bool ReadRecordingFile(const std::filesystem::path& path, std::string_view where,
                                     RecordingFile& recording, std::string& error);

}  // namespace quorvane
