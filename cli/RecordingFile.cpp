#include "cli/RecordingFile.h"

#include <cstddef>

#include "cli/SoundFile.h"

namespace quorvane {

std::span<const std::int16_t> RecordingFile::Recorded() const {
    return std::span<const std::int16_t>(samples).subspan(static_cast<std::size_t>(level.first),
                                                          static_cast<std::size_t>(level.count));
}

bool ReadRecordingFile(const std::filesystem::path& path, std::string_view where,
                       RecordingFile& recording, std::string& error) {
    if (!ReadSoundFile(path, recording.samples, error)) {
        return false;
    }
    recording.level = CheckRecordingLevel(recording.samples);
    if (!recording.level.recorded) {
        error = std::string(where) + std::string(kSoundNotRecordedText);
        return false;
    }
    return true;
}

}  // namespace quorvane
