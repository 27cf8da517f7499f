#include "files/Reservation.h"

#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <span>

#include "files/FileOperations.h"
#include "files/PlatformFile.h"
#include "files/PlatformFileDetail.h"
#include "files/TemporaryName.h"
#endif

namespace quorvane {

#ifdef _WIN32

// Windows moves without replacing by itself (MoveFileExW): no reservation is ever made.
Status RenameByReservation(const std::filesystem::path&, const std::filesystem::path& to) {
    return Failure(std::make_error_code(std::errc::not_supported), to);
}

std::vector<std::filesystem::path> RemoveStaleReservation(const std::filesystem::path&) {
    return {};
}

#else

namespace {

namespace fs = std::filesystem;

constexpr int kNoteAttempts = 8;
constexpr std::size_t kMaxNoteBytes = 4096;
constexpr std::int64_t kSecond = 1000000000;
// How far apart the note's and an empty reservation's times may be when the reservation was
// made right after the note: the two-second times of FAT, rounded each its own way.
constexpr std::int64_t kBefore = 2 * kSecond;
constexpr std::int64_t kAfter = 4 * kSecond;

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// What a reservation holds: the name of its note, which only its writer could know.
std::string ReservationText(const fs::path& note) {
    return "quorvane reservation " + note.filename().string() + "\n";
}

std::int64_t ModifiedOf(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * kSecond +
           static_cast<std::int64_t>(st.st_mtim.tv_nsec);
}

// A descriptor closed with its object.
class Descriptor final {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    [[nodiscard]] int get() const { return fd_; }

private:
    int fd_;
};

// Opens an existing regular file at `path` (no link followed, no pipe waited on) and locks it
// without waiting; -1 when it is not there, not a regular file or locked by a live writer.
int OpenLocked(const fs::path& path, struct stat& st) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Whether a step failed because its name was taken.
bool Exists(const Status& step) {
    return !step && step.error().code() == std::errc::file_exists;
}

// Whether the name `path` still leads to the open file `st` describes.
bool StillNamed(const fs::path& path, const struct stat& st) {
    struct stat named {};
    return ::lstat(path.c_str(), &named) == 0 && named.st_dev == st.st_dev &&
           named.st_ino == st.st_ino;
}

// Reads the whole small file behind `fd` into `text`; false when larger than `limit`.
bool ReadAll(int fd, std::size_t limit, std::string& text) {
    std::array<char, 1024> chunk{};
    text.clear();
    for (;;) {
        const ssize_t got = ::read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            return true;
        }
        text.append(chunk.data(), static_cast<std::size_t>(got));
        if (text.size() > limit) {
            return false;
        }
    }
}

// Removes the reservation this writer made at `to` and still holds open as `reserved`, when
// the name still leads to it and nobody wrote more into it than its text.
void RemoveOwnReservation(PlatformFile& reserved, const fs::path& to, std::size_t textBytes) {
    const Result<FileIdentity> mine = reserved.Locate();
    struct stat named {};
    if (mine && ::lstat(to.c_str(), &named) == 0 &&
        static_cast<std::uint64_t>(named.st_dev) == mine->device &&
        static_cast<std::uint64_t>(named.st_ino) == mine->index &&
        static_cast<std::size_t>(named.st_size) <= textBytes) {
        DoRemove(to);
    }
    static_cast<void>(reserved.Close());
    reserved.ReleaseLock();
}

// Whether the file open as `fd` (`st`) is the reservation the note `note` (`noteStat`) names.
bool IsReservationOf(int fd, const struct stat& st, const fs::path& note,
                     const struct stat& noteStat) {
    const std::string expected = ReservationText(note);
    if (st.st_size == static_cast<off_t>(expected.size())) {
        std::string text;
        return ReadAll(fd, expected.size(), text) && text == expected;
    }
    // Made but not yet given its text when its writer ended: empty, and made right after the
    // note, not a file that was there before or came long after.
    const std::int64_t delay = ModifiedOf(st) - ModifiedOf(noteStat);
    const std::int64_t before = detail::FileNumbersLast(fd) ? 0 : kBefore;
    return st.st_size == 0 && delay >= -before && delay <= kAfter;
}

}  // namespace

Status RenameByReservation(const fs::path& from, const fs::path& to) {
    // 1. The note, locked while this writer lives.
    PlatformFile note;
    fs::path notePath;
    Status step = Failure(std::make_error_code(std::errc::file_exists), to);
    for (int attempt = 0; attempt < kNoteAttempts && Exists(step); ++attempt) {
        notePath = LeftoverName(to, LeftoverKind::ReservationNote);
        step = DoCreateTemporary(note, notePath);
    }
    if (!step) {
        return step;
    }
    const auto dropNote = [&] {
        static_cast<void>(note.Close());
        DoRemove(notePath);
        note.ReleaseLock();
    };
    if (!(step = note.LockExclusive()) ||
        !(step = DoWrite(note, notePath, Bytes(to.filename().string() + "\n")))) {
        dropNote();
        return step;
    }
    // 2. The reservation: the free name, taken exclusively, locked, given its text.
    PlatformFile reserved;
    if (!(step = DoReserve(reserved, to))) {
        dropNote();
        return step;
    }
    static_cast<void>(reserved.LockExclusive());
    const std::string text = ReservationText(notePath);
    if (!(step = DoWrite(reserved, to, Bytes(text)))) {
        RemoveOwnReservation(reserved, to, text.size());
        dropNote();
        return step;
    }
    // 3. Still that file, with that text: otherwise another writer has it now.
    const Result<FileIdentity> mine = reserved.Locate();
    struct stat named {};
    if (!mine || ::lstat(to.c_str(), &named) != 0 ||
        static_cast<std::uint64_t>(named.st_dev) != mine->device ||
        static_cast<std::uint64_t>(named.st_ino) != mine->index || mine->size != text.size() ||
        named.st_size != static_cast<off_t>(text.size())) {
        static_cast<void>(reserved.Close());
        reserved.ReleaseLock();
        dropNote();
        return Failure(std::make_error_code(std::errc::file_exists), to);
    }
    // 4. The file over its reservation; the note goes once the name holds it.
    if (!(step = RenameReplace(from, to))) {
        RemoveOwnReservation(reserved, to, text.size());
        dropNote();
        return step;
    }
    static_cast<void>(reserved.Close());
    reserved.ReleaseLock();
    dropNote();
    return {};
}

std::vector<fs::path> RemoveStaleReservation(const fs::path& note) {
    std::vector<fs::path> removed;
    struct stat noteStat {};
    const Descriptor noteFd(OpenLocked(note, noteStat));
    if (noteFd.get() < 0) {
        return removed;  // gone, or its writer still holds it
    }
    std::string text;
    if (ReadAll(noteFd.get(), kMaxNoteBytes, text) && text.size() > 1 && text.back() == '\n' &&
        text.find('/') == std::string::npos && text.find('\0') == std::string::npos) {
        text.pop_back();
        const fs::path target = note.parent_path() / fs::path(text);
        struct stat st {};
        const Descriptor targetFd(OpenLocked(target, st));
        if (targetFd.get() >= 0 && IsReservationOf(targetFd.get(), st, note, noteStat) &&
            StillNamed(target, st) && DoRemove(target)) {
            removed.push_back(target);
        }
    }
    // Removed while its lock is held here, so no writer can be using it.
    if (StillNamed(note, noteStat) && DoRemove(note)) {
        removed.push_back(note);
    }
    return removed;
}

#endif

}  // namespace quorvane
