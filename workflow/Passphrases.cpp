#include "workflow/Passphrases.h"

#include <atomic>

#include "files/PathText.h"

namespace quorvane {

namespace {

std::string Leaf(const std::filesystem::path& path) {
    const std::u8string leaf = path.filename().u8string();
    return std::string(leaf.begin(), leaf.end());
}

// "a.spk", "a.spk and b.spk", "a.spk, b.spk and c.spk"
std::string Leaves(const std::vector<std::filesystem::path>& paths) {
    std::string text;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i > 0) {
            text += i + 1 == paths.size() ? " and " : ", ";
        }
        text += Leaf(paths[i]);
    }
    return text;
}

std::string Holds(const std::vector<std::filesystem::path>& paths) {
    return paths.size() == 1 ? " holds" : " hold";
}

}  // namespace

std::string ProtectQuestion(std::string_view name) {
    return "Protect " + std::string(name) + "'s voice model with a passphrase?";
}

std::string WrongPassphraseMessage(std::string_view name) {
    return "Wrong passphrase for " + std::string(name);
}

std::string NoPassphraseMessage(std::string_view name, std::string_view reason) {
    std::string text = "No passphrase given for " + std::string(name);
    if (!reason.empty()) {
        text += ": " + std::string(reason);
    }
    return text;
}

std::string NotRememberedMessage(std::string_view name) {
    return "The keyring could not remember the passphrase of " + std::string(name);
}

std::string InterruptedProtectionNote(std::string_view name, const std::filesystem::path& ordinary,
                                      const std::filesystem::path& protectedFile) {
    return std::string(name) + " is protected (" + Leaf(protectedFile) + "), but " +
           Leaf(ordinary) + " is still there: the protection was interrupted. The next unlock " +
           "with the passphrase finishes it when both hold the same voice model, and otherwise " +
           "says which command resolves it";
}

std::string ProtectionFinishedMessage(std::string_view name,
                                      const std::vector<std::filesystem::path>& removed) {
    return "The protection of " + std::string(name) + " is finished: " + Leaves(removed) +
           (removed.size() == 1 ? " was" : " were") + " overwritten and removed";
}

std::string TwoModelsMessage(std::string_view name,
                             const std::vector<std::filesystem::path>& ordinary,
                             const std::filesystem::path& protectedFile) {
    return Leaves(ordinary) + " (not protected) and " + Leaf(protectedFile) +
           " (protected) hold different voice models of " + std::string(name) +
           ", with different keys; neither was changed. Move the one whose key your files do not " +
           "need out of the Speakers folder, or remove the user to delete both";
}

std::string KeptFilesQuestion(std::string_view name,
                              const std::vector<std::filesystem::path>& kept) {
    return Leaves(kept) + Holds(kept) + " an unprotected voice model of " + std::string(name) +
           " (kept aside when it could not be loaded). Overwrite and remove " +
           (kept.size() == 1 ? "it?" : "them?");
}

std::string KeptFilesStayMessage(std::string_view name,
                                 const std::vector<std::filesystem::path>& kept) {
    return Leaves(kept) + " still" + Holds(kept) + " an unprotected voice model of " +
           std::string(name);
}

std::string KeptFilesStayNote(std::string_view name,
                              const std::vector<std::filesystem::path>& kept) {
    return KeptFilesStayMessage(name, kept) + ". To overwrite and remove " +
           (kept.size() == 1 ? "it" : "them") + ", protect " + std::string(name) +
           " again and answer Yes (command line: protect " + std::string(name) + " --yes)";
}

std::string KeptFilesRemovedMessage(const std::vector<std::filesystem::path>& kept) {
    return Leaves(kept) + (kept.size() == 1 ? " was" : " were") + " overwritten and removed";
}

StepResult AskNewPassphrase(std::string_view name, FrontEnd& front, PassphraseAnswer& answer) {
    answer = front.AskPassphrase(name, true);
    if (!answer.given) {
        return StepResult::Refused(NoPassphraseMessage(name, answer.refusal));
    }
    if (answer.passphrase.empty()) {
        return StepResult::Refused(std::string(kEmptyPassphraseMessage));
    }
    return StepResult::Done();
}

NewUserProtection ChooseNewUserProtection(std::string_view name, ProtectionOffer offer,
                                          FrontEnd& front) {
    NewUserProtection choice;
    if (offer == ProtectionOffer::None ||
        (offer == ProtectionOffer::Ask &&
         !front.Ask(ProtectQuestion(name), kProtectCaption, FrontEnd::Icon::Question))) {
        return choice;
    }
    choice.protect = true;
    const StepResult asked = AskNewPassphrase(name, front, choice.answer);
    if (!asked.done) {
        choice.cancelled = true;
        // A plain cancel of the window ends the command without a word.
        choice.message = offer == ProtectionOffer::Required || choice.answer.given ? asked.message
                                                                                   : std::string();
    }
    return choice;
}

KeyringEntry EntryOf(const std::filesystem::path& file, const ProtectedHeader& header) {
    KeyringEntry entry;
    entry.file = file;
    entry.user = header.name;
    entry.salt = SaltText(header.salt);
    return entry;
}

void RememberIfAsked(const KeyringEntry& entry, const PassphraseAnswer& answer, FrontEnd& front) {
    if (!answer.remember) {
        return;
    }
    const KeyringStatus status = RememberPassphrase(entry, answer.passphrase);
    if (status == KeyringStatus::Unavailable) {
        // Said once per run; then the passphrase is asked each time.
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) {
            front.Notice(std::string(kKeyringUnavailableMessage));
        }
    } else if (status != KeyringStatus::Done) {
        front.Notice(NotRememberedMessage(entry.user));
    }
}

}  // namespace quorvane
