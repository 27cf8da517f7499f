#include "cli/RecordingFile.h"

#include <cstddef>
#include <utility>

#include "cli/SoundFile.h"

namespace quorvane {

std::span<const std::int16_t> RecordingFile::Recorded() const {
    return std::span<const std::int16_t>(samples).subspan(static_cast<std::size_t>(level.first),
                                                          static_cast<std::size_t>(level.count));
}

Result<RecordingFile> ReadRecordingFile(const std::filesystem::path& path) {
    Result<std::vector<std::int16_t>> sound = ReadSoundFile(path);
    if (!sound) {
        return sound.error();
    }
    RecordingFile recording{std::move(*sound), {}};
    recording.level = CheckRecordingLevel(recording.samples);
    if (!recording.level.recorded) {
        return Failure(MakeError(SoundFileError::NotRecorded), path);
    }
    return recording;
}

}  // namespace quorvane
