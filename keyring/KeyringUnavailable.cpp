#include "keyring/Keyring.h"

// Without a keyring backend every call says the keyring is unavailable, and the program asks
// for the passphrase instead.

namespace quorvane {

KeyringStatus RememberPassphrase(const std::filesystem::path&, std::string_view,
                                 std::span<const char>) {
    return KeyringStatus::Unavailable;
}

KeyringStatus RecallPassphrase(const std::filesystem::path&, SecretText& passphrase) {
    passphrase.clear();
    return KeyringStatus::Unavailable;
}

KeyringStatus ForgetPassphrase(const std::filesystem::path&) {
    return KeyringStatus::Unavailable;
}

}  // namespace quorvane
