#include "files/NameLock.h"

#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "files/PathText.h"
#include "files/PlatformFile.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <fstream>
#include <sstream>
#endif

namespace quorvane {

namespace {

// How often a waiting command looks again.
constexpr std::chrono::milliseconds kPollInterval{20};

class NameLockErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.namelock"; }
    std::string message(int value) const override {
        switch (static_cast<NameLockError>(value)) {
            case NameLockError::Busy:
                return "in use by another command";
        }
        return "lock error";
    }
};

// A lock file this thread holds: the open file and how many holds it has (nested ones included).
struct Hold {
    std::intptr_t handle = -1;
    int count = 0;
};

std::map<std::string, Hold>& HeldByThisThread() {
    thread_local std::map<std::string, Hold> held;
    return held;
}

std::string HeldKey(const std::filesystem::path& path) {
    return PathText(path.lexically_normal());
}

// What one try at the lock came to, when the system did not refuse it: held (with the handle that
// holds it), held by another, or to be tried again at once (the file changed hands meanwhile).
enum class Attempt { Held, Busy, Again };
struct Tried {
    Attempt attempt;
    std::intptr_t handle = -1;
};

#ifdef _WIN32

Result<Tried> TryLock(const std::filesystem::path& path, LockMethod) {
    // Shared with nobody: a second open fails until this one closes, and the close (a crash's
    // included) deletes the file.
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        // A file being deleted by its last holder is denied to new opens for a moment; a denial
        // where no file is, is the folder's.
        if (code == ERROR_SHARING_VIOLATION ||
            (code == ERROR_ACCESS_DENIED &&
             GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)) {
            return Tried{Attempt::Busy};
        }
        return Failure(std::error_code(static_cast<int>(code), std::system_category()), path);
    }
    return Tried{Attempt::Held, reinterpret_cast<std::intptr_t>(file)};
}

void Unlock(const std::filesystem::path&, std::intptr_t handle) {
    CloseHandle(reinterpret_cast<HANDLE>(handle));
}

#else

std::error_code LastError() {
    const int code = errno;
    return std::error_code(code != 0 ? code : EIO, std::generic_category());
}

// A claim without content (its writer stopped between creating and writing it) counts as stale
// after this long; writing it takes microseconds.
constexpr std::chrono::seconds kUnwrittenClaimAge{10};

std::string FirstLine(const char* file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// What tells a process apart from a later one of the same id: the boot it runs in and its start
// time in clock ticks since that boot (Linux; empty elsewhere).
std::string BootId() {
    return FirstLine("/proc/sys/kernel/random/boot_id");
}

std::string StartTime(std::uint64_t processId) {
    const std::string stat = FirstLine(("/proc/" + std::to_string(processId) + "/stat").c_str());
    // The command name in parentheses may hold blanks; the fields after it do not.
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    // starttime is field 22 of the line, the 20th after the command name.
    for (int i = 0; i < 20 && fields >> field; ++i) {
    }
    return fields ? field : std::string();
}

// "<process id> <boot id> <start time>\n"
std::string ClaimText() {
    const std::uint64_t self = CurrentProcessId();
    return std::to_string(self) + " " + BootId() + " " + StartTime(self) + "\n";
}

bool WriteClaim(int fd) {
    const std::string text = ClaimText();
    return ::ftruncate(fd, 0) == 0 &&
           ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// Whether the claim in the open file `fd` belongs to a process that is gone.
bool ClaimIsStale(int fd, const struct stat& opened) {
    std::array<char, 256> buffer{};
    const ssize_t got = ::pread(fd, buffer.data(), buffer.size() - 1, 0);
    std::istringstream claim(
        std::string(buffer.data(), got > 0 ? static_cast<std::size_t>(got) : 0));
    std::uint64_t processId = 0;
    std::string boot;
    std::string start;
    if (!(claim >> processId)) {
        const auto written = std::chrono::system_clock::from_time_t(opened.st_mtime);
        return std::chrono::system_clock::now() - written > kUnwrittenClaimAge;
    }
    claim >> boot >> start;
    if (!ProcessMayBeRunning(processId)) {
        return true;
    }
    const std::string bootNow = BootId();
    if (!boot.empty() && !bootNow.empty() && boot != bootNow) {
        return true;  // the machine was restarted since: every process of the claim is gone
    }
    const std::string startNow = StartTime(processId);
    return !start.empty() && !startNow.empty() && start != startNow;  // the id was used again
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `path` still names the file open as `fd`.
bool StillNamed(const std::filesystem::path& path, const struct stat& opened) {
    struct stat named {};
    return ::lstat(path.c_str(), &named) == 0 && SameFile(named, opened);
}

bool LocksUnsupported(int code) {
    return code == ENOLCK || code == EOPNOTSUPP || code == ENOTSUP || code == ENOSYS ||
           code == EINVAL;
}

Result<Tried> TryLock(const std::filesystem::path& path, LockMethod method) {
    // O_NOFOLLOW: a link put in the lock's place is refused, never followed.
    bool created = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0 && errno == EEXIST) {
        created = false;
        fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0 && errno == ENOENT) {
            return Tried{Attempt::Again};  // its holder let go meanwhile
        }
    }
    if (fd < 0) {
        return Failure(LastError(), path);
    }
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        const Failure failure(
            S_ISREG(opened.st_mode) ? LastError() : MakeError(FileError::NotRegularFile), path);
        ::close(fd);
        return failure;
    }
    if (method == LockMethod::Automatic) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // A holder removes the name before it lets go: a lock of a file that lost its name
            // (or whose name now leads to another file) is no lock of the name.
            if (!StillNamed(path, opened)) {
                ::close(fd);
                return Tried{Attempt::Again};
            }
            static_cast<void>(WriteClaim(fd));  // who holds it, for a person who looks
            return Tried{Attempt::Held, fd};
        }
        const int code = errno;
        if (code == EWOULDBLOCK || code == EAGAIN || code == EINTR) {
            ::close(fd);
            return Tried{Attempt::Busy};
        }
        if (!LocksUnsupported(code)) {
            ::close(fd);
            return Failure(std::error_code(code, std::generic_category()), path);
        }
    }
    // Without locks the exclusive creation is the claim.
    if (created) {
        if (!WriteClaim(fd)) {
            const Failure failure(LastError(), path);
            ::unlink(path.c_str());
            ::close(fd);
            return failure;
        }
        return Tried{Attempt::Held, fd};
    }
    const bool stale = ClaimIsStale(fd, opened);
    ::close(fd);
    if (stale && StillNamed(path, opened) && ::unlink(path.c_str()) == 0) {
        return Tried{Attempt::Again};
    }
    return Tried{Attempt::Busy};
}

void Unlock(const std::filesystem::path& path, std::intptr_t handle) {
    const int fd = static_cast<int>(handle);
    // The name goes first, while the lock is still held; then the close lets go.
    struct stat opened {};
    if (::fstat(fd, &opened) == 0 && StillNamed(path, opened)) {
        ::unlink(path.c_str());
    }
    ::close(fd);
}

#endif

}  // namespace

const std::error_category& NameLockErrorCategory() {
    static const NameLockErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(NameLockError error) {
    return std::error_code(static_cast<int>(error), NameLockErrorCategory());
}

std::filesystem::path NameLockPath(const std::filesystem::path& folder, std::string_view name) {
    const std::string leaf = "." + std::string(name) + ".lock";
    return folder / std::u8string(leaf.begin(), leaf.end());
}

Result<NameLock> NameLock::Acquire(const std::filesystem::path& folder, std::string_view name,
                                   std::chrono::milliseconds wait, LockMethod method) {
    const std::filesystem::path path = NameLockPath(folder, name);
    std::map<std::string, Hold>& held = HeldByThisThread();
    const std::string key = HeldKey(path);
    if (const auto found = held.find(key); found != held.end()) {
        ++found->second.count;
        return NameLock(path);
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const Result<Tried> tried = TryLock(path, method);
        if (!tried) {
            return tried.error();
        }
        if (tried->attempt == Attempt::Held) {
            held.emplace(key, Hold{tried->handle, 1});
            return NameLock(path);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Failure(MakeError(NameLockError::Busy), path);
        }
        if (tried->attempt == Attempt::Busy) {
            std::this_thread::sleep_for(kPollInterval);
        }
    }
}

NameLock::NameLock(std::filesystem::path path) : path_(std::move(path)), held_(true) {}

NameLock::NameLock(NameLock&& other) noexcept
    : path_(std::move(other.path_)), held_(std::exchange(other.held_, false)) {}

NameLock& NameLock::operator=(NameLock&& other) noexcept {
    if (this != &other) {
        Release();
        path_ = std::move(other.path_);
        held_ = std::exchange(other.held_, false);
    }
    return *this;
}

NameLock::~NameLock() {
    Release();
}

void NameLock::Release() noexcept {
    if (!held_) {
        return;
    }
    held_ = false;
    std::map<std::string, Hold>& held = HeldByThisThread();
    const auto found = held.find(HeldKey(path_));
    if (found == held.end() || --found->second.count > 0) {
        return;  // another hold of this thread still holds the name
    }
    Unlock(path_, found->second.handle);
    held.erase(found);
}

}  // namespace quorvane
