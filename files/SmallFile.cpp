#include "files/SmallFile.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "files/AtomicFile.h"

namespace quorvane {

namespace {

std::FILE* OpenForReading(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

}  // namespace

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
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return false;
    }
    std::FILE* file = OpenForReading(path);
    if (file == nullptr) {
        return false;
    }
    std::vector<std::uint8_t> content;
    std::uint8_t chunk[4096];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        content.insert(content.end(), chunk, chunk + got);
        if (content.size() > maxBytes) {
            ok = false;
            break;
        }
        if (got < sizeof chunk) {
            ok = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    if (ok) {
        bytes = std::move(content);
    }
    return ok;
}

}  // namespace quorvane
