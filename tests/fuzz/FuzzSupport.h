#pragma once

// What the fuzz targets share: a scratch folder of the process's own, whole-file reads and
// writes, and the failure of a property.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"

namespace quorvane::fuzz {

// The key of the fuzzed encoded files and of the seed files made for them; any fixed key
// serves, as the readers never test the key.
inline constexpr GostKey kFuzzKey = {0x01234567u, 0x89ABCDEFu, 0xFFFFFFFFu, 0x00000001u,
                                     0x80000000u, 0x7FFFFFFFu, 0xDEADBEEFu, 0x0BADF00Du};

// temp_directory_path()/"quorvane-fuzz-<pid>", created on first use and removed with
// everything in it when the process ends normally. Separate per process, so several fuzzers
// (or -jobs) never share a file.
[[nodiscard]] const std::filesystem::path& ScratchFolder();

// The names of the entries in the scratch folder, sorted.
[[nodiscard]] std::vector<std::filesystem::path> ScratchEntries();

// Writes the bytes to path, replacing it; stops the process when that fails, as an input
// that cannot be set up proves nothing.
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// The whole content of path (empty when it cannot be read).
[[nodiscard]] std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);

// Stops the process with a message when a property does not hold, so that libFuzzer keeps
// the input as a crash.
void Require(bool holds, std::string_view what);

}  // namespace quorvane::fuzz
