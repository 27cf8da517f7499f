#pragma once

// Where the program and the command line find their data: the Speakers folder and the
// help page. One rule for both front ends:
// - a copy that carries its data beside the executable (the build tree, a portable copy)
//   uses it exactly there;
// - an installed copy keeps each user's speaker files in the user's own data folder
//   ($XDG_DATA_HOME/quorvane/Speakers, by default ~/.local/share/quorvane/Speakers; on
//   Windows %APPDATA%\Quorvane\Speakers) and reads the help page from the installed
//   data folder (<prefix>/share/quorvane/help.htm).
// Nothing here creates a folder.

#include <filesystem>
#include <vector>

namespace quorvane {

// The folder of the running executable (absolute). When the platform cannot tell, the
// current folder.
[[nodiscard]] std::filesystem::path ExecutableFolder();

// "Speakers" beside the executable when that folder exists; otherwise the per-user
// Speakers folder described above (which may not exist yet).
[[nodiscard]] std::filesystem::path SpeakersFolder(const std::filesystem::path& executableFolder);

// Where an installed copy keeps its help page, in the order they are tried:
// ../share/quorvane/help.htm from the executable, then (outside Windows)
// /usr/share/quorvane/help.htm.
[[nodiscard]] std::vector<std::filesystem::path> InstalledHelpPages(
    const std::filesystem::path& executableFolder);

// "help.htm" beside the executable when it is there; otherwise the first of `installed`
// that exists. When none of them exists, the path beside the executable, so that opening it
// fails with the usual message.
[[nodiscard]] std::filesystem::path HelpPage(const std::filesystem::path& executableFolder,
                                             const std::vector<std::filesystem::path>& installed);
// The same with InstalledHelpPages(executableFolder).
[[nodiscard]] std::filesystem::path HelpPage(const std::filesystem::path& executableFolder);

}  // namespace quorvane
