#include "files/FileIdentity.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace quorvane {

#ifdef _WIN32

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // Attributes only: neither the content nor a lock is needed, and a file open elsewhere
    // is still asked.
    const HANDLE handle = ::CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool ok = ::GetFileInformationByHandle(handle, &info) != 0;
    ::CloseHandle(handle);
    if (!ok) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.device = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified =
        static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    identity.changed = identity.modified;
    return identity;
}

#else

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(info.st_dev);
    identity.index = static_cast<std::uint64_t>(info.st_ino);
    identity.size = static_cast<std::uint64_t>(info.st_size);
    constexpr std::int64_t kNanoseconds = 1000000000;
    identity.modified = static_cast<std::int64_t>(info.st_mtim.tv_sec) * kNanoseconds +
                        static_cast<std::int64_t>(info.st_mtim.tv_nsec);
    identity.changed = static_cast<std::int64_t>(info.st_ctim.tv_sec) * kNanoseconds +
                       static_cast<std::int64_t>(info.st_ctim.tv_nsec);
    return identity;
}

#endif

}  // namespace quorvane
