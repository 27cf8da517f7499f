#pragma once

// Removing a file that held a secret (an unprotected voice model, a passphrase-protected one
// that is replaced): its content is overwritten in place and flushed to the device before the
// name goes, so that the bytes are not left behind in free space for whoever reads the device
// later. What overwriting cannot reach is said in the README's security model: copies made
// before, backups and snapshots, copy-on-write file systems and flash wear levelling.

#include <filesystem>

#include "files/Result.h"

namespace quorvane {

// Removes the regular file at `path` with its content overwritten: first renames it to a removal
// name of ours beside it (so that a folder or file that lets the name not go refuses before
// anything is destroyed, and a crash leaves no zeroed file under the user's name), then
// overwrites the whole content with zeros, flushes it, removes it and flushes the folder. A link
// is never followed; a file that is not regular is refused (FileError::NotRegularFile, or the
// system's reason for a link, a folder, a missing file). On failure the file is still there
// under its name (its content perhaps overwritten already) and the Failure says why. A crash
// after the rename leaves the removal name, which the next clean-up of the folder
// (RemoveStaleTemporaries) overwrites and removes. The steps are recorded as
// FileOperation::Rename (to the removal name), Overwrite and Remove (files/FileOperations.h).
[[nodiscard]] Status OverwriteAndRemove(const std::filesystem::path& path);

}  // namespace quorvane
