#pragma once

// The steps of this folder's atomic writes, each one function that makes its system call and
// then tells a process-wide observer (tests) what it did. The order of the calls (a temporary
// file flushed before its rename, the folder flushed after it) cannot be seen from outside
// without a power loss, and a close that fails cannot be made on demand; since the step and
// its record are one call, a record cannot stay where its step was dropped.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <system_error>

#include "files/PlatformFile.h"
#include "files/Result.h"

namespace quorvane {

enum class FileOperation {
    CreateTemporary,  // a temporary file was created exclusively
    Write,            // bytes were written to it
    SyncFile,         // it was flushed to the device
    Close,            // it was closed
    Reserve,          // a no-replace rename reserved the free target name (Reservation.h)
    Rename,           // it was renamed to its target (or a file to be removed, to its removal
                      // name: Overwrite.h)
    SyncFolder,       // the target's folder was flushed
    Remove,           // a file of ours was removed (a failure, a discard, a stale left-over),
                      // or an overwritten file (files/Overwrite.h)
    Overwrite,        // a file's content was overwritten with zeros and flushed, before its removal
};

// Told each step after the system carried it out, with the path it concerned (the temporary
// file, for Reserve and Rename the target, for SyncFolder the folder). A non-empty result
// makes the step count as failed with that reason, as if the system had reported it.
using FileOperationObserver =
    std::function<std::error_code(FileOperation operation, const std::filesystem::path& path)>;

// Sets the observer (an empty one removes it). Not for the product: tests set it while no
// file is being written.
void SetFileOperationObserver(FileOperationObserver observer);

// Tests: makes every no-replace rename take the way of file systems that have neither
// RENAME_NOREPLACE nor hard links (FAT, exFAT): the reservation of Reservation.h.
void ForceRenameByReservation(bool forced);
[[nodiscard]] bool RenameByReservationForced();

// The steps. Each fails with the system's reason or the observer's, naming the file the step
// concerns; the observer is told only what the system did.

// Creates `path` exclusively for writing, owner-only (PlatformFile::CreateExclusive). Should
// the observer fail it, the file is closed and removed again, as if never made.
[[nodiscard]] Status DoCreateTemporary(PlatformFile& file, const std::filesystem::path& path);
[[nodiscard]] Status DoWrite(PlatformFile& file, const std::filesystem::path& path,
                             std::span<const std::uint8_t> bytes);
[[nodiscard]] Status DoSync(PlatformFile& file, const std::filesystem::path& path);
[[nodiscard]] Status DoClose(PlatformFile& file, const std::filesystem::path& path);
// Creates the free name `target` exclusively, owner-only, to reserve it (Reservation.h); an
// observer's failure undoes it as above.
[[nodiscard]] Status DoReserve(PlatformFile& file, const std::filesystem::path& target);
// RenameNoReplace, or with `replace` RenameReplace.
[[nodiscard]] Status DoRename(const std::filesystem::path& from, const std::filesystem::path& to,
                              bool replace);
[[nodiscard]] Status DoSyncFolder(const std::filesystem::path& folder);
// Removes a file this process made; true when it was there and is gone.
bool DoRemove(const std::filesystem::path& path);
// The removal of a file that held a secret: renames the regular file to a fresh removal name
// beside it (LeftoverKind::Removal; recorded as Rename of that name), overwrites its content
// there with zeros and flushes it (OverwriteWithZeros), removes it and flushes the folder. A
// folder that lets nothing be renamed or removed (immutable, append-only), or a file that may not
// be renamed, refuses the rename, before anything is overwritten. Returns the first failing
// step's reason; the file then keeps its name, its content perhaps overwritten already (a failed
// overwrite renames it back). A removal name left by a crash or a failed removal is finished by
// the next clean-up of the folder (DoRemoveLeftoverRemoval).
[[nodiscard]] Status DoOverwriteAndRemove(const std::filesystem::path& path);
// Overwrites and removes a file a removal of an ended process left under its removal name.
[[nodiscard]] Status DoRemoveLeftoverRemoval(const std::filesystem::path& path);
// Removes a left-over whose writer has ended (RemoveUnlockedFile); true when it is gone.
bool DoRemoveUnlocked(const std::filesystem::path& path);

}  // namespace quorvane
