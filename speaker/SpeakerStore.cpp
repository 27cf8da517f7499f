#include "speaker/SpeakerStore.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "files/NameLock.h"
#include "files/Overwrite.h"
#include "files/PlatformFile.h"
#include "speaker/ModelFile.h"

namespace quorvane {

std::filesystem::path SpeakerFilePath(const std::filesystem::path& speakersDir,
                                      std::string_view name) {
    return StoreFilePath(speakersDir, name, kSpeakerFileExtension);
}

std::vector<std::filesystem::path> ListSpeakerFiles(const std::filesystem::path& speakersDir) {
    return ListStoreFiles(speakersDir, kSpeakerFileExtension);
}

Status CreateSpeakersFolder(const std::filesystem::path& speakersDir) {
    std::error_code error;
    if (std::filesystem::is_directory(speakersDir, error)) {
        return {};
    }
    const std::filesystem::path parent = speakersDir.parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
        std::filesystem::create_directories(parent, error);
        if (error) {
            return Failure(error, parent);
        }
    }
    const Status created = CreatePrivateFolder(speakersDir);
    // Another process may have created it in the meantime.
    if (!created && created.error().code() == std::errc::file_exists &&
        std::filesystem::is_directory(speakersDir, error)) {
        return {};
    }
    return created;
}

namespace {

// Whether `path` holds a file of `name` in the given form: an ordinary speaker file that loads,
// or a protected file whose marker names the user (its models need the passphrase).
bool HoldsUser(const std::filesystem::path& path, std::string_view name, bool protectedForm) {
    if (protectedForm) {
        ProtectedHeader header;
        return ReadProtectedHeader(path, header) && header.name == name;
    }
    std::string owner;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    return ReadSpeakerFile(path, owner, codebooks, threshold) && owner == name;
}

// Whether `path` names another user than `name` (its first token, or the protected marker's name).
bool HoldsOtherUser(const std::filesystem::path& path, std::string_view name, bool protectedForm) {
    if (protectedForm) {
        ProtectedHeader header;
        return ReadProtectedHeader(path, header) && header.name != name;
    }
    std::string owner;
    return ReadMarker(path, owner) && owner != name;
}

// Moves the file at `path` to the first free path + ".kept-N"; empty with `error` when it could
// not be moved.
std::filesystem::path MoveAside(const std::filesystem::path& path, std::error_code& error) {
    constexpr int kMaxKept = 1000;
    for (int number = 1; number <= kMaxKept; ++number) {
        std::filesystem::path aside = path;
        aside += std::string(kKeptSpeakerFileInfix) + std::to_string(number);
        const Status renamed = RenameNoReplace(path, aside);
        if (renamed) {
            error.clear();
            return aside;
        }
        error = renamed.error().code();
        if (error != std::errc::file_exists) {
            return {};
        }
    }
    return {};
}

}  // namespace

Result<std::filesystem::path> StoreUser(const std::filesystem::path& speakersDir,
                                        std::string_view name,
                                        std::span<const VoiceCodebook, 3> codebooks,
                                        float threshold, const StoreForm& form,
                                        const std::function<void()>& beforeCommit) {
    const bool protectedForm = form.passphrase.has_value();
    const std::filesystem::path path =
        protectedForm ? ProtectedFilePath(speakersDir, name) : SpeakerFilePath(speakersDir, name);
    const auto refused = [&path](SpeakerError error) { return Failure(MakeError(error), path); };
    const Result<NameLock> lock = NameLock::Acquire(speakersDir, name);
    if (!lock) {
        return lock.error().At(path);
    }
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        if (HoldsOtherUser(path, name, protectedForm)) {
            return refused(SpeakerError::OtherUsersFile);
        }
        if (HoldsUser(path, name, protectedForm)) {
            return refused(SpeakerError::AlreadyStored);
        }
        // Damaged, empty or unreadable: it may still be someone's only copy.
        const std::filesystem::path keptAside = MoveAside(path, error);
        if (keptAside.empty()) {
            return Failure(error, path);
        }
        // A writer that does not take the name's lock (an earlier version) may have stored a good
        // file just before the move: put it back; told as kept aside only when it stays there.
        if (HoldsUser(keptAside, name, protectedForm)) {
            if (!RenameNoReplace(keptAside, path) && form.keptAside) {
                form.keptAside(keptAside);
            }
            return refused(SpeakerError::AlreadyStored);
        }
        if (form.keptAside) {
            form.keptAside(keptAside);
        }
    }
    // One name, one model: the user of the other form is the user already.
    const std::filesystem::path other =
        protectedForm ? SpeakerFilePath(speakersDir, name) : ProtectedFilePath(speakersDir, name);
    if (!form.besideOtherForm && HoldsUser(other, name, !protectedForm)) {
        return refused(SpeakerError::AlreadyStored);
    }
    if (beforeCommit) {
        beforeCommit();
    }
    Status written;
    if (protectedForm) {
        written = WriteProtectedFile(path, name, codebooks, threshold, *form.passphrase, form.kdf,
                                     OutputMode::NoReplace);
    } else {
        const std::vector<std::uint8_t> model = SerialiseModelFile(codebooks, threshold);
        written = EncodeBufferChecked(model, path, name, StoreKey, StoreSubstitutionTable,
                                      OutputMode::NoReplace, FilePrivacy::OwnerOnly);
    }
    if (!written) {
        // A file of that path appeared while this one was written: another enrolment of the name.
        return written.error().code() == std::errc::file_exists
                   ? refused(SpeakerError::AlreadyStored)
                   : written.error().At(path);
    }
    return path;
}

Result<std::filesystem::path> StoreSpeakerFile(const std::filesystem::path& speakersDir,
                                               std::string_view name,
                                               std::span<const VoiceCodebook, 3> codebooks,
                                               float threshold,
                                               const std::function<void()>& beforeCommit) {
    return StoreUser(speakersDir, name, codebooks, threshold, StoreForm{}, beforeCommit);
}

int StoreUserFiles(const std::filesystem::path& speakersDir, std::string_view name,
                   std::span<const VoiceCodebook, 3> codebooks, float threshold,
                   Notifier& notifier) {
    if (StoreSpeakerFile(speakersDir, name, codebooks, threshold)) {
        return 1;
    }
    notifier.Notice(std::string(kUnableToSaveUsersMessage));
    return -1;
}

bool ReadSpeakerFile(const std::filesystem::path& path, std::string& name,
                     std::array<VoiceCodebook, 3>& codebooks, float& threshold) {
    std::string token;
    if (!ReadMarker(path, token)) {
        return false;
    }
    // Speaker files of earlier versions carry no check value; their key is the store's own,
    // so they still load.
    CodingOptions options;
    options.allowUnverified = true;
    const Result<DecodedBuffer<std::vector<std::uint8_t>>> model = DecodeToBufferChecked(
        path, token, StoreKey, StoreSubstitutionTable, kModelFileMaxBytes, options);
    if (!model) {
        return false;
    }
    std::array<VoiceCodebook, 3> loaded;
    float loadedThreshold = 0.0f;
    if (!ParseModelFile(model->plain, loaded, loadedThreshold)) {
        return false;
    }
    name = std::move(token);
    codebooks = std::move(loaded);
    threshold = loadedThreshold;
    return true;
}

int LoadUserFile(const std::filesystem::path& path, UserList& users, Notifier& notifier) {
    std::string name;
    if (!ReadMarker(path, name)) {
        return 0;
    }
    if (users.Find(name) != nullptr) {
        notifier.Notice(AlreadyInListMessage(name));
        return 0;
    }
    std::string decodedName;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    if (!ReadSpeakerFile(path, decodedName, codebooks, threshold) || decodedName != name) {
        notifier.Notice(std::string(kCanNotLoadFilePrefix) + PathText(path));
        return 0;
    }
    AppendUser(users, codebooks, name, threshold);
    return 1;
}

std::int32_t LoadRegisteredUsers(const std::filesystem::path& speakersDir, UserList& users,
                                 Notifier& notifier) {
    std::int32_t loaded = 0;
    for (const std::filesystem::path& path : ListSpeakerFiles(speakersDir)) {
        loaded += LoadUserFile(path, users, notifier);
    }
    return loaded;
}

std::int32_t LoadProtectedUsers(const std::filesystem::path& speakersDir, UserList& users,
                                Notifier& notifier) {
    std::int32_t loaded = 0;
    for (const std::filesystem::path& path : ListProtectedFiles(speakersDir)) {
        std::string token;
        if (!ReadMarker(path, token)) {
            continue;
        }
        ProtectedHeader header;
        if (!ParseProtectedMarker(token, header)) {
            notifier.Notice(std::string(kCanNotLoadFilePrefix) + PathText(path));
            continue;
        }
        if (UserRecord* listed = users.FindToChange(header.name); listed != nullptr) {
            if (!listed->protectedFile.empty()) {
                notifier.Notice(AlreadyInListMessage(header.name));
                continue;
            }
            // Protected and ordinary at once: the protection was interrupted before the ordinary
            // file went. The user counts as protected; the models wait for the passphrase.
            WipeModels(*listed);
            listed->codebooks = {};
            listed->threshold = 0.0f;
            listed->protectedFile = path;
            listed->locked = true;
            listed->unprotectedCopy = true;
            continue;
        }
        UserRecord record;
        record.name = header.name;
        record.protectedFile = path;
        record.locked = true;
        users.Append(std::move(record));
        ++loaded;
    }
    return loaded;
}

std::vector<std::filesystem::path> FindOrdinaryFiles(const std::filesystem::path& speakersDir,
                                                     std::string_view name) {
    std::vector<std::filesystem::path> files;
    for (std::filesystem::path& path : ListSpeakerFiles(speakersDir)) {
        std::string token;
        if (ReadMarker(path, token) && token == name) {
            files.push_back(std::move(path));
        }
    }
    return files;
}

std::vector<std::filesystem::path> FindUserFiles(const std::filesystem::path& speakersDir,
                                                 std::string_view name) {
    std::vector<std::filesystem::path> files = FindOrdinaryFiles(speakersDir, name);
    // A protected user's file is the user's too, found by the name its marker states.
    for (std::filesystem::path& path : ListProtectedFiles(speakersDir)) {
        ProtectedHeader header;
        if (ReadProtectedHeader(path, header) && header.name == name) {
            files.push_back(std::move(path));
        }
    }
    return files;
}

std::int32_t CountUserFiles(const std::filesystem::path& speakersDir, std::string_view name) {
    return static_cast<std::int32_t>(FindUserFiles(speakersDir, name).size());
}

UserFileDeletion RemoveOverwritten(const std::vector<std::filesystem::path>& files) {
    UserFileDeletion result;
    for (const std::filesystem::path& path : files) {
        if (const Status removed = OverwriteAndRemove(path); removed) {
            ++result.deleted;
        } else {
            result.failed.push_back(removed.error());
        }
    }
    return result;
}

UserFileDeletion DeleteUserFiles(const std::filesystem::path& speakersDir, std::string_view name) {
    const Result<NameLock> lock = NameLock::Acquire(speakersDir, name);
    if (!lock) {
        UserFileDeletion refused;
        for (const std::filesystem::path& path : FindUserFiles(speakersDir, name)) {
            refused.failed.push_back(lock.error().At(path));
        }
        return refused;
    }
    return RemoveOverwritten(FindUserFiles(speakersDir, name));
}

}  // namespace quorvane
