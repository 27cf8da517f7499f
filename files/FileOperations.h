#pragma once

// A process-wide look at the steps of this folder's atomic writes, for tests: the order of the
// calls (a temporary file flushed before its rename, the folder flushed after it) cannot be
// seen from outside without a power loss, and a close that fails cannot be made on demand.

#include <filesystem>
#include <functional>
#include <system_error>

namespace quorvane {

enum class FileOperation {
    CreateTemporary,  // a temporary file was created (and locked)
    Write,            // bytes were written to it
    SyncFile,         // it was flushed to the device
    Close,            // it was closed
    Rename,           // it was renamed to its target
    SyncFolder,       // the target's folder was flushed
    Remove,           // a temporary file was removed (a failure, a discard, a stale left-over),
                      // or an overwritten file (files/Overwrite.h)
    Overwrite,        // a file's content was overwritten with zeros and flushed, before its removal
};

// Told each step after the system carried it out, with the path it concerned (the temporary
// file, or for Rename the target, for SyncFolder the folder). A non-empty result makes the
// step count as failed with that reason, as if the system had reported it.
using FileOperationObserver =
    std::function<std::error_code(FileOperation operation, const std::filesystem::path& path)>;

// Sets the observer (an empty one removes it). Not for the product: tests set it while no
// file is being written.
void SetFileOperationObserver(FileOperationObserver observer);

// Tells the observer, if any; its answer (empty without one).
[[nodiscard]] std::error_code NoteFileOperation(FileOperation operation,
                                                const std::filesystem::path& path);

}  // namespace quorvane
