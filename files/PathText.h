#pragma once

#include <filesystem>
#include <string>

namespace quorvane {

// A path as text for messages and for the front ends: its UTF-8 form, whatever the platform's
// own encoding of paths (wide characters on Windows).
[[nodiscard]] std::string PathText(const std::filesystem::path& path);

}  // namespace quorvane
