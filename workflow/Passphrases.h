#pragma once

// Passphrases of protected users, as the workflows of users and of protection share them: their
// texts, asking a new passphrase (and whether to protect a new user at all), letting the keyring
// remember one, and the notes on a name whose protection was interrupted.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "keyring/Keyring.h"
#include "speaker/ProtectedFile.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"

namespace quorvane {

// ---- Texts ----

inline constexpr std::string_view kProtectCaption = "Add new user";
inline constexpr std::string_view kEmptyPassphraseMessage = "The passphrase is empty";
inline constexpr std::string_view kPassphrasesDiffer = "The two passphrases differ";
inline constexpr std::string_view kSamePassphraseMessage =
    "The new passphrase is the same as the old one";
inline constexpr std::string_view kKeyringUnavailableMessage =
    "No keyring is available to remember passphrases: the passphrase is asked";
// "Protect anna's voice model with a passphrase?"
[[nodiscard]] std::string ProtectQuestion(std::string_view name);
// "Wrong passphrase for anna"
[[nodiscard]] std::string WrongPassphraseMessage(std::string_view name);
// "No passphrase given for anna", with the front end's reason when it has one
[[nodiscard]] std::string NoPassphraseMessage(std::string_view name, std::string_view reason = {});
// "The keyring could not remember the passphrase of anna"
[[nodiscard]] std::string NotRememberedMessage(std::string_view name);

// The note on a name listed from both an ordinary and a protected file.
[[nodiscard]] std::string InterruptedProtectionNote(std::string_view name,
                                                    const std::filesystem::path& ordinary,
                                                    const std::filesystem::path& protectedFile);
// The note when the next unlock finished such a protection.
[[nodiscard]] std::string ProtectionFinishedMessage(
    std::string_view name, const std::vector<std::filesystem::path>& removed);
// The note when the two files hold different models: neither is touched.
[[nodiscard]] std::string TwoModelsMessage(std::string_view name,
                                           const std::vector<std::filesystem::path>& ordinary,
                                           const std::filesystem::path& protectedFile);

// Speaker files kept aside (name.spk.kept-N) may hold the user's unprotected model.
inline constexpr std::string_view kKeptFilesCaption = "Kept speaker files";
// "anna.spk.kept-1 holds ... Overwrite and remove it?"
[[nodiscard]] std::string KeptFilesQuestion(std::string_view name,
                                            const std::vector<std::filesystem::path>& kept);
// "anna.spk.kept-1 still holds an unprotected voice model of anna"
[[nodiscard]] std::string KeptFilesStayMessage(std::string_view name,
                                               const std::vector<std::filesystem::path>& kept);
// The same for a protected user, with the way to remove them: KeptFilesStayMessage + ". To
// overwrite and remove " + (it/them) + ", protect " + name + " again and answer Yes (command
// line: protect " + name + " --yes)"
[[nodiscard]] std::string KeptFilesStayNote(std::string_view name,
                                            const std::vector<std::filesystem::path>& kept);
// "anna.spk.kept-1 was overwritten and removed"
[[nodiscard]] std::string KeptFilesRemovedMessage(const std::vector<std::filesystem::path>& kept);

// ---- Asking ----

// How "Add new user..." offers protection: never, after asking ProtectQuestion (the window), or
// always (the command line's --protect).
enum class ProtectionOffer { None, Ask, Required };

// A new passphrase, typed twice by the front end; refused when not given or empty.
[[nodiscard]] StepResult AskNewPassphrase(std::string_view name, FrontEnd& front,
                                          PassphraseAnswer& answer);

struct NewUserProtection {
    bool cancelled = false;  // the passphrase was not given: nothing may be written
    bool protect = false;
    PassphraseAnswer answer;
    std::string message;  // the refusal when cancelled (empty for a plain cancel)
};
// The question and the new passphrase (asked twice) for a user about to be added.
[[nodiscard]] NewUserProtection ChooseNewUserProtection(std::string_view name,
                                                        ProtectionOffer offer, FrontEnd& front);

// ---- The keyring ----

// The keyring's entry of a protected file.
[[nodiscard]] KeyringEntry EntryOf(const std::filesystem::path& file,
                                   const ProtectedHeader& header);
// Lets the keyring remember the passphrase when the user asked; says when it could not.
void RememberIfAsked(const KeyringEntry& entry, const PassphraseAnswer& answer, FrontEnd& front);

}  // namespace quorvane
