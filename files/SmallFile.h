#pragma once

// Whole-file reads and writes of the small files of this folder (model files, key files).

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "files/Result.h"

namespace quorvane {

// Writes `bytes` to `path` so that the file is either the complete new content or left
// exactly as it was (through AtomicFile: an exclusive temporary file in the same folder,
// renamed over `path` once every write, the flush and the close succeeded; the folder is
// flushed before this returns, so the new file survives a power loss).
// With ownerOnly the file ends up readable and writable by its owner only, where the
// platform has such permissions, for secrets such as key files.
[[nodiscard]] Status WriteFileAtomically(const std::filesystem::path& path,
                                         std::span<const std::uint8_t> bytes, bool ownerOnly);

// Reads a whole regular file of at most maxBytes. Fails when it cannot be read, is not a
// regular file (checked on the opened file, without waiting on a pipe), or is larger
// (file_too_large).
[[nodiscard]] Result<std::vector<std::uint8_t>> ReadSmallFile(const std::filesystem::path& path,
                                                              std::uint64_t maxBytes);

}  // namespace quorvane
