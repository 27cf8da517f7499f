#include "files/Overwrite.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "files/FileOperations.h"
#include "files/PlatformFile.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace quorvane {

namespace {

constexpr std::size_t kZeroChunk = 64 * 1024;

std::error_code LastError() {
    const int code = errno;
    return std::error_code(code != 0 ? code : EIO, std::generic_category());
}

#ifdef _WIN32

// Writes zeros over the whole open file and commits it to the device.
std::error_code OverwriteContent(const std::filesystem::path& path) {
    int fd = -1;
    if (_wsopen_s(&fd, path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW,
                  _S_IREAD | _S_IWRITE) != 0) {
        return LastError();
    }
    struct _stat64 status {};
    std::error_code error;
    if (_fstat64(fd, &status) != 0) {
        error = LastError();
    } else if ((status.st_mode & _S_IFREG) == 0) {
        error = MakeError(FileError::NotRegularFile);
    }
    static const std::array<char, kZeroChunk> zeros{};
    for (std::int64_t left = status.st_size; !error && left > 0;) {
        const unsigned int piece = static_cast<unsigned int>(
            std::min<std::int64_t>(left, static_cast<std::int64_t>(zeros.size())));
        const int written = _write(fd, zeros.data(), piece);
        if (written <= 0) {
            error = LastError();
            break;
        }
        left -= written;
    }
    if (!error && _commit(fd) != 0) {
        error = LastError();
    }
    if (_close(fd) != 0 && !error) {
        error = LastError();
    }
    return error;
}

#else

std::error_code OverwriteContent(const std::filesystem::path& path) {
    // O_NOFOLLOW: a link is refused, never followed; O_NONBLOCK: a pipe does not wait.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return LastError();
    }
    struct stat status {};
    std::error_code error;
    if (::fstat(fd, &status) != 0) {
        error = LastError();
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
            error = LastError();
            break;
        }
        at += written;
    }
    if (!error && ::fsync(fd) != 0) {
        error = LastError();
    }
    if (::close(fd) != 0 && !error) {
        error = LastError();
    }
    return error;
}

#endif

}  // namespace

Status OverwriteAndRemove(const std::filesystem::path& path) {
    std::error_code error = OverwriteContent(path);
    if (!error) {
        error = NoteFileOperation(FileOperation::Overwrite, path);
    }
    if (error) {
        return Failure(error, path);
    }
    if (!std::filesystem::remove(path, error) && !error) {
        error = std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (!error) {
        error = NoteFileOperation(FileOperation::Remove, path);
    }
    if (!error) {
        error = SyncFolder(path.parent_path().empty() ? std::filesystem::path(".")
                                                      : path.parent_path());
    }
    if (error) {
        return Failure(error, path);
    }
    return {};
}

}  // namespace quorvane
