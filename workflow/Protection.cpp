#include "workflow/Protection.h"

#include <algorithm>
#include <array>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "files/NameLock.h"
#include "files/PathText.h"
#include "keyring/Keyring.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// kUnableToSaveUsersMessage, with the file and the reason beneath it.
StepResult UnableToSave(const Failure& failure) {
    return StepResult::Refused(std::string(kUnableToSaveUsersMessage), failure);
}

StepResult CanNotDelete(const Failure& failure) {
    return StepResult::Refused(std::string(kCanNotDeleteFilePrefix) + PathText(failure.path()),
                               failure);
}

// The key of the models stored in a file, read back after it was written: the models the user
// is left with must give the key the user's files were encoded under.
std::optional<GostKey> OrdinaryFileKey(const fs::path& path) {
    std::string name;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    if (!ReadSpeakerFile(path, name, codebooks, threshold)) {
        return std::nullopt;
    }
    return DeriveUserKey(codebooks);
}

std::optional<GostKey> ProtectedFileKey(const fs::path& path, std::span<const char> passphrase) {
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    if (!ReadProtectedFile(path, passphrase, codebooks, threshold)) {
        return std::nullopt;
    }
    return DeriveUserKey(codebooks);
}

// The refusal of a protected file before any key is derived from it, with its reason: costs
// outside the bounds, or a file that cannot be read, is too large or is no protected file.
StepResult ImageRefusal(const Failure& failure) {
    if (IsCostOutOfBounds(failure)) {
        return StepResult::Refused(PathText(failure.path()) + ": " + failure.Reason());
    }
    return StepResult::Refused(std::string(kCanNotLoadFilePrefix) + PathText(failure.path()),
                               failure);
}

// The ordinary files beside an unlocked protected user (an interrupted protection): removed,
// overwritten, when they give the same key; left, with the user told, when they do not.
void FinishInterruptedProtection(Users& users, UserRecord& record, FrontEnd& front) {
    const Result<NameLock> lock = NameLock::Acquire(users.SpeakersDir(), record.name);
    if (!lock) {
        front.FileProblem(std::string(kCanNotDeleteFilePrefix) + PathText(lock.error().path()),
                          lock.error().Reason());
        return;
    }
    const std::vector<fs::path> ordinary = FindOrdinaryFiles(users.SpeakersDir(), record.name);
    const GostKey key = DeriveUserKey(record.codebooks);
    for (const fs::path& path : ordinary) {
        if (OrdinaryFileKey(path) != key) {
            front.Notice(TwoModelsMessage(record.name, ordinary, record.protectedFile));
            return;
        }
    }
    const UserFileDeletion removed = RemoveOverwritten(ordinary);
    for (const Failure& failure : removed.failed) {
        front.FileProblem(std::string(kCanNotDeleteFilePrefix) + PathText(failure.path()),
                          failure.Reason());
    }
    if (removed.failed.empty()) {
        record.unprotectedCopy = false;
        if (!ordinary.empty()) {
            front.Notice(ProtectionFinishedMessage(record.name, ordinary));
        }
    }
}

// The registered user `name`, protected; refused otherwise.
StepResult FindProtectedUser(Users& users, std::string_view name) {
    const UserRecord* found = users.List().Find(name);
    if (found == nullptr) {
        return StepResult::Refused(UserNotFoundMessage(name));
    }
    if (found->protectedFile.empty()) {
        return StepResult::Refused(NotProtectedMessage(name));
    }
    return StepResult::Done();
}

// Protecting a protected user again: the files kept aside for the name, which may hold its
// unprotected model, are overwritten and removed with the user's consent; without any, or
// without consent, the user is protected already.
StepResult RemoveKeptFilesOfProtected(Users& users, std::string_view name, FrontEnd& front) {
    const fs::path& folder = users.SpeakersDir();
    const std::vector<fs::path> kept = FindKeptFiles(folder, name, kSpeakerFileExtension);
    if (kept.empty()) {
        return StepResult::Refused(AlreadyProtectedMessage(name));
    }
    if (!front.Ask(KeptFilesQuestion(name, kept), kKeptFilesCaption, FrontEnd::Icon::Warning)) {
        front.Notice(KeptFilesStayNote(name, kept));
        return StepResult::Refused(AlreadyProtectedMessage(name));
    }
    const Result<NameLock> lock = NameLock::Acquire(folder, name);
    if (!lock) {
        return StepResult::Refused(NameNotLockedMessage(name, PathText(lock.error().path())),
                                   lock.error());
    }
    const UserFileDeletion removed = RemoveOverwritten(kept);
    std::vector<fs::path> gone;
    for (const fs::path& path : kept) {
        if (std::none_of(removed.failed.begin(), removed.failed.end(),
                         [&path](const Failure& failure) { return failure.path() == path; })) {
            gone.push_back(path);
        }
    }
    if (!gone.empty()) {
        front.Notice(KeptFilesRemovedMessage(gone));
    }
    if (!removed.failed.empty()) {
        return CanNotDelete(removed.failed.front());
    }
    return StepResult::Done();
}

}  // namespace

std::string LockedUserMessage(std::string_view name) {
    return "The voice model of " + std::string(name) + " is locked by a passphrase";
}

std::string AlreadyProtectedMessage(std::string_view name) {
    return std::string(name) + " is protected already";
}

std::string StillProtectedMessage(std::string_view name) {
    return std::string(name) + " stays protected: its speaker files hold different voice models";
}

std::string NotProtectedMessage(std::string_view name) {
    return std::string(name) + " is not protected";
}

StepResult UnlockUser(Users& users, std::string_view name, FrontEnd& front) {
    UserRecord* record = users.Records().FindToChange(name);
    if (record == nullptr) {
        return StepResult::Refused(UserNotFoundMessage(name));
    }
    if (!record->locked) {
        return StepResult::Done();
    }
    // Read once, judged before anything is asked or derived.
    const Result<ProtectedImage> image = ReadProtectedImage(record->protectedFile);
    if (!image) {
        return ImageRefusal(image.error());
    }
    const KeyringEntry entry = EntryOf(record->protectedFile, image->header);
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    SecretText recalled;
    // A remembered passphrase that no longer fits (changed elsewhere) is asked for instead.
    const auto wrongPassphrase = [](const Status& status) {
        return !status && status.error().code() == SpeakerError::WrongPassphrase;
    };
    Status status = RecallPassphrase(entry, recalled) == KeyringStatus::Done
                        ? UnlockProtectedImage(*image, recalled, codebooks, threshold)
                        : Status(Failure(MakeError(SpeakerError::WrongPassphrase), image->path));
    if (wrongPassphrase(status)) {
        const PassphraseAnswer answer = front.AskPassphrase(name, false);
        if (!answer.given) {
            return StepResult::Refused(NoPassphraseMessage(name, answer.refusal));
        }
        if (answer.passphrase.empty()) {
            return StepResult::Refused(std::string(kEmptyPassphraseMessage));
        }
        status = UnlockProtectedImage(*image, answer.passphrase, codebooks, threshold);
        if (status) {
            RememberIfAsked(entry, answer, front);
        }
    }
    if (wrongPassphrase(status)) {
        return StepResult::Refused(WrongPassphraseMessage(name));
    }
    if (!status) {
        return StepResult::Refused(
            std::string(kCanNotLoadFilePrefix) + PathText(record->protectedFile), status.error());
    }
    record->codebooks = std::move(codebooks);
    record->threshold = threshold;
    record->locked = false;
    if (record->unprotectedCopy) {
        FinishInterruptedProtection(users, *record, front);
    }
    return StepResult::Done();
}

StepResult ProtectUser(Users& users, std::string_view name, FrontEnd& front) {
    UserRecord* record = users.Records().FindToChange(name);
    if (record == nullptr) {
        return StepResult::Refused(UserNotFoundMessage(name));
    }
    if (!record->protectedFile.empty()) {
        return RemoveKeptFilesOfProtected(users, name, front);
    }
    PassphraseAnswer answer;
    if (const StepResult asked = AskNewPassphrase(name, front, answer); !asked.done) {
        return asked;
    }
    const fs::path& folder = users.SpeakersDir();
    const std::vector<fs::path> kept = FindKeptFiles(folder, name, kSpeakerFileExtension);
    const bool removeKept = !kept.empty() && front.Ask(KeptFilesQuestion(name, kept),
                                                       kKeptFilesCaption, FrontEnd::Icon::Warning);

    const Result<NameLock> lock = NameLock::Acquire(folder, name);
    if (!lock) {
        return UnableToSave(lock.error());
    }
    StoreForm form;
    form.passphrase = std::span<const char>(answer.passphrase);
    form.besideOtherForm = true;
    const Result<fs::path> stored =
        StoreUser(folder, name, record->codebooks, record->threshold, form);
    if (!stored) {
        return UnableToSave(stored.error());
    }
    // The ordinary files go only once the protected one gives the user's key.
    if (ProtectedFileKey(*stored, answer.passphrase) != DeriveUserKey(record->codebooks)) {
        static_cast<void>(RemoveOverwritten({*stored}));
        return UnableToSave(Failure(MakeError(SpeakerError::NotReadBack), *stored));
    }
    record->protectedFile = *stored;
    ProtectedHeader header;
    if (ReadProtectedHeader(*stored, header)) {
        RememberIfAsked(EntryOf(*stored, header), answer, front);
    }
    const UserFileDeletion ordinary = RemoveOverwritten(FindOrdinaryFiles(folder, name));
    if (!ordinary.failed.empty()) {
        // Protected, with an unprotected copy left: the next unlock removes it.
        record->unprotectedCopy = true;
        return CanNotDelete(ordinary.failed.front());
    }
    // The user is protected now; a kept file that stays is told, not a failure of the step.
    std::vector<fs::path> stay = kept;
    if (removeKept) {
        stay.clear();
        for (const Failure& failure : RemoveOverwritten(kept).failed) {
            front.FileProblem(std::string(kCanNotDeleteFilePrefix) + PathText(failure.path()),
                              failure.Reason());
            stay.push_back(failure.path());
        }
    }
    if (!stay.empty()) {
        front.Notice(KeptFilesStayNote(name, stay));
    }
    return StepResult::Done();
}

StepResult UnprotectUser(Users& users, std::string_view name, FrontEnd& front) {
    if (StepResult found = FindProtectedUser(users, name); !found.done) {
        return found;
    }
    // An unlock done here tells of two different models in its own note (UnlockUser).
    const bool unlockedHere = users.List().Find(name)->locked;
    if (StepResult unlocked = UnlockUser(users, name, front); !unlocked.done) {
        return unlocked;
    }
    UserRecord* record = users.Records().FindToChange(name);
    const fs::path& folder = users.SpeakersDir();
    if (record->unprotectedCopy) {
        // Two different models of the name: which one to keep is the user's decision. It is
        // told once.
        if (unlockedHere) {
            return StepResult::Refused(StillProtectedMessage(name));
        }
        return StepResult::Refused(
            TwoModelsMessage(name, FindOrdinaryFiles(folder, name), record->protectedFile));
    }
    const Result<NameLock> lock = NameLock::Acquire(folder, name);
    if (!lock) {
        return UnableToSave(lock.error());
    }
    StoreForm form;
    form.besideOtherForm = true;
    const Result<fs::path> stored =
        StoreUser(folder, name, record->codebooks, record->threshold, form);
    if (!stored) {
        return UnableToSave(stored.error());
    }
    if (OrdinaryFileKey(*stored) != DeriveUserKey(record->codebooks)) {
        static_cast<void>(RemoveOverwritten({*stored}));
        return UnableToSave(Failure(MakeError(SpeakerError::NotReadBack), *stored));
    }
    ProtectedHeader header;
    const bool remembered = ReadProtectedHeader(record->protectedFile, header);
    if (const UserFileDeletion removed = RemoveOverwritten({record->protectedFile});
        !removed.failed.empty()) {
        return CanNotDelete(removed.failed.front());
    }
    if (remembered) {
        static_cast<void>(ForgetPassphrase(EntryOf(record->protectedFile, header)));
    }
    record->protectedFile.clear();
    return StepResult::Done();
}

StepResult ChangePassphrase(Users& users, std::string_view name, FrontEnd& front) {
    if (StepResult found = FindProtectedUser(users, name); !found.done) {
        return found;
    }
    if (StepResult unlocked = UnlockUser(users, name, front); !unlocked.done) {
        return unlocked;
    }
    PassphraseAnswer answer;
    if (const StepResult asked = AskNewPassphrase(name, front, answer); !asked.done) {
        return asked;
    }
    const UserRecord* record = users.List().Find(name);
    const GostKey key = DeriveUserKey(record->codebooks);
    // The same passphrase opens the file as it is: nothing would change.
    if (ProtectedFileKey(record->protectedFile, answer.passphrase) == key) {
        return StepResult::Refused(std::string(kSamePassphraseMessage));
    }
    ProtectedHeader before;
    const bool remembered = ReadProtectedHeader(record->protectedFile, before);
    const Result<NameLock> lock = NameLock::Acquire(users.SpeakersDir(), name);
    if (!lock) {
        return UnableToSave(lock.error());
    }
    if (const Status written =
            WriteProtectedFile(record->protectedFile, name, record->codebooks, record->threshold,
                               answer.passphrase, kProtectionKdf, OutputMode::Replace);
        !written) {
        return UnableToSave(written.error().At(record->protectedFile));
    }
    // A change is reported only once the new file opens with the new passphrase.
    if (ProtectedFileKey(record->protectedFile, answer.passphrase) != key) {
        return UnableToSave(
            Failure(MakeError(SpeakerError::NotReadBackWithNewPassphrase), record->protectedFile));
    }
    // The old passphrase is of no use any more; the new one is kept only when asked.
    if (remembered) {
        static_cast<void>(ForgetPassphrase(EntryOf(record->protectedFile, before)));
    }
    ProtectedHeader after;
    if (ReadProtectedHeader(record->protectedFile, after)) {
        RememberIfAsked(EntryOf(record->protectedFile, after), answer, front);
    }
    return StepResult::Done();
}

}  // namespace quorvane
