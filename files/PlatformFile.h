#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <system_error>

#include "files/FileIdentity.h"
#include "files/Result.h"

namespace quorvane {

// Errors of this program's own, beside the system's: a path that is not a regular file where
// one is needed (a pipe or a device given as input or output), a file that ends early, a file
// that changed while it was read, a name the file system refuses for its characters (FAT and
// exFAT: EINVAL, EPERM or ENOENT), and a file larger than the file system holds (FAT).
enum class FileError {
    NotRegularFile = 1,
    EndOfFile = 2,
    Changed = 3,
    NameNotHeld = 4,
    TooLargeForFileSystem = 5,
};
[[nodiscard]] const std::error_category& FileErrorCategory();
[[nodiscard]] std::error_code MakeError(FileError error);

// Permissions of the files this program creates, where the platform has them.
enum class FilePrivacy {
    Normal,     // a new file gets what the process's umask leaves of rw-rw-rw-
    OwnerOnly,  // rw------- (speaker files, key files)
};

// The few file calls the standard library lacks, behind one small interface so the rest of the
// code stays portable: creating a file only if its name is free (never through an existing link),
// reads and writes that report every failure with the system's reason, flushing a file to the
// storage device, and the final permissions of a file. Every failure names the file it concerns
// (the one opened or created; for CopyPermissions a `like` that cannot be read, that one).
class PlatformFile final {
public:
    PlatformFile() = default;
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    // Creates a new file for writing, readable and writable by its owner only; fails when
    // anything of that name already exists.
    [[nodiscard]] Status CreateExclusive(const std::filesystem::path& path);
    // Takes an exclusive lock on the open file without waiting, and makes sure the file still
    // has its name (a clean-up may have removed it between the creation and the lock). The lock
    // tells other processes the file is in use (RemoveUnlockedFile); it is held until
    // ReleaseLock or destruction, past Close, so that a file can be renamed still locked.
    // POSIX: flock on the open file. Windows: a file created by CreateExclusive is shared with
    // nobody, so it cannot be removed while open; after its close nothing holds it.
    [[nodiscard]] Status LockExclusive();
    void ReleaseLock();
    // Opens a regular file for reading. A folder, a pipe or a device is refused without waiting
    // for a writer (is_a_directory, FileError::NotRegularFile): the check is made on the opened
    // file itself, so a pipe put in the file's place meanwhile is refused too.
    [[nodiscard]] Status OpenForReading(const std::filesystem::path& path);
    // Size of the open file in bytes.
    [[nodiscard]] Result<std::uint64_t> Size();
    // Device, index, size and times of the open file.
    [[nodiscard]] Result<FileIdentity> Identify();
    // Only its device, index and size, which need no reading: for a file open for writing.
    [[nodiscard]] Result<FileIdentity> Locate();
    // Fills `bytes` from the current position; fails on an error or an early end of the file
    // (FileError::EndOfFile).
    [[nodiscard]] Status ReadExactly(std::span<std::uint8_t> bytes);
    // Reads up to bytes.size() bytes from the current position: the count read, 0 at the end.
    [[nodiscard]] Result<std::size_t> ReadSome(std::span<std::uint8_t> bytes);
    // Moves the position for the next read or write.
    [[nodiscard]] Status Seek(std::uint64_t offset);
    // Writes all bytes, retrying short writes; fails on any error (disk full included).
    [[nodiscard]] Status Write(std::span<const std::uint8_t> bytes);
    // Asks the system to start writing the given range to the device now, so that the final
    // Sync has little left to do; waits until the range kWritebackLag bytes further back has
    // reached the device and drops it from the cache, so that written but unflushed data and
    // the cache the file takes stay bounded whatever its size. Ranges are expected in file
    // order. Does nothing where unsupported; Sync is still what makes the data durable.
    void StartWriteback(std::uint64_t offset, std::uint64_t length);
    static constexpr std::uint64_t kWritebackLag = std::uint64_t{32} << 20;
    // Tells the system the open file will be read once from start to end (a longer read-ahead).
    // Only a hint: does nothing where unsupported.
    void AdviseSequentialRead();
    // Flushes the written data to the storage device.
    [[nodiscard]] Status Sync();
    // Sets the file's permissions: owner-only, or what the umask leaves of rw-rw-rw-, or (with
    // `like`) the read, write and execute bits of the existing file `like`. Set-user-id,
    // set-group-id and sticky bits are never given to a written file. On a file system without
    // permissions (one that refuses the change with ENOSYS, EPERM or ENOTSUP, or ignores it)
    // the file is left as the mount makes it, and this succeeds: KeepsOwnerOnly tells.
    [[nodiscard]] Status SetPermissions(FilePrivacy privacy);
    [[nodiscard]] Status CopyPermissions(const std::filesystem::path& like);
    // Closes the file; fails when the close reports an error. Closing twice is harmless.
    [[nodiscard]] Status Close();
    [[nodiscard]] bool IsOpen() const { return handle_ >= 0; }
    // The file last opened or created.
    [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
    // The system's reason for the call that just failed, or `code`, naming the file.
    [[nodiscard]] Failure Fail() const;
    [[nodiscard]] Failure Fail(std::error_code code) const { return Failure(code, path_); }
    std::intptr_t handle_ = -1;
    std::intptr_t lock_ = -1;  // a second descriptor of the locked file, holding the lock
    std::filesystem::path path_;
};

// Renames `from` to `to` only if `to` does not exist; fails with file_exists otherwise. Never
// replaces a file that appeared in the meantime (the test and the rename are one step). The
// failure names `to`.
[[nodiscard]] Status RenameNoReplace(const std::filesystem::path& from,
                                     const std::filesystem::path& to);

// Renames `from` over `to`, replacing it. The failure names `to`.
[[nodiscard]] Status RenameReplace(const std::filesystem::path& from,
                                   const std::filesystem::path& to);

// Flushes a folder's entries (a rename into it, a removal) to the storage device. POSIX: fsync
// of the folder; file systems that cannot sync a folder count as done. Windows: nothing to do,
// the renames of this program already ask for MOVEFILE_WRITE_THROUGH.
[[nodiscard]] Status SyncFolder(const std::filesystem::path& folder);

// Removes the regular file at `path` only if no process holds a lock on it (LockExclusive):
// the lock is taken first, then the name is removed while it is held. False when the file is
// locked, is not a regular file, or cannot be removed (none of which is a failure to report:
// a clean-up leaves such a file alone). Windows: a file open by its writer cannot be removed.
[[nodiscard]] bool RemoveUnlockedFile(const std::filesystem::path& path);

// This process's identifier, and whether a process of that identifier may be running (true
// unless the system says for sure there is none).
[[nodiscard]] std::uint64_t CurrentProcessId();
[[nodiscard]] bool ProcessMayBeRunning(std::uint64_t id);

// Writes zeros over the whole content of the regular file at `path` and flushes it to the
// device; a link is never followed, a file that is not regular is refused
// (FileError::NotRegularFile). For a file that held a secret, before its removal.
[[nodiscard]] Status OverwriteWithZeros(const std::filesystem::path& path);

// Creates a folder readable, writable and searchable by its owner only, as far as the file
// system has permissions (KeepsOwnerOnly tells). Fails with file_exists when something of that
// name is there.
[[nodiscard]] Status CreatePrivateFolder(const std::filesystem::path& path);

// The identity of the regular file `path` names (links followed); nothing when there is none, it
// is not a regular file, or it cannot be read.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

// How many names (hard links) the file `path` names has, the link itself where it is one;
// nothing when it cannot be asked. Asked of the system itself: the C library's stat of
// MinGW always answers one.
[[nodiscard]] std::optional<std::uint64_t> LinkCount(const std::filesystem::path& path);

}  // namespace quorvane
