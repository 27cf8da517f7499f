#include "workflow/Protection.h"

#include <array>
#include <atomic>
#include <system_error>
#include <utility>

#include "files/PathText.h"
#include "keyring/Keyring.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// Says once per run that the keyring cannot help, then the passphrase is asked each time.
void TellKeyringUnavailable(FrontEnd& front) {
    static std::atomic<bool> told{false};
    if (!told.exchange(true)) {
        front.Notice(std::string(kKeyringUnavailableMessage));
    }
}

// A new passphrase, typed twice by the front end; refused when not given or empty.
StepResult AskNewPassphrase(std::string_view name, FrontEnd& front, PassphraseAnswer& answer) {
    answer = front.AskPassphrase(name, true);
    if (!answer.given) {
        return {false, NoPassphraseMessage(name)};
    }
    if (answer.passphrase.empty()) {
        return {false, std::string(kEmptyPassphraseMessage)};
    }
    return {true, {}};
}

void RememberIfAsked(const fs::path& file, std::string_view name, const PassphraseAnswer& answer,
                     FrontEnd& front) {
    if (!answer.remember) {
        return;
    }
    const KeyringStatus status = RememberPassphrase(file, name, answer.passphrase);
    if (status == KeyringStatus::Unavailable) {
        TellKeyringUnavailable(front);
    } else if (status != KeyringStatus::Done) {
        front.Notice(NotRememberedMessage(name));
    }
}

// The ordinary speaker files of the user (not the protected one).
std::vector<fs::path> OrdinaryFiles(const fs::path& speakersDir, std::string_view name) {
    std::vector<fs::path> files;
    for (fs::path& path : FindUserFiles(speakersDir, name)) {
        const std::u8string leaf = path.filename().u8string();
        if (std::string(leaf.begin(), leaf.end()).ends_with(kSpeakerFileExtension)) {
            files.push_back(std::move(path));
        }
    }
    return files;
}

StepResult Refusal(std::string message) {
    return {false, std::move(message)};
}

}  // namespace

std::string ProtectQuestion(std::string_view name) {
    return "Protect " + std::string(name) + "'s voice model with a passphrase?";
}

std::string WrongPassphraseMessage(std::string_view name) {
    return "Wrong passphrase for " + std::string(name);
}

std::string NoPassphraseMessage(std::string_view name) {
    return "No passphrase given for " + std::string(name);
}

std::string LockedUserMessage(std::string_view name) {
    return "The voice model of " + std::string(name) + " is locked by a passphrase";
}

std::string AlreadyProtectedMessage(std::string_view name) {
    return std::string(name) + " is protected already";
}

std::string NotProtectedMessage(std::string_view name) {
    return std::string(name) + " is not protected";
}

std::string NotRememberedMessage(std::string_view name) {
    return "The keyring could not remember the passphrase of " + std::string(name);
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

fs::path StoreProtectedUser(const fs::path& speakersDir, std::string_view name,
                            std::span<const VoiceCodebook, 3> codebooks, float threshold,
                            const PassphraseAnswer& answer, FrontEnd& front) {
    const fs::path path = ProtectedFilePath(speakersDir, name);
    if (!WriteProtectedFile(path, name, codebooks, threshold, answer.passphrase, kProtectionKdf,
                            OutputMode::NoReplace)) {
        front.Notice(std::string(kUnableToSaveUsersMessage));
        return {};
    }
    RememberIfAsked(path, name, answer, front);
    return path;
}

StepResult UnlockUser(Users& users, std::string_view name, FrontEnd& front) {
    UserRecord* record = users.Records().FindToChange(name);
    if (record == nullptr) {
        return Refusal(UserNotFoundMessage(name));
    }
    if (!record->locked) {
        return {true, {}};
    }
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    SecretText recalled;
    const KeyringStatus recall = RecallPassphrase(record->protectedFile, recalled);
    if (recall == KeyringStatus::Unavailable) {
        TellKeyringUnavailable(front);
    }
    // A remembered passphrase that no longer fits (changed elsewhere) is asked for instead.
    UnlockStatus status =
        recall == KeyringStatus::Done
            ? ReadProtectedFile(record->protectedFile, recalled, codebooks, threshold)
            : UnlockStatus::WrongPassphrase;
    if (status == UnlockStatus::WrongPassphrase) {
        const PassphraseAnswer answer = front.AskPassphrase(name, false);
        if (!answer.given) {
            return Refusal(NoPassphraseMessage(name));
        }
        status = ReadProtectedFile(record->protectedFile, answer.passphrase, codebooks, threshold);
        if (status == UnlockStatus::Done) {
            RememberIfAsked(record->protectedFile, name, answer, front);
        }
    }
    if (status == UnlockStatus::WrongPassphrase) {
        return Refusal(WrongPassphraseMessage(name));
    }
    if (status == UnlockStatus::Damaged) {
        return Refusal(std::string(kCanNotLoadFilePrefix) + PathText(record->protectedFile));
    }
    record->codebooks = std::move(codebooks);
    record->threshold = threshold;
    record->locked = false;
    return {true, {}};
}

StepResult ProtectUser(Users& users, std::string_view name, FrontEnd& front) {
    UserRecord* record = users.Records().FindToChange(name);
    if (record == nullptr) {
        return Refusal(UserNotFoundMessage(name));
    }
    if (!record->protectedFile.empty()) {
        return Refusal(AlreadyProtectedMessage(name));
    }
    PassphraseAnswer answer;
    if (const StepResult asked = AskNewPassphrase(name, front, answer); !asked.done) {
        return asked;
    }
    const fs::path path = StoreProtectedUser(users.SpeakersDir(), name, record->codebooks,
                                             record->threshold, answer, front);
    if (path.empty()) {
        return Refusal(std::string(kUnableToSaveUsersMessage));
    }
    for (const fs::path& ordinary : OrdinaryFiles(users.SpeakersDir(), name)) {
        std::error_code error;
        if (!fs::remove(ordinary, error) || error) {
            // The ordinary file would bring the models back unprotected: undo.
            fs::remove(path, error);
            static_cast<void>(ForgetPassphrase(path));
            return Refusal(std::string(kCanNotDeleteFilePrefix) + PathText(ordinary));
        }
    }
    record->protectedFile = path;
    return {true, {}};
}

namespace {

// The registered user `name`, protected and unlocked; refused otherwise.
StepResult UnlockProtectedUser(Users& users, std::string_view name, FrontEnd& front) {
    const UserRecord* found = users.List().Find(name);
    if (found == nullptr) {
        return Refusal(UserNotFoundMessage(name));
    }
    if (found->protectedFile.empty()) {
        return Refusal(NotProtectedMessage(name));
    }
    return UnlockUser(users, name, front);
}

}  // namespace

StepResult UnprotectUser(Users& users, std::string_view name, FrontEnd& front) {
    if (StepResult unlocked = UnlockProtectedUser(users, name, front); !unlocked.done) {
        return unlocked;
    }
    UserRecord* record = users.Records().FindToChange(name);
    if (StoreUserFiles(users.SpeakersDir(), name, record->codebooks, record->threshold, front) !=
        1) {
        return Refusal(std::string(kUnableToSaveUsersMessage));
    }
    std::error_code error;
    if (!fs::remove(record->protectedFile, error) || error) {
        return Refusal(std::string(kCanNotDeleteFilePrefix) + PathText(record->protectedFile));
    }
    static_cast<void>(ForgetPassphrase(record->protectedFile));
    record->protectedFile.clear();
    return {true, {}};
}

StepResult ChangePassphrase(Users& users, std::string_view name, FrontEnd& front) {
    if (StepResult unlocked = UnlockProtectedUser(users, name, front); !unlocked.done) {
        return unlocked;
    }
    PassphraseAnswer answer;
    if (const StepResult asked = AskNewPassphrase(name, front, answer); !asked.done) {
        return asked;
    }
    const UserRecord* record = users.List().Find(name);
    if (!WriteProtectedFile(record->protectedFile, name, record->codebooks, record->threshold,
                            answer.passphrase, kProtectionKdf, OutputMode::Replace)) {
        front.Notice(std::string(kUnableToSaveUsersMessage));
        return Refusal(std::string(kUnableToSaveUsersMessage));
    }
    // The old passphrase is of no use any more; the new one is kept only when asked.
    static_cast<void>(ForgetPassphrase(record->protectedFile));
    RememberIfAsked(record->protectedFile, name, answer, front);
    return {true, {}};
}

}  // namespace quorvane
