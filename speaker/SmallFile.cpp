#include "speaker/AtomicFile.h"

#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <utility>

namespace quorvane {

namespace {

// Attempts at finding an unused temporary name before giving up.
constexpr int kTemporaryNameAttempts = 16;

std::FILE* CreateExclusive(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wbx");
#else
    // "x": fail if the file exists, so a planted file or link is never written through.
    return std::fopen(path.c_str(), "wbx");
#endif
}

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
    if (path.filename().empty()) {
        return false;
    }
    const std::filesystem::path folder = path.parent_path();
    std::random_device seed;
    std::mt19937_64 random(seed());
    std::filesystem::path temporary;
    std::FILE* file = nullptr;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && file == nullptr; ++attempt) {
        const std::string leaf = ".quorvane-" + std::to_string(random()) + ".tmp";
        temporary = folder.empty() ? std::filesystem::path(leaf) : folder / leaf;
        file = CreateExclusive(temporary);
    }
    if (file == nullptr) {
        return false;
    }
    std::error_code error;
    if (ownerOnly) {
        std::filesystem::permissions(
            temporary, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
            std::filesystem::perm_options::replace, error);
    }
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fflush(file) == 0) && ok;
    ok = (std::fclose(file) == 0) && ok;
    if (ok) {
        std::filesystem::rename(temporary, path, error);
        ok = !error;
    }
    if (!ok) {
        std::filesystem::remove(temporary, error);
    }
    return ok;
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
