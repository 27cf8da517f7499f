#include "cipher/PlatformFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace quorvane {

namespace {

// Largest single write request; bigger spans are written in pieces.
constexpr std::size_t kMaxWrite = std::size_t{1} << 30;

}  // namespace

PlatformFile::~PlatformFile() {
    static_cast<void>(Close());
}

#ifdef _WIN32

bool PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _SH_DENYRW, _S_IREAD | _S_IWRITE) != 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::OpenExisting(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYNO, 0) != 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const auto n =
            static_cast<unsigned int>(bytes.size() < kMaxWrite ? bytes.size() : kMaxWrite);
        const int written = _write(static_cast<int>(handle_), bytes.data(), n);
        if (written <= 0) {
            return false;
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

bool PlatformFile::Sync() {
    return _commit(static_cast<int>(handle_)) == 0;
}

bool PlatformFile::Close() {
    if (handle_ < 0) {
        return true;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    return _close(fd) == 0;
}

#else

bool PlatformFile::CreateExclusive(const std::filesystem::path& path) {
    // O_EXCL refuses any existing name, dangling links included; the mode is subject to umask
    // like any newly created file.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::OpenExisting(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    handle_ = fd;
    return true;
}

bool PlatformFile::Write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const std::size_t n = bytes.size() < kMaxWrite ? bytes.size() : kMaxWrite;
        const ssize_t written = ::write(static_cast<int>(handle_), bytes.data(), n);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

void PlatformFile::StartWriteback(std::uint64_t offset, std::uint64_t length) {
#ifdef __linux__
    static_cast<void>(::sync_file_range(static_cast<int>(handle_), static_cast<off_t>(offset),
                                        static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE));
#else
    static_cast<void>(offset);
    static_cast<void>(length);
#endif
}

bool PlatformFile::Sync() {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) {
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        return true;  // devices and pipes have nothing to flush to
    }
    return ::fsync(static_cast<int>(handle_)) == 0;
}

bool PlatformFile::Close() {
    if (handle_ < 0) {
        return true;
    }
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // After close, even an EINTR leaves the descriptor released; report it as a failure so the
    // caller does not trust data it cannot be sure reached the file.
    return ::close(fd) == 0;
}

#endif

}  // namespace quorvane
