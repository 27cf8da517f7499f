#pragma once

// A lock on one name in one folder, held by one command at a time across processes and threads:
// every command that writes a user's speaker files holds the lock of the user's name in the
// Speakers folder, so that two of them (two enrolments of one name, an enrolment and a
// protection) never interleave their checks and writes.
//
// The lock is the file "." + name + ".lock" in the folder, there only while the lock is held.
//   - Where the file system has locks (POSIX flock; every local file system, and FUSE ones,
//     which the kernel locks locally), the holder keeps an flock on the open file. A crash lets
//     go of it with the process; the file it leaves is taken over by the next command.
//   - Where it has none (flock reports it unsupported, as NFS without its lock daemon does),
//     the file is created exclusively and holds its holder's process id, boot and start time. A
//     claim whose process is gone, or whose machine was restarted since, is stale and removed by
//     the next command that wants the name; a claim that never got its content is stale after
//     ten seconds.
//   - Windows: the file is opened shared with nobody and deleted when closed, so a crash leaves
//     nothing.
// The same thread may take a name it holds again (a store step inside a command that holds the
// name already); other threads and processes wait.

#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "files/Result.h"

namespace quorvane {

// Why a lock was not taken, beside the system's reasons.
enum class NameLockError {
    Busy = 1,  // another command held the name for the whole wait
};
[[nodiscard]] const std::error_category& NameLockErrorCategory();
[[nodiscard]] std::error_code MakeError(NameLockError error);

// How a lock is held: flock where the file system has it, else the exclusive claim file
// (Automatic); or the claim file always (for tests of file systems without locks).
enum class LockMethod { Automatic, ClaimFile };

// How long a command waits for another one that holds the name: the other writes a few small
// files (and derives one passphrase key), which takes well under this.
inline constexpr std::chrono::milliseconds kNameLockWait{10000};

class NameLock final {
public:
    // Takes the lock of `name` in `folder` (which must exist), waiting up to `wait` for another
    // holder. Fails with NameLockError::Busy after the wait, or with the system's reason (a
    // folder that cannot be written, a name too long for the file system).
    [[nodiscard]] static Result<NameLock> Acquire(const std::filesystem::path& folder,
                                                  std::string_view name,
                                                  std::chrono::milliseconds wait = kNameLockWait,
                                                  LockMethod method = LockMethod::Automatic);
    NameLock(NameLock&& other) noexcept;
    NameLock& operator=(NameLock&& other) noexcept;
    NameLock(const NameLock&) = delete;
    NameLock& operator=(const NameLock&) = delete;
    // Lets go of the lock once the thread's last hold of the name ends. A lock is let go on the
    // thread that took it.
    ~NameLock();

    // The lock file.
    [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
    explicit NameLock(std::filesystem::path path);
    void Release() noexcept;

    std::filesystem::path path_;
    bool held_ = false;  // false once released or moved from
};

// folder / ("." + name + ".lock")
[[nodiscard]] std::filesystem::path NameLockPath(const std::filesystem::path& folder,
                                                 std::string_view name);

}  // namespace quorvane
