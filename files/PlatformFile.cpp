#include "files/PlatformFile.h"

#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <share.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#endif

namespace quorvane {

namespace {

// Largest single read or write request; bigger spans are handled in pieces.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

class FileErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.file"; }
    std::string message(int value) const override {
        switch (static_cast<FileError>(value)) {
            case FileError::NotRegularFile:
                return "is not a regular file";
            case FileError::EndOfFile:
                return "file ends early";
            case FileError::Changed:
                return "changed while it was read";
        }
        return "file error";
    }
};

std::error_code LastSystemError() {
    const int code = errno;
    return std::error_code(code != 0 ? code : EIO, std::generic_category());
}

}  // namespace

const std::error_category& FileErrorCategory() {
    static const FileErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(FileError error) {
    return std::error_code(static_cast<int>(error), FileErrorCategory());
}

PlatformFile::~PlatformFile() {
    static_cast<void>(Close());
    ReleaseLock();
}

bool PlatformFile::Fail() {
    error_ = LastSystemError();
    return false;
}

#ifdef _WIN32

bool PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    int fd = -1;
    // Windows files have no owner-only mode bits; the folder's access list applies.
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
        return Fail();
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::LockExclusive() {
    // Created with _SH_DENYRW: no other process can open, and so remove, the file while it is
    // open here.
    return true;
}

void PlatformFile::ReleaseLock() {}

bool PlatformFile::OpenForReading(const std::filesystem::path& path) {
    // Checked before opening: opening a named pipe could wait for its writer.
    struct _stat64 st {};
    if (_wstat64(path.c_str(), &st) != 0) {
        return Fail();
    }
    if ((st.st_mode & _S_IFMT) == _S_IFDIR) {
        error_ = std::make_error_code(std::errc::is_a_directory);
        return false;
    }
    if ((st.st_mode & _S_IFMT) != _S_IFREG) {
        error_ = MakeError(FileError::NotRegularFile);
        return false;
    }
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0) {
        return Fail();
    }
    // The file opened may not be the one looked at: check it again.
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        error_ = MakeError(FileError::NotRegularFile);
        _close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::Identify(FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION info{};
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(static_cast<int>(handle_)));
    if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0) {
        error_ = std::error_code(static_cast<int>(GetLastError()), std::system_category());
        return false;
    }
    identity.device = info.dwVolumeSerialNumber;
    identity.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
    identity.modified =
        static_cast<std::int64_t>((std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                                  info.ftLastWriteTime.dwLowDateTime);
    identity.changed = identity.modified;
    return true;
}

bool PlatformFile::Size(std::uint64_t& bytes) {
    struct _stat64 st {};
    if (_fstat64(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

std::int64_t PlatformFile::ReadSome(std::span<std::uint8_t> bytes) {
    const auto n =
        static_cast<unsigned int>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
    const int got = _read(static_cast<int>(handle_), bytes.data(), n);
    if (got < 0) {
        Fail();
        return -1;
    }
    return got;
}

bool PlatformFile::Seek(std::uint64_t offset) {
    if (_lseeki64(static_cast<int>(handle_), static_cast<__int64>(offset), SEEK_SET) < 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n =
            static_cast<unsigned int>(bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer);
        const int written = _write(static_cast<int>(handle_), bytes.data(), n);
        if (written <= 0) {
            return Fail();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

void PlatformFile::StartWriteback(std::uint64_t offset, std::uint64_t length) {
    // Windows has no request to start writeback without waiting; the final Sync does it all.
    static_cast<void>(offset);
    static_cast<void>(length);
}

void PlatformFile::AdviseSequentialRead() {
    // The cache manager detects sequential reading by itself.
}

bool PlatformFile::Sync() {
    if (_commit(static_cast<int>(handle_)) != 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::SetPermissions(FilePrivacy) {
    return true;  // the folder's access list decides
}

bool PlatformFile::CopyPermissions(const std::filesystem::path&) {
    return true;
}

bool PlatformFile::Close() {
    if (handle_ < 0) {
        return true;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    if (_close(fd) != 0) {
        return Fail();
    }
    return true;
}

std::error_code RenameNoReplace(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH) == 0) {
        const DWORD code = GetLastError();
        if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) {
            return std::make_error_code(std::errc::file_exists);
        }
        return std::error_code(static_cast<int>(code), std::system_category());
    }
    return {};
}

std::error_code RenameReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ==
        0) {
        return std::error_code(static_cast<int>(GetLastError()), std::system_category());
    }
    return {};
}

std::error_code SyncFolder(const std::filesystem::path&) {
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

bool CreatePrivateFolder(const std::filesystem::path& path, std::error_code& error) {
    error.clear();
    if (CreateDirectoryW(path.c_str(), nullptr) == 0) {
        const DWORD code = GetLastError();
        error = code == ERROR_ALREADY_EXISTS
                    ? std::make_error_code(std::errc::file_exists)
                    : std::error_code(static_cast<int>(code), std::system_category());
        return false;
    }
    return true;
}

#else

namespace {

// The process's file mode creation mask, read without changing it where the system allows.
mode_t CurrentUmask() {
#ifdef __linux__
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned int mask = 0;
        bool found = false;
        while (std::fgets(line, sizeof line, status) != nullptr) {
            if (std::sscanf(line, "Umask: %o", &mask) == 1) {
                found = true;
                break;
            }
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask);
        }
    }
#endif
    const mode_t mask = ::umask(077);
    ::umask(mask);
    return mask;
}

}  // namespace

bool PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    // O_EXCL refuses any existing name, dangling links included. Owner-only from the start: the
    // final permissions are set when the file is complete.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Fail();
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::LockExclusive() {
    const int fd = static_cast<int>(handle_);
    // flock locks belong to the open file, not the process: another process (in whatever process
    // namespace) or another open of the same file cannot take it while this one is open.
    bool locked = true;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR) {
            return Fail();  // held by someone else
        }
        // A file system without locks: the file goes unlocked, and RemoveUnlockedFile, which
        // cannot lock there either, never removes it.
        locked = false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Fail();
    }
    if (st.st_nlink == 0) {
        error_ = std::make_error_code(std::errc::no_such_file_or_directory);
        return false;
    }
    if (!locked) {
        return true;
    }
    // The lock belongs to the open file description: a duplicate keeps it after Close.
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0) {
        return Fail();
    }
    ReleaseLock();
    lock_ = held;
    return true;
}

void PlatformFile::ReleaseLock() {
    if (lock_ >= 0) {
        ::close(static_cast<int>(lock_));
        lock_ = -1;
    }
}

bool PlatformFile::OpenForReading(const std::filesystem::path& path) {
    // O_NONBLOCK: a named pipe without a writer would otherwise keep open() waiting.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Fail();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error_ = LastSystemError();
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error_ = S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                     : MakeError(FileError::NotRegularFile);
        ::close(fd);
        return false;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        error_ = LastSystemError();
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::Size(std::uint64_t& bytes) {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    bytes = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool PlatformFile::Identify(FileIdentity& identity) {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    constexpr std::int64_t kNanoseconds = 1000000000;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNanoseconds +
                        static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    identity.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * kNanoseconds +
                       static_cast<std::int64_t>(st.st_ctim.tv_nsec);
    return true;
}

std::int64_t PlatformFile::ReadSome(std::span<std::uint8_t> bytes) {
    const std::size_t n = bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer;
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), bytes.data(), n);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            Fail();
            return -1;
        }
        return got;
    }
}

bool PlatformFile::Seek(std::uint64_t offset) {
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer;
        const ssize_t written = ::write(static_cast<int>(handle_), bytes.data(), n);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return Fail();
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

void PlatformFile::StartWriteback(std::uint64_t offset, std::uint64_t length) {
#ifdef __linux__
    const int fd = static_cast<int>(handle_);
    static_cast<void>(::sync_file_range(fd, static_cast<off_t>(offset), static_cast<off_t>(length),
                                        SYNC_FILE_RANGE_WRITE));
    // The range a few steps back was started then: waiting until it is on the device keeps
    // the data in flight below kWritebackLag plus one step, while the device is never left
    // idle. Its pages are then clean and are dropped from the cache, so a file of any size
    // cycles through the same few megabytes of cache: on virtual machines that back guest
    // memory lazily, fresh pages for every byte of a large file cost more processor time than
    // the copy into them.
    if (offset >= kWritebackLag) {
        const auto back = static_cast<off_t>(offset - kWritebackLag);
        if (::sync_file_range(fd, back, static_cast<off_t>(length),
                              SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                  SYNC_FILE_RANGE_WAIT_AFTER) == 0) {
            static_cast<void>(
                ::posix_fadvise(fd, back, static_cast<off_t>(length), POSIX_FADV_DONTNEED));
        }
    }
#else
    static_cast<void>(offset);
    static_cast<void>(length);
#endif
}

void PlatformFile::AdviseSequentialRead() {
#if defined(__linux__) || defined(POSIX_FADV_SEQUENTIAL)
    static_cast<void>(::posix_fadvise(static_cast<int>(handle_), 0, 0, POSIX_FADV_SEQUENTIAL));
#endif
}

bool PlatformFile::Sync() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    if (!S_ISREG(st.st_mode)) {
        return true;  // devices and pipes have nothing to flush to
    }
    if (::fsync(static_cast<int>(handle_)) != 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::SetPermissions(FilePrivacy privacy) {
    const mode_t mode = privacy == FilePrivacy::OwnerOnly ? 0600 : (0666 & ~CurrentUmask());
    if (::fchmod(static_cast<int>(handle_), mode) != 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::CopyPermissions(const std::filesystem::path& like) {
    struct stat st {};
    if (::stat(like.c_str(), &st) != 0) {
        return Fail();
    }
    // Only the permission bits: a written file never inherits set-id or sticky bits.
    if (::fchmod(static_cast<int>(handle_), st.st_mode & 0777) != 0) {
        return Fail();
    }
    return true;
}

bool PlatformFile::Close() {
    if (handle_ < 0) {
        return true;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // After close, even an EINTR leaves the descriptor released; report it as a failure so the
    // caller does not trust data it cannot be sure reached the file.
    if (::close(fd) != 0) {
        return Fail();
    }
    return true;
}

std::error_code RenameNoReplace(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return LastSystemError();
    }
#endif
    // Where the file system refuses the flag: a hard link fails on an existing name, then the
    // temporary name is dropped.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return LastSystemError();
    }
    if (::unlink(from.c_str()) != 0) {
        return LastSystemError();
    }
    return {};
}

std::error_code RenameReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return LastSystemError();
    }
    return {};
}

std::error_code SyncFolder(const std::filesystem::path& folder) {
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    const int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return LastSystemError();
    }
    std::error_code error;
    // Some file systems cannot sync a folder (EINVAL): their entries are as safe as they get.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
        error = LastSystemError();
    }
    ::close(fd);
    return error;
}

bool RemoveUnlockedFile(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link is never followed; O_NONBLOCK: a pipe in its place does not wait.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat opened {};
    struct stat named {};
    // The lock is held while the name is removed, and the name must still lead to the file that
    // was locked.
    const bool removed = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
                         ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
                         ::lstat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
                         named.st_ino == opened.st_ino && ::unlink(path.c_str()) == 0;
    ::close(fd);
    return removed;
}

std::uint64_t CurrentProcessId() {
    return static_cast<std::uint64_t>(::getpid());
}

bool ProcessMayBeRunning(std::uint64_t id) {
    if (id == 0 || id > static_cast<std::uint64_t>(INT32_MAX)) {
        return false;
    }
    // Signal 0 only checks: EPERM means it exists under another user.
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

bool CreatePrivateFolder(const std::filesystem::path& path, std::error_code& error) {
    error.clear();
    if (::mkdir(path.c_str(), 0700) != 0) {
        error = LastSystemError();
        return false;
    }
    // The umask may only take bits away; make sure none of the owner's were taken.
    if (::chmod(path.c_str(), 0700) != 0) {
        error = LastSystemError();
        return false;
    }
    return true;
}

#endif

bool PlatformFile::ReadExactly(std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::int64_t got = ReadSome(bytes);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            error_ = MakeError(FileError::EndOfFile);
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return true;
}

}  // namespace quorvane
