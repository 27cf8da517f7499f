#include "workflow/Users.h"

#include <algorithm>
#include <fstream>
#include <span>
#include <system_error>
#include <utility>

#include "files/AtomicFile.h"
#include "files/FileSystem.h"
#include "files/NameLock.h"
#include "files/Secret.h"
#include "keyring/Keyring.h"
#include "speaker/KeyFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "speaker/UserName.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// The key file, opened before the user is stored and committed after.
class PendingKeyFile final {
public:
    // Owner-only from its first byte; never replaces a file that appears meanwhile, which
    // may be the only key of older files.
    explicit PendingKeyFile(const fs::path& path)
        : file_(path, OutputMode::NoReplace, FilePrivacy::OwnerOnly) {}
    [[nodiscard]] Status Open() { return file_.Open(); }
    [[nodiscard]] Status Commit(std::string_view name, const GostKey& key) {
        const std::string text = FormatKeyFile(name, key);
        const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
        const Status written = file_.Write(std::span<const std::uint8_t>(data, text.size()));
        return written ? file_.Commit() : written;
    }

private:
    AtomicFile file_;
};

// The key file of a user just added: the one opened early, or, when the user agrees, one in the
// place the user chooses. A key file that cannot be saved leaves the user added, with the file
// and its cause in the result.
void SaveKeyFile(std::string_view name, const GostKey& key, std::optional<PendingKeyFile>& early,
                 FrontEnd& front, AddUserResult& result) {
    Status saved;
    if (early) {
        saved = early->Commit(name, key);
    } else {
        if (!front.Ask(kSecurityKeyQuestion, kSecurityKeyCaption, FrontEnd::Icon::Question)) {
            return;
        }
        result.keyFile = front.ChooseKeyFile(std::string(name) + std::string(kKeyFileNameSuffix));
        if (result.keyFile.empty()) {
            return;
        }
        saved = WriteKeyFile(result.keyFile, name, key);
    }
    result.keySaved = static_cast<bool>(saved);
    if (!saved) {
        result.message = std::string(kKeyFileNotSavedMessage) + PathText(result.keyFile);
        result.cause = saved.error();
    }
}

}  // namespace

std::optional<std::string_view> NameRefusal(std::string_view name) {
    switch (CheckUserName(name)) {
        case NameProblem::Empty:
            return kEnterNameMessage;
        case NameProblem::ForbiddenSymbol:
            return kForbiddenSymbolsMessage;
        case NameProblem::TooLong:
            return kNameTooLongMessage;
        case NameProblem::None:
            break;
    }
    return std::nullopt;
}

std::optional<std::string_view> KeyFileRefusal(const fs::path& keyFile) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(keyFile, error))) {
        return kKeyFileExistsMessage;
    }
    const fs::path folder = keyFile.parent_path();
    if (!folder.empty() && !fs::is_directory(folder, error)) {
        return kKeyFileFolderMissingMessage;
    }
    return std::nullopt;
}

std::vector<std::string> SpeakersFolderNotes(const fs::path& speakersDir, bool named) {
    std::vector<std::string> notes;
    std::error_code error;
    // A reservation an ended writer left is not a speaker file to tell of.
    static_cast<void>(RemoveStaleTemporaries(speakersDir));
    if (named && !fs::is_directory(speakersDir, error)) {
        notes.push_back(PathText(speakersDir) + ": the Speakers folder does not exist");
    }
    for (const fs::path& file : ListSpeakerFiles(speakersDir)) {
        if (fs::file_size(file, error) == 0 && !error) {
            notes.push_back(PathText(file) + ": empty speaker file, skipped");
        } else if (!std::ifstream(file, std::ios::binary).is_open()) {
            notes.push_back(PathText(file) + ": the speaker file can not be read, skipped");
        }
    }
    return notes;
}

std::optional<std::string> SpeakersFolderPrivacyNote(const fs::path& speakersDir,
                                                     const UserList& users) {
    const bool anyUnprotected = std::any_of(
        users.begin(), users.end(), [](const UserRecord& r) { return r.protectedFile.empty(); });
    std::error_code error;
    if (!anyUnprotected || !fs::is_directory(speakersDir, error) || KeepsOwnerOnly(speakersDir)) {
        return std::nullopt;
    }
    return PathText(speakersDir) +
           ": the Speakers folder can not be made readable by its owner only on this file system "
           "(the mount decides who may read it): the voice models of users without a passphrase, "
           "and so their keys, are readable by whoever can read the mount; protect them with a "
           "passphrase";
}

Users::Users(fs::path speakersDir) : speakersDir_(std::move(speakersDir)) {}

std::int32_t Users::Load(FrontEnd& front) {
    // Left-overs of ended writers (a reservation at a speaker file's name among them) go first.
    static_cast<void>(RemoveStaleTemporaries(speakersDir_));
    std::int32_t loaded = LoadRegisteredUsers(speakersDir_, list_, front);
    loaded += LoadProtectedUsers(speakersDir_, list_, front);
    for (const UserRecord& record : list_) {
        if (record.unprotectedCopy) {
            const std::vector<fs::path> ordinary = FindOrdinaryFiles(speakersDir_, record.name);
            front.Notice(InterruptedProtectionNote(
                record.name,
                ordinary.empty() ? SpeakerFilePath(speakersDir_, record.name) : ordinary.front(),
                record.protectedFile));
        }
    }
    // A remembered passphrase applies to one file as it was written: one of a file that is gone
    // or was written anew (another salt, another user) is forgotten. A folder that is not there
    // (a drive not mounted) says nothing about its files.
    std::error_code error;
    if (fs::is_directory(speakersDir_, error)) {
        static_cast<void>(ForgetStalePassphrases(speakersDir_, [](const KeyringEntry& entry) {
            ProtectedHeader header;
            return ReadProtectedHeader(entry.file, header) && EntryOf(entry.file, header) == entry;
        }));
    }
    return loaded;
}

std::optional<std::string_view> Users::CheckNewUser(float threshold, std::string_view name) const {
    if (!(threshold > 0.0f)) {
        return kTrainingFirstMessage;
    }
    return CheckNewName(name);
}

std::optional<std::string_view> Users::CheckNewName(std::string_view name) const {
    if (const auto refusal = NameRefusal(name)) {
        return refusal;
    }
    if (list_.Find(name) != nullptr) {
        return kUserExistsMessage;
    }
    return std::nullopt;
}

AddUserResult Users::Add(std::string_view name, const Enrolment& enrolment, FrontEnd& front,
                         const AddUserOptions& options) {
    AddUserResult result;
    if (const auto refusal = CheckNewUser(enrolment.Threshold(), name)) {
        result.message = *refusal;
        return result;
    }
    std::optional<PendingKeyFile> early;
    if (options.keyFile) {
        result.keyFile = *options.keyFile;
        if (const auto refusal = KeyFileRefusal(*options.keyFile)) {
            result.message = PathText(*options.keyFile) + ": " + std::string(*refusal);
            return result;
        }
        early.emplace(*options.keyFile);
        if (const Status opened = early->Open(); !opened) {
            result.message = std::string(kKeyFileNotSavedMessage) + PathText(*options.keyFile);
            result.cause = opened.error();
            return result;
        }
    }
    const NewUserProtection protection = ChooseNewUserProtection(name, options.protection, front);
    if (protection.cancelled) {
        result.message = protection.message;
        return result;
    }
    std::error_code error;
    const bool existed = fs::is_directory(speakersDir_, error);
    if (const Status created = CreateSpeakersFolder(speakersDir_); !created) {
        front.FileProblem(kUnableToSaveUsersMessage, std::string(kSpeakersFolderNotCreatedMessage) +
                                                         PathText(speakersDir_) + " (" +
                                                         created.error().Reason() + ")");
        result.message = kUnableToAddUserMessage;
        return result;
    }
    result.createdFolder = !existed;
    StoreForm form;
    if (protection.protect) {
        form.passphrase = std::span<const char>(protection.answer.passphrase);
    }
    form.keptAside = [&](const fs::path& keptAside) {
        result.keptAside = keptAside;
        front.Notice(SpeakerFileKeptMessage(PathText(result.speakerFile), PathText(keptAside)));
    };
    result.speakerFile = protection.protect ? ProtectedFilePath(speakersDir_, name)
                                            : SpeakerFilePath(speakersDir_, name);
    const Result<fs::path> stored = StoreUser(speakersDir_, name, enrolment.PhraseCodebooks(),
                                              enrolment.Threshold(), form, options.beforeCommit);
    if (!stored && stored.error().code() == SpeakerError::AlreadyStored) {
        // Another enrolment of the name won; the key file opened early is discarded unwritten.
        result.message = SpeakerFileAppearedMessage(name);
        return result;
    }
    if (!stored) {
        // Every refusal names its cause: the file, and why it could not be written.
        const Failure& failure = stored.error();
        const std::string reason = failure.code() == SpeakerError::OtherUsersFile
                                       ? PathText(failure.path()) + " holds another user"
                                       : CauseText(kUnableToSaveUsersMessage, failure);
        front.FileProblem(kUnableToSaveUsersMessage, reason);
        result.message = kUnableToAddUserMessage;
        return result;
    }
    AppendUser(list_, enrolment.PhraseCodebooks(), name, enrolment.Threshold());
    if (protection.protect) {
        list_.FindToChange(name)->protectedFile = *stored;
        ProtectedHeader header;
        if (ReadProtectedHeader(*stored, header)) {
            RememberIfAsked(EntryOf(*stored, header), protection.answer, front);
        }
    }
    result.done = true;
    front.UserAdded(name);
    GostKey key = DeriveUserKey(enrolment.PhraseCodebooks());
    const WipeOnExit<GostKey> wipe(key);
    SaveKeyFile(name, key, early, front, result);
    return result;
}

std::string NameNotLockedMessage(std::string_view name, std::string_view lockFile) {
    return "Can not lock the name " + std::string(name) + ": " + std::string(lockFile);
}

std::string UserNotRemovedMessage(std::string_view name, const std::vector<fs::path>& stay) {
    std::string files;
    for (const fs::path& path : stay) {
        files += (files.empty() ? "" : ", ") + PathText(path);
    }
    return "User " + std::string(name) + " was not removed: " + files +
           (stay.size() == 1 ? " stays" : " stay") + ", and the user is loaded again next time";
}

std::string UserRemovedSummary(std::string_view name, const RemoveUserResult& removed) {
    std::string text = "User " + std::string(name) + " removed (" +
                       std::to_string(removed.deleted) + " speaker file(s) deleted";
    if (removed.keptDeleted > 0) {
        text += ", and " + std::to_string(removed.keptDeleted) + " kept file(s)";
    }
    return text + "). Files encoded for " + std::string(name) +
           " can now be decoded only with the security key file.";
}

RemoveUserResult Users::Remove(std::string_view name, FrontEnd& front) {
    RemoveUserResult result;
    if (list_.empty()) {
        result.message = kNoRegisteredUsersMessage;
        return result;
    }
    if (list_.Find(name) == nullptr) {
        result.message = kUserNotExistsMessage;
        return result;
    }
    if (!front.Ask(kRemoveWarningQuestion, kRemoveWarningCaption, FrontEnd::Icon::Warning)) {
        return result;
    }
    result.confirmed = true;
    const std::int32_t files = CountUserFiles(speakersDir_, name);
    if (files >= 2 &&
        !front.Ask(SeveralFilesQuestion(files), kSeveralFilesCaption, FrontEnd::Icon::Error)) {
        result.filesKept = true;
    }
    result.keptFiles = FindKeptFiles(speakersDir_, name, kSpeakerFileExtension);
    const bool removeKept = !result.filesKept && !result.keptFiles.empty() &&
                            front.Ask(KeptFilesQuestion(name, result.keptFiles), kKeptFilesCaption,
                                      FrontEnd::Icon::Warning);
    bool locked = true;
    if (!result.filesKept) {
        const UserRecord* record = list_.Find(name);
        ProtectedHeader header;
        const bool remembered = record != nullptr && !record->protectedFile.empty() &&
                                ReadProtectedHeader(record->protectedFile, header);
        UserFileDeletion deletion;
        const Result<NameLock> lock = NameLock::Acquire(speakersDir_, name);
        locked = lock.has_value();
        if (!lock) {
            // Another command writes the name's files, or the folder lets no lock be taken:
            // none is touched, and the lock is named as the cause.
            front.FileProblem(NameNotLockedMessage(name, PathText(lock.error().path())),
                              lock.error().Reason());
            result.failed = FindUserFiles(speakersDir_, name);
        } else {
            deletion = DeleteUserFiles(speakersDir_, name);
            result.deleted = deletion.deleted;
            for (const Failure& failure : deletion.failed) {
                result.failed.push_back(failure.path());
            }
            if (removeKept) {
                const UserFileDeletion kept = RemoveOverwritten(result.keptFiles);
                result.keptDeleted = kept.deleted;
                deletion.failed.insert(deletion.failed.end(), kept.failed.begin(),
                                       kept.failed.end());
                result.keptFiles.clear();
                for (const Failure& failure : kept.failed) {
                    result.keptFiles.push_back(failure.path());
                }
            }
        }
        for (const Failure& failure : deletion.failed) {
            front.FileProblem(std::string(kCanNotDeleteFilePrefix) + PathText(failure.path()),
                              failure.Reason());
        }
        // A remembered passphrase of a protected file that is gone is of no use any more.
        std::error_code error;
        if (remembered && !fs::exists(record->protectedFile, error)) {
            static_cast<void>(ForgetPassphrase(EntryOf(record->protectedFile, header)));
        }
    }
    if (!result.keptFiles.empty()) {
        front.Notice(KeptFilesStayMessage(name, result.keptFiles));
    }
    // A speaker file of the name that stays brings the user back at the next start: the user is
    // not removed, and is told so.
    if (!locked || !result.failed.empty()) {
        result.message = UserNotRemovedMessage(name, result.failed);
        return result;
    }
    list_.Remove(name);
    result.done = true;
    return result;
}

}  // namespace quorvane
