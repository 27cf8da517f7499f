#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "files/PlatformFile.h"
#include "files/Result.h"
#include "files/TemporaryName.h"

namespace quorvane {

// Replace: an existing target is replaced at commit. NoReplace: the commit fails (file_exists)
// when the target exists, even one that appeared while the file was being written.
enum class OutputMode { Replace, NoReplace };

// Writes a file so that it appears complete or not at all. Open creates a uniquely named
// temporary file in the target's own folder (exclusively, so no other file or link can be
// taken over), owner-only; Commit flushes it, gives it its final permissions and renames it to
// the target. Until Commit succeeds the target keeps its old content, and a failed or abandoned
// write removes the temporary file. A NoReplace commit never replaces a file, whatever the file
// system: RENAME_NOREPLACE, else a hard link, else a reservation of the name (Reservation.h).
//
// Commit's order: flush the temporary file, set its permissions, close it (a failed close fails
// the commit), rename it to the target, then flush the target's folder, so that once Commit
// succeeds the new file survives a power loss and the caller may delete its source.
// Should only that last flush fail, Commit fails with the new file in place.
//
// Temporary names are ".<target name>.<process id>.<16 hex digits>.tmp". The writer holds a
// lock on its temporary file from its creation to its rename or removal (PlatformFile::
// LockExclusive). Open removes such files left in the folder whose lock is free and whose
// process is not running here (a crash, a kill), and lists them in StaleRemoved(); a file
// whose writer is alive is never touched, whatever process namespace the writer runs in; so
// is a reservation an ended writer left at a target's name, with its note (Reservation.h). Live
// temporary files are listed in a process-wide registry so that a signal or the program's quit
// can remove them (InstallTemporaryCleanup, RemoveLiveTemporaries).
//
// Final permissions: a replaced file keeps its read, write and execute bits (never set-id or
// sticky bits); a new file gets what the umask leaves of rw-rw-rw-; with FilePrivacy::OwnerOnly
// the file is always rw------- (secrets), where the file system has permissions (FAT and
// exFAT have none: the mount decides, KeepsOwnerOnly tells).
//
// A target that exists and is not a regular file is refused at Open: a folder
// (is_a_directory), a pipe, a device or a socket (FileError::NotRegularFile). Nothing is
// ever opened at the target's name, so no open can wait for a pipe's reader.
class AtomicFile final {
public:
    explicit AtomicFile(std::filesystem::path target, OutputMode mode = OutputMode::Replace,
                        FilePrivacy privacy = FilePrivacy::Normal);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Each step fails with the first failure of this file, naming the target (file_exists for
    // a NoReplace target that exists, is_a_directory for a folder as target,
    // FileError::NotRegularFile for a pipe or a device, FileError::NameNotHeld for a name the
    // file system refuses for its characters, FileError::TooLargeForFileSystem past the file
    // system's largest file, else the system's reason); a step after a failure fails with it.
    [[nodiscard]] Status Open();
    // Tells the file's final size in advance, so that a file larger than the file system holds
    // (FAT: 4 GiB) is refused at once rather than after 4 GiB were written. Optional: Write
    // refuses the byte beyond the limit all the same.
    [[nodiscard]] Status Expect(std::uint64_t totalBytes);
    [[nodiscard]] Status Write(std::span<const std::uint8_t> bytes);
    [[nodiscard]] Status Commit();
    // Gives up: removes the temporary file. Called by the destructor unless Commit succeeded.
    void Discard();

    // Left-over temporary files of ended processes that Open removed from the folder.
    [[nodiscard]] const std::vector<std::filesystem::path>& StaleRemoved() const {
        return staleRemoved_;
    }
    // The temporary file's path while one exists (empty otherwise); for tests.
    [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return temporary_; }

private:
    // Records the first failure (a later one is a consequence of it) and returns it.
    Failure Fail(std::error_code error);
    const std::filesystem::path named_;  // the target as the caller named it
    std::filesystem::path target_;       // the same, a link resolved
    std::filesystem::path temporary_;
    OutputMode mode_;
    FilePrivacy privacy_;
    PlatformFile file_;
    std::optional<Failure> failure_;
    std::vector<std::filesystem::path> staleRemoved_;
    std::optional<std::uint64_t> largest_;  // the file system's largest file, where limited
    std::uint64_t written_ = 0;
    std::uint64_t flushed_ = 0;  // bytes already handed to the device's writeback
    int slot_ = -1;              // entry in the registry of live temporaries
    bool failed_ = false;        // a step failed, or the file was discarded
    bool committed_ = false;
};

// Removes the left-over temporary files of ended processes from `folder`, the reservations
// they left with their notes, and overwrites and removes the files their removals left
// (files/Overwrite.h); returns their paths.
std::vector<std::filesystem::path> RemoveStaleTemporaries(const std::filesystem::path& folder);

// On SIGINT, SIGTERM or SIGHUP (Windows: SIGINT, SIGTERM) the live temporary files are removed
// (with async-signal-safe calls only), then the signal takes its default action. With an
// interruptNotice (at most 255 characters), SIGINT instead writes it as one line to the
// standard error and ends the program with status 130. A signal that is ignored when this is
// called (nohup) stays ignored.
void InstallTemporaryCleanup(std::string_view interruptNotice = {});

// Whether a line without its end (a progress line on a terminal) is open on the standard error:
// the interrupt notice then ends that line first, so that it stands on a line of its own.
void SetInterruptLineOpen(bool open);

// Removes every live temporary file now (a window's quit); their writers then fail cleanly.
void RemoveLiveTemporaries();

}  // namespace quorvane
