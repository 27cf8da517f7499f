#pragma once

// Removing a file that held a secret (an unprotected voice model, a passphrase-protected one
// that is replaced): its content is overwritten in place and flushed to the device before the
// name goes, so that the bytes are not left behind in free space for whoever reads the device
// later. What overwriting cannot reach is said in the README's security model: copies made
// before, backups and snapshots, copy-on-write file systems and flash wear levelling.

#include <filesystem>

#include "files/Result.h"

namespace quorvane {

// Overwrites the whole content of the regular file at `path` with zeros, flushes it, removes the
// name and flushes the folder. A link is never followed; a file that is not regular is refused
// (FileError::NotRegularFile). On failure the file is still there (its content maybe overwritten
// already) and the Failure says why. The steps are recorded as FileOperation::Overwrite and
// FileOperation::Remove (files/FileOperations.h).
[[nodiscard]] Status OverwriteAndRemove(const std::filesystem::path& path);

}  // namespace quorvane
