#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace quorvane {

// Writes `bytes` to `path` so that the file is either the complete new content or
// left exactly as it was: the bytes go to a uniquely named temporary file created
// exclusively in the same folder, every write and the close are checked, and only
// then is it renamed over `path`. The temporary file is removed on every failure.
// With ownerOnly the file is readable and writable by its owner only (where the
// platform has such permissions), for secrets such as key files.
[[nodiscard]] bool WriteFileAtomically(const std::filesystem::path& path,
                                       std::span<const std::uint8_t> bytes, bool ownerOnly);

// Reads a whole regular file of at most maxBytes. False when it cannot be read or is
// larger; `bytes` is then empty.
[[nodiscard]] bool ReadSmallFile(const std::filesystem::path& path, std::uint64_t maxBytes,
                                 std::vector<std::uint8_t>& bytes);

}  // namespace quorvane
