#pragma once

// Users protected by a passphrase: their models are in a protected speaker file
// (speaker/ProtectedFile.h) and stay locked until the passphrase is given, which happens
// only where the models are needed (encoding for the user, decoding by voice, verifying).
// Loading lists a protected user by name without asking anything; once unlocked, the models
// stay in memory until the program ends. A passphrase the keyring remembers is used without
// asking; protecting, unprotecting and changing the passphrase keep the models, and so the
// user's key: files encoded before still decode.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "analysis/VoiceCodebook.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"
#include "workflow/Users.h"

namespace quorvane {

// ---- Texts ----

inline constexpr std::string_view kProtectCaption = "Add new user";
inline constexpr std::string_view kEmptyPassphraseMessage = "The passphrase must not be empty";
inline constexpr std::string_view kPassphrasesDiffer = "The two passphrases differ";
inline constexpr std::string_view kKeyringUnavailableMessage =
    "No keyring is available to remember passphrases: the passphrase is asked";
// "Protect anna's voice model with a passphrase?"
[[nodiscard]] std::string ProtectQuestion(std::string_view name);
// "Wrong passphrase for anna"
[[nodiscard]] std::string WrongPassphraseMessage(std::string_view name);
// "No passphrase given for anna"
[[nodiscard]] std::string NoPassphraseMessage(std::string_view name);
// "The voice model of anna is locked by a passphrase"
[[nodiscard]] std::string LockedUserMessage(std::string_view name);
// "anna is protected already" / "anna is not protected"
[[nodiscard]] std::string AlreadyProtectedMessage(std::string_view name);
[[nodiscard]] std::string NotProtectedMessage(std::string_view name);
// "The keyring could not remember the passphrase of anna"
[[nodiscard]] std::string NotRememberedMessage(std::string_view name);

// ---- Adding a protected user ----

// ProtectionOffer (workflow/Users.h): whether "Add new user..." protects the new user: never,
// after asking ProtectQuestion (the window), or always (the command line's --protect).

struct NewUserProtection {
    bool cancelled = false;  // the passphrase was not given: nothing may be written
    bool protect = false;
    PassphraseAnswer answer;
    std::string message;  // the refusal when cancelled (empty for a plain cancel)
};
// The question and the new passphrase (asked twice) for a user about to be added.
[[nodiscard]] NewUserProtection ChooseNewUserProtection(std::string_view name,
                                                        ProtectionOffer offer, FrontEnd& front);

// Writes a new user's protected file (never replacing one) and lets the keyring remember the
// passphrase when the user asked. The path of the file written, or empty with
// kUnableToSaveUsersMessage told.
[[nodiscard]] std::filesystem::path StoreProtectedUser(const std::filesystem::path& speakersDir,
                                                       std::string_view name,
                                                       std::span<const VoiceCodebook, 3> codebooks,
                                                       float threshold,
                                                       const PassphraseAnswer& answer,
                                                       FrontEnd& front);

// ---- Registered users ----

// Makes the models of `name` available: done at once for an ordinary or unlocked user, else
// with the passphrase the keyring remembers or, failing that, the one the front end gives. A
// wrong passphrase is refused with WrongPassphraseMessage and changes nothing; asking again
// is the caller's (the user's) choice.
[[nodiscard]] StepResult UnlockUser(Users& users, std::string_view name, FrontEnd& front);

// "protect NAME": writes the user's protected file under a new passphrase, then deletes the
// user's ordinary speaker files. When one cannot be deleted the protected file is removed
// again, so that the folder stays as it was.
[[nodiscard]] StepResult ProtectUser(Users& users, std::string_view name, FrontEnd& front);
// "unprotect NAME": with the passphrase, writes the ordinary speaker file, then deletes the
// protected one and forgets the keyring's item.
[[nodiscard]] StepResult UnprotectUser(Users& users, std::string_view name, FrontEnd& front);
// "passphrase NAME": with the passphrase, replaces the protected file by one under a new
// passphrase (atomically); the keyring then holds the new one or none.
[[nodiscard]] StepResult ChangePassphrase(Users& users, std::string_view name, FrontEnd& front);

}  // namespace quorvane
