#include "keyring/Keyring.h"

// Without a keyring backend every call says the keyring is unavailable, and the program asks
// for the passphrase instead.

namespace quorvane {

KeyringStatus RememberPassphrase(const KeyringEntry&, std::span<const char>) {
    return KeyringStatus::Unavailable;
}

KeyringStatus RecallPassphrase(const KeyringEntry&, SecretText& passphrase) {
    passphrase.clear();
    return KeyringStatus::Unavailable;
}

KeyringStatus ForgetPassphrase(const KeyringEntry&) {
    return KeyringStatus::Unavailable;
}

bool KeyringAvailable() {
    return false;
}

KeyringStatus ForgetStalePassphrases(const std::filesystem::path&,
                                     const std::function<bool(const KeyringEntry&)>&) {
    return KeyringStatus::Unavailable;
}

}  // namespace quorvane
