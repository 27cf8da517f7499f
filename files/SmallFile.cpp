#include "files/SmallFile.h"

#include <array>
#include <system_error>
#include <utility>

#include "files/AtomicFile.h"
#include "files/PlatformFile.h"

namespace quorvane {

bool WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                         bool ownerOnly) {
    // The temporary file is owner-only from its creation; a secret stays so after the commit,
    // even when it replaces a file that was readable by others.
    AtomicFile file(path, OutputMode::Replace,
                    ownerOnly ? FilePrivacy::OwnerOnly : FilePrivacy::Normal);
    return file.Open() && file.Write(bytes) && file.Commit();
}

bool ReadSmallFile(const std::filesystem::path& path, std::uint64_t maxBytes,
                   std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    // Checked on the opened file: a pipe put in the file's place is refused, not waited on.
    PlatformFile file;
    if (!file.OpenForReading(path)) {
        return false;
    }
    std::vector<std::uint8_t> content;
    std::array<std::uint8_t, 4096> chunk{};
    for (;;) {
        const std::int64_t got = file.ReadSome(chunk);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        content.insert(content.end(), chunk.begin(), chunk.begin() + got);
        if (content.size() > maxBytes) {
            return false;
        }
    }
    bytes = std::move(content);
    return true;
}

}  // namespace quorvane
