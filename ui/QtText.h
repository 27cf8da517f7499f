#pragma once

// Conversions between the core's texts and paths and the toolkit's strings, and the
// folders the file dialogs start in.

#include <QString>
#include <filesystem>
#include <optional>
#include <string_view>

#include "files/Result.h"

namespace ui {

// A path from the toolkit's text (UTF-16 on Windows, the file-name encoding elsewhere).
[[nodiscard]] std::filesystem::path ToPath(const QString& text);
[[nodiscard]] QString FromPath(const std::filesystem::path& path);
[[nodiscard]] QString FromUtf8(std::string_view text);
// The one wording of a refusal or a file's problem in the window: the system's message, and
// its cause, when there is one, on a line of its own below it.
[[nodiscard]] QString RefusalText(std::string_view message, std::string_view cause);
// The same with a lower layer's failure as the cause (worded by quorvane::CauseText).
[[nodiscard]] QString RefusalText(std::string_view message,
                                  const std::optional<quorvane::Failure>& cause);
// The toolkit's file filter from the "Description|pattern|..." form of the dialogs.
[[nodiscard]] QString QtFilter(std::string_view pairs);
// Where security key files are saved and looked for: the user's documents, else the home
// folder; never the program's folder.
[[nodiscard]] QString KeyFileFolder();

}  // namespace ui
