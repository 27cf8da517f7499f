#pragma once

// Conversions between the core's texts and paths and the toolkit's strings, and the
// folders the file dialogs start in.

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
// Where security key files are saved and looked for: the user's documents, else the home
// folder; never the program's folder.
[[nodiscard]] QString KeyFileFolder();

}  // namespace ui
