// PlatformFile and the free file calls on POSIX systems (Linux, the BSDs, macOS): open with
// O_EXCL and O_NOFOLLOW, flock for liveness, renameat2 where Linux has it.

#include "files/PlatformFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files/FileOperations.h"
#include "files/PlatformFileDetail.h"
#include "files/Reservation.h"

namespace quorvane {

namespace {
// Bytes of zeros written at a time over a file's content.
constexpr std::size_t kZeroChunk = 64 * 1024;
}  // namespace

using detail::kMaxTransfer;
using detail::LastSystemError;

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

// Reads exactly bytes.size() bytes at `offset` without moving the file's position.
bool ReadAt(int fd, std::uint64_t offset, std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            if (got == 0) {
                errno = EIO;  // shorter than its size: changed meanwhile
            }
            return false;
        }
        offset += static_cast<std::uint64_t>(got);
        bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return true;
}

// A 64-bit FNV-1a hash of the first and last kSampleBytes of a file of `size` bytes (of all
// of it when it is shorter), read without moving the file's position.
bool SampleContent(int fd, std::uint64_t size, std::uint64_t& sample) {
    constexpr std::uint64_t kSampleBytes = 4096;
    std::array<std::uint8_t, 2 * kSampleBytes> bytes{};
    const std::uint64_t head = size < kSampleBytes ? size : kSampleBytes;
    const std::uint64_t tail = size - head < kSampleBytes ? size - head : kSampleBytes;
    const auto headPart = std::span(bytes).first(head);
    const auto tailPart = std::span(bytes).subspan(head, tail);
    if (!ReadAt(fd, 0, headPart) || !ReadAt(fd, size - tail, tailPart)) {
        return false;
    }
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const std::uint8_t byte : std::span(bytes).first(head + tail)) {
        hash = (hash ^ byte) * 0x100000001b3ull;
    }
    sample = hash;
    return true;
}

// Whether a refused change of permissions means that the file system has none to change
// (FAT through FUSE: ENOSYS; some network file systems: EPERM, ENOTSUP): the mount then
// decides who may read, and the file is written all the same.
bool WithoutPermissions(int error) {
    return error == ENOSYS || error == EPERM || error == ENOTSUP || error == EOPNOTSUPP;
}

}  // namespace

Status PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    path_ = path;
    // O_EXCL refuses any existing name, dangling links included. Owner-only from the start: the
    // final permissions are set when the file is complete.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return Fail();
    }
    handle_ = fd;
    return {};
}

Status PlatformFile::LockExclusive() {
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
        return Fail(std::make_error_code(std::errc::no_such_file_or_directory));
    }
    if (!locked) {
        return {};
    }
    // The lock belongs to the open file description: a duplicate keeps it after Close.
    const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (held < 0) {
        return Fail();
    }
    ReleaseLock();
    lock_ = held;
    return {};
}

void PlatformFile::ReleaseLock() {
    if (lock_ >= 0) {
        ::close(static_cast<int>(lock_));
        lock_ = -1;
    }
}

Status PlatformFile::OpenForReading(const std::filesystem::path& path) {
    path_ = path;
    // O_NONBLOCK: a named pipe without a writer would otherwise keep open() waiting.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return Fail();
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const Failure failure = Fail();
        ::close(fd);
        return failure;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return Fail(S_ISDIR(st.st_mode) ? std::make_error_code(std::errc::is_a_directory)
                                        : MakeError(FileError::NotRegularFile));
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        const Failure failure = Fail();
        ::close(fd);
        return failure;
    }
    handle_ = fd;
    return {};
}

Result<std::uint64_t> PlatformFile::Size() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    return static_cast<std::uint64_t>(st.st_size);
}

Result<FileIdentity> PlatformFile::Locate() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::uint64_t>(st.st_size);
    return identity;
}

Result<FileIdentity> PlatformFile::Identify() {
    const int fd = static_cast<int>(handle_);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Fail();
    }
    constexpr std::int64_t kNanoseconds = 1000000000;
    FileIdentity identity;
    identity.device = static_cast<std::uint64_t>(st.st_dev);
    identity.index = static_cast<std::uint64_t>(st.st_ino);
    identity.size = static_cast<std::uint64_t>(st.st_size);
    identity.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNanoseconds +
                        static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    identity.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * kNanoseconds +
                       static_cast<std::int64_t>(st.st_ctim.tv_nsec);
    identity.indexLasts = detail::FileNumbersLast(fd);
    identity.sample = 0;
    if (!identity.indexLasts && !SampleContent(fd, identity.size, identity.sample)) {
        return Fail();
    }
    return identity;
}

Result<std::size_t> PlatformFile::ReadSome(std::span<std::uint8_t> bytes) {
    const std::size_t n = bytes.size() < kMaxTransfer ? bytes.size() : kMaxTransfer;
    for (;;) {
        const ssize_t got = ::read(static_cast<int>(handle_), bytes.data(), n);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Fail();
        }
        return static_cast<std::size_t>(got);
    }
}

Status PlatformFile::Seek(std::uint64_t offset) {
    if (::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) < 0) {
        return Fail();
    }
    return {};
}

Status PlatformFile::Write(std::span<const std::uint8_t> bytes) {
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
    return {};
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

Status PlatformFile::Sync() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return Fail();
    }
    if (!S_ISREG(st.st_mode)) {
        return {};  // devices and pipes have nothing to flush to
    }
    if (::fsync(static_cast<int>(handle_)) != 0) {
        return Fail();
    }
    return {};
}

Status PlatformFile::SetPermissions(FilePrivacy privacy) {
    const mode_t mode = privacy == FilePrivacy::OwnerOnly ? 0600 : (0666 & ~CurrentUmask());
    if (::fchmod(static_cast<int>(handle_), mode) != 0 && !WithoutPermissions(errno)) {
        return Fail();
    }
    return {};
}

Status PlatformFile::CopyPermissions(const std::filesystem::path& like) {
    struct stat st {};
    if (::stat(like.c_str(), &st) != 0) {
        return Failure(LastSystemError(), like);
    }
    // Only the permission bits: a written file never inherits set-id or sticky bits.
    if (::fchmod(static_cast<int>(handle_), st.st_mode & 0777) != 0 && !WithoutPermissions(errno)) {
        return Fail();
    }
    return {};
}

Status PlatformFile::Close() {
    if (handle_ < 0) {
        return {};
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // After close, even an EINTR leaves the descriptor released; report it as a failure so the
    // caller does not trust data it cannot be sure reached the file.
    if (::close(fd) != 0) {
        return Fail();
    }
    return {};
}

Status RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (RenameByReservationForced()) {
        return RenameByReservation(from, to);
    }
#ifdef __linux__
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return Failure(LastSystemError(), to);
    }
#endif
    // Where the file system refuses the flag (FUSE): a hard link fails on an existing name,
    // then the temporary name is dropped.
    if (::link(from.c_str(), to.c_str()) == 0) {
        if (::unlink(from.c_str()) != 0) {
            return Failure(LastSystemError(), from);
        }
        return {};
    }
    // No hard links either (FAT, exFAT): the name is reserved first.
    if (errno == EPERM || errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS ||
        errno == EMLINK) {
        return RenameByReservation(from, to);
    }
    return Failure(LastSystemError(), to);
}

Status RenameReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return Failure(LastSystemError(), to);
    }
    return {};
}

Status SyncFolder(const std::filesystem::path& folder) {
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    const int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return Failure(LastSystemError(), where);
    }
    Status synced;
    // Some file systems cannot sync a folder (EINVAL): their entries are as safe as they get.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) {
        synced = Failure(LastSystemError(), where);
    }
    ::close(fd);
    return synced;
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

Status CreatePrivateFolder(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        return Failure(LastSystemError(), path);
    }
    // The umask may only take bits away; make sure none of the owner's were taken. A file
    // system without permissions keeps the folder all the same (KeepsOwnerOnly tells).
    if (::chmod(path.c_str(), 0700) != 0 && !WithoutPermissions(errno)) {
        return Failure(LastSystemError(), path);
    }
    return {};
}

// Zeros written over the whole file, then flushed: for a file that held a secret.
Status OverwriteWithZeros(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link is refused, never followed; O_NONBLOCK: a pipe does not wait.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return Failure(LastSystemError(), path);
    }
    struct stat status {};
    std::error_code error;
    if (::fstat(fd, &status) != 0) {
        error = LastSystemError();
    } else if (!S_ISREG(status.st_mode)) {
        error = MakeError(FileError::NotRegularFile);
    }
    static const std::array<char, kZeroChunk> zeros{};
    for (off_t at = 0; !error && at < status.st_size;) {
        const std::size_t piece =
            static_cast<std::size_t>(std::min<off_t>(status.st_size - at, zeros.size()));
        const ssize_t written = ::pwrite(fd, zeros.data(), piece, at);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            error = LastSystemError();
            break;
        }
        at += written;
    }
    if (!error && ::fsync(fd) != 0) {
        error = LastSystemError();
    }
    if (::close(fd) != 0 && !error) {
        error = LastSystemError();
    }
    if (error) {
        return Failure(error, path);
    }
    return {};
}

std::optional<std::uint64_t> LinkCount(const std::filesystem::path& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(st.st_nlink);
}

}  // namespace quorvane
