#include "files/FileIdentity.h"

namespace quorvane {

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // Opened for reading only to ask the system about it: reading changes neither its content
    // nor its times, and a file that cannot be read counts as unknown.
    PlatformFile file;
    FileIdentity identity;
    if (!file.OpenForReading(path) || !file.Identify(identity)) {
        return std::nullopt;
    }
    return identity;
}

}  // namespace quorvane
