#include "speaker/SmallFile.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "cipher/AtomicFile.h"

namespace quorvane {

namespace {

constexpr std::filesystem::perms kOwnerOnly =
    std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

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
    AtomicFile file(path);
    if (!file.Open()) {
        return false;
    }
    std::error_code error;
    if (ownerOnly && !file.TemporaryPath().empty()) {
        // Restricted before the first byte of the secret is written.
        std::filesystem::permissions(file.TemporaryPath(), kOwnerOnly,
                                     std::filesystem::perm_options::replace, error);
    }
    if (!file.Write(bytes) || !file.Commit()) {
        return false;
    }
    if (ownerOnly) {
        // Committing keeps the permissions of a file it replaces; a secret stays private.
        std::filesystem::permissions(path, kOwnerOnly, std::filesystem::perm_options::replace,
                                     error);
    }
    return true;
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
