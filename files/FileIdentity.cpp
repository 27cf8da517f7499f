#include "files/FileIdentity.h"

#include "files/PlatformFile.h"

namespace quorvane {

bool FileIdentity::operator==(const FileIdentity& other) const {
    const bool numbered = indexLasts && other.indexLasts;
    return device == other.device && (!numbered || index == other.index) && size == other.size &&
           modified == other.modified && changed == other.changed && sample == other.sample;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
    if (a.indexLasts && b.indexLasts) {
        return a.device == b.device && a.index == b.index;
    }
    return a == b;
}

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // Opened for reading only to ask the system about it: reading changes neither its content
    // nor its times, and a file that cannot be read counts as unknown.
    PlatformFile file;
    if (!file.OpenForReading(path)) {
        return std::nullopt;
    }
    Result<FileIdentity> identity = file.Identify();
    if (!identity) {
        return std::nullopt;
    }
    return *identity;
}

}  // namespace quorvane
