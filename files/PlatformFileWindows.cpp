// PlatformFile and the free file calls on Windows (MinGW-w64 and MSVC's C runtime, wide
// paths, MoveFileExW for renames).

#include "files/PlatformFile.h"

#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#include <algorithm>
#include <array>

#include "files/PlatformFileDetail.h"

namespace quorvane {

namespace {
// Bytes of zeros written at a time over a file's content.
constexpr std::size_t kZeroChunk = 64 * 1024;
}  // namespace

using detail::kMaxTransfer;

Status PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    path_ = path;
    int fd = -1;
    // Windows files have no owner-only mode bits; the folder's access list applies.
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
        return Fail();
    }
    handle_ = fd;
    return {};
}

Status PlatformFile::LockExclusive() {
    // Created with _SH_DENYRW: no other process can open, and so remove, the file while it is
    // open here.
    return {};
}

void PlatformFile::ReleaseLock() {}

Status PlatformFile::OpenForReading(const std::filesystem::path& path) {
    path_ = path;
    // Checked before opening: opening a named pipe could wait for its writer.
    struct _stat64 st {};
    if (_wstat64(path.c_str(), &st) != 0) {
        return Fail();
    }
    if ((st.st_mode & _S_IFMT) == _S_IFDIR) {
        return Fail(std::make_error_code(std::errc::is_a_directory));
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        return Fail(MakeError(FileError::NotRegularFile));
    }
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0) {
        return Fail();
    }
    // The file opened may not be the one looked at: check it again.
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        _close(fd);
        return Fail(MakeError(FileError::NotRegularFile));
    }
    handle_ = fd;
    return {};
}

Result<FileIdentity> PlatformFile::Identify() {
    BY_HANDLE_FILE_INFORMATION info{};
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(handle_)));
    if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0) {
        return Fail(std::error_code(static_cast<int>(GetLastError()), std::system_category()));
    }
    FileIdentity identity;
    identity.device = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified =
        static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    identity.changed = identity.modified;
    identity.indexLasts = true;
    identity.sample = 0;
    return identity;
}

Result<FileIdentity> PlatformFile::Locate() {
    return Identify();
}

Result<std::uint64_t> PlatformFile::Size() {
    struct _stat64 st {};
    if (_fstat64(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    return static_cast<std::uint64_t>(st.st_size);
}

Result<std::size_t> PlatformFile::ReadSome(std::span<std::uint8_t> bytes) {
    const auto n =
        static_cast<unsigned int>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
    const int got = _read(static_cast<int>(handle_), bytes.data(), n);
    if (got < 0) {
        return Fail();
    }
    return static_cast<std::size_t>(got);
}

Status PlatformFile::Seek(std::uint64_t offset) {
    if (_lseeki64(static_cast<int>(handle_), static_cast<__int64>(offset), SEEK_SET) < 0) {
        return Fail();
    }
    return {};
}

Status PlatformFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n =
            static_cast<unsigned int>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
        const int written = _write(static_cast<int>(handle_), bytes.data(), n);
        if (written <= 0) {
            return Fail();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return {};
}

void PlatformFile::StartWriteback(std::uint64_t offset, std::uint64_t length) {
    // Windows has no request to start writeback without waiting; the final Sync does it all.
    static_cast<void>(offset);
    static_cast<void>(length);
}

void PlatformFile::AdviseSequentialRead() {
    // The cache manager detects sequential reading by itself.
}

Status PlatformFile::Sync() {
    if (_commit(static_cast<int>(handle_)) != 0) {
        return Fail();
    }
    return {};
}

Status PlatformFile::SetPermissions(FilePrivacy) {
    return {};  // the folder's access list decides
}

Status PlatformFile::CopyPermissions(const std::filesystem::path&) {
    return {};
}

Status PlatformFile::Close() {
    if (handle_ < 0) {
        return {};
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (_close(fd) != 0) {
        return Fail();
    }
    return {};
}

Status RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
        const DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
            return Failure(std::make_error_code(std::errc::file_exists), to);
        }
        return Failure(std::error_code(static_cast<int>(code), std::system_category()), to);
    }
    return {};
}

Status RenameReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0) {
        return Failure(std::error_code(static_cast<int>(GetLastError()), std::system_category()),
                       to);
    }
    return {};
}

Status SyncFolder(const std::filesystem::path&) {
    return {};  // the moves ask for MOVEFILE_WRITE_THROUGH
}

bool RemoveUnlockedFile(const std::filesystem::path& path) {
    // A file its writer holds open (shared with nobody) cannot be removed.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
        return false;
    }
    return std::filesystem::remove(path, ec);
}

std::uint64_t CurrentProcessId() {
    return static_cast<std::uint64_t>(GetCurrentProcessId());
}

bool ProcessMayBeRunning(std::uint64_t id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(id));
    if (process == nullptr) {
        // Denied access means it exists; an invalid parameter means there is no such process.
        return GetLastError() != ERROR_INVALID_PARAMETER;
    }
    const DWORD state = WaitForSingleObject(process, 0);
    CloseHandle(process);
    return state != WAIT_OBJECT_0;
}

Status CreatePrivateFolder(const std::filesystem::path& path) {
    if (CreateDirectoryW(path.c_str(), nullptr) == 0) {
        const DWORD code = GetLastError();
        return Failure(code == ERROR_ALREADY_EXISTS
                           ? std::make_error_code(std::errc::file_exists)
                           : std::error_code(static_cast<int>(code), std::system_category()),
                       path);
    }
    return {};
}

// Zeros written over the whole file, then flushed: for a file that held a secret.
Status OverwriteWithZeros(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW,
                  _S_IREAD | _S_IWRITE) != 0) {
        return Failure(detail::LastSystemError(), path);
    }
    struct _stat64 status {};
    std::error_code error;
    if (_fstat64(fd, &status) != 0) {
        error = detail::LastSystemError();
    } else if ((status.st_mode & _S_IFREG) == 0) {
        error = MakeError(FileError::NotRegularFile);
    }
    static const std::array<char, kZeroChunk> zeros{};
    for (std::int64_t left = status.st_size; !error && left > 0;) {
        const unsigned int piece = static_cast<unsigned int>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(zeros.size())));
        const int written = _write(fd, zeros.data(), piece);
        if (written <= 0) {
            error = detail::LastSystemError();
            break;
        }
        left -= written;
    }
    if (!error && _commit(fd) != 0) {
        error = detail::LastSystemError();
    }
    if (_close(fd) != 0 && !error) {
        error = detail::LastSystemError();
    }
    if (error) {
        return Failure(error, path);
    }
    return {};
}

std::optional<std::uint64_t> LinkCount(const std::filesystem::path& path) {
    // Opened for its attributes only, the link itself rather than its target.
    const HANDLE file = CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool asked = GetFileInformationByHandle(file, &info) != 0;
    CloseHandle(file);
    if (!asked) {
        return std::nullopt;
    }
    return std::uint64_t{info.nNumberOfLinks};
}

}  // namespace quorvane
