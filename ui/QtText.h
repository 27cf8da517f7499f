#pragma once

// Conversions between the core's texts and paths and the toolkit's strings.

#include <QString>
#include <filesystem>
#include <string_view>

namespace ui {

// A path from the toolkit's text (UTF-16 on Windows, the file-name encoding elsewhere).
[[nodiscard]] std::filesystem::path ToPath(const QString& text);
[[nodiscard]] QString FromPath(const std::filesystem::path& path);
[[nodiscard]] QString FromUtf8(std::string_view text);
// The toolkit's file filter from the "Description|pattern|..." form of the dialogs.
[[nodiscard]] QString QtFilter(std::string_view pairs);

}  // namespace ui
