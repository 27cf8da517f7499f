#pragma once

// What every keyring backend stores about a speaker file: the path that finds its item and
// the label a user sees in the keyring's own window.

#include <filesystem>
#include <string>
#include <string_view>

namespace quorvane {

// The speaker file's absolute path with links and "." / ".." resolved as far as the file
// system has them, so that every spelling of one file finds the same item.
[[nodiscard]] std::filesystem::path KeyringItemPath(const std::filesystem::path& speakerFile);

// "Quorvane passphrase of anna (/home/anna/.local/share/quorvane/Speakers)", from the user's
// name and the folder of the item's path, as UTF-8.
[[nodiscard]] std::string KeyringItemLabel(std::string_view userName,
                                           const std::filesystem::path& itemPath);

}  // namespace quorvane
