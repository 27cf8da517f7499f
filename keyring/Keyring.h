#pragma once

// The desktop's keyring, where a user may let the program remember the passphrase of a
// protected speaker file: the Secret Service (libsecret; gnome-keyring and KWallet serve it)
// on Linux, DPAPI (user scope) in the per-user data folder on Windows. One item per protected
// file, labelled with the user's name and the folder, and carrying the program's application
// id, the file's absolute path, the user's name and the file's salt: a file written anew (with a
// new salt), or a file of another user at the same path, never finds an item that was not its
// own.
//
// The calls block: the Secret Service may show its own prompt to unlock the keyring, and each
// call gives up after 30 seconds with Unavailable (without a session bus it answers at once).
// A passphrase is text without NUL bytes (the Secret Service stores it as text/plain).

#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "files/Secret.h"

namespace quorvane {

inline constexpr std::string_view kKeyringApplicationId = "org.quorvane.Quorvane";

// Which protected file a passphrase belongs to.
struct KeyringEntry {
    std::filesystem::path file;
    std::string user;  // the user's name, as the file's marker states it
    std::string salt;  // the file's salt, as its marker writes it
    bool operator==(const KeyringEntry&) const = default;
};

enum class KeyringStatus {
    Done,         // stored, found or forgotten
    NotFound,     // no passphrase remembered for this file
    Unavailable,  // no keyring is running, or it is locked and could not be unlocked
    Failed,       // the keyring answered with an error
};

[[nodiscard]] KeyringStatus RememberPassphrase(const KeyringEntry& entry,
                                               std::span<const char> passphrase);
[[nodiscard]] KeyringStatus RecallPassphrase(const KeyringEntry& entry, SecretText& passphrase);
[[nodiscard]] KeyringStatus ForgetPassphrase(const KeyringEntry& entry);

// Whether a keyring answers now, so that remembering may be offered.
[[nodiscard]] bool KeyringAvailable();

// Forgets every remembered passphrase of this program for a file in `folder` whose entry
// `current` rejects (its file was removed, or written anew for another salt or user). Items of
// other folders, and items that cannot be judged without unlocking the keyring, stay. Done when
// the folder's items were all judged.
KeyringStatus ForgetStalePassphrases(const std::filesystem::path& folder,
                                     const std::function<bool(const KeyringEntry&)>& current);

}  // namespace quorvane
