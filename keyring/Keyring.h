#pragma once

// The desktop's keyring, where a user may let the program remember the passphrase of a
// protected speaker file: the Secret Service (libsecret; gnome-keyring and KWallet serve it)
// on Linux, DPAPI (user scope) in the per-user data folder on Windows. One item per speaker
// file, found by the file's absolute path and labelled with the user's name and the folder.
//
// The calls block: the Secret Service may show its own prompt to unlock the keyring, and each
// call gives up after 30 seconds with Unavailable (without a session bus it answers at once).
// A passphrase is text without NUL bytes (the Secret Service stores it as text/plain).

#include <filesystem>
#include <span>
#include <string_view>

#include "files/Secret.h"

namespace quorvane {

enum class KeyringStatus {
    Done,         // stored, found or forgotten
    NotFound,     // no passphrase remembered for this file
    Unavailable,  // no keyring is running, or it is locked and could not be unlocked
    Failed,       // the keyring answered with an error
};

[[nodiscard]] KeyringStatus RememberPassphrase(const std::filesystem::path& speakerFile,
                                               std::string_view userName,
                                               std::span<const char> passphrase);
[[nodiscard]] KeyringStatus RecallPassphrase(const std::filesystem::path& speakerFile,
                                             SecretText& passphrase);
[[nodiscard]] KeyringStatus ForgetPassphrase(const std::filesystem::path& speakerFile);

}  // namespace quorvane
