#pragma once

// Which file a path names, and what it held when last looked at: enough to tell, at the end of a
// batch, whether an output is still the very file the batch committed and an input still the
// file it read.

#include <filesystem>
#include <optional>

#include "files/PlatformFile.h"

namespace quorvane {

// The identity of the regular file `path` names (links followed); nothing when there is none, it
// is not a regular file, or it cannot be read.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

}  // namespace quorvane
