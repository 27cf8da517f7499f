#include "speaker/SpeakerStore.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "files/PlatformFile.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"

namespace quorvane {

namespace {

// The file name as bytes, for the byte-order sort and the extension test.
std::string NameBytes(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

}  // namespace

std::string AlreadyInListMessage(std::string_view name) {
    return "User " + std::string(name) + " already is in the list";
}

std::filesystem::path StoreFilePath(const std::filesystem::path& speakersDir, std::string_view name,
                                    std::string_view extension) {
    const std::string leaf = std::string(name) + std::string(extension);
    return speakersDir / std::u8string(leaf.begin(), leaf.end());
}

std::filesystem::path SpeakerFilePath(const std::filesystem::path& speakersDir,
                                      std::string_view name) {
    return StoreFilePath(speakersDir, name, kSpeakerFileExtension);
}

std::vector<std::filesystem::path> ListSpeakerFiles(const std::filesystem::path& speakersDir) {
    return ListStoreFiles(speakersDir, kSpeakerFileExtension);
}

std::vector<std::filesystem::path> ListStoreFiles(const std::filesystem::path& speakersDir,
                                                  std::string_view extension) {
    std::vector<std::pair<std::string, std::filesystem::path>> found;
    std::error_code error;
    std::filesystem::directory_iterator it(speakersDir, error);
    if (error) {
        return {};
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        std::string name = NameBytes(it->path());
        if (!name.ends_with(extension)) {
            continue;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) {
            continue;
        }
        found.emplace_back(std::move(name), it->path());
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::filesystem::path> paths;
    paths.reserve(found.size());
    for (auto& entry : found) {
        paths.push_back(std::move(entry.second));
    }
    return paths;
}

bool CreateSpeakersFolder(const std::filesystem::path& speakersDir, std::error_code& error) {
    error.clear();
    if (std::filesystem::is_directory(speakersDir, error)) {
        return true;
    }
    const std::filesystem::path parent = speakersDir.parent_path();
    if (!parent.empty() && !std::filesystem::is_directory(parent, error)) {
        std::filesystem::create_directories(parent, error);
        if (error) {
            return false;
        }
    }
    if (CreatePrivateFolder(speakersDir, error)) {
        return true;
    }
    // Another process may have created it in the meantime.
    std::error_code again;
    if (error == std::errc::file_exists && std::filesystem::is_directory(speakersDir, again)) {
        error.clear();
        return true;
    }
    return false;
}

namespace {

// Whether `path` holds a speaker file of `name` that loads.
bool HoldsLoadableUser(const std::filesystem::path& path, std::string_view name) {
    std::string owner;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    return ReadSpeakerFile(path, owner, codebooks, threshold) && owner == name;
}

// Moves the file at `path` to the first free path + ".kept-N"; empty with `error` when it could
// not be moved.
std::filesystem::path MoveAside(const std::filesystem::path& path, std::error_code& error) {
    constexpr int kMaxKept = 1000;
    for (int number = 1; number <= kMaxKept; ++number) {
        std::filesystem::path aside = path;
        aside += std::string(kKeptSpeakerFileInfix) + std::to_string(number);
        error = RenameNoReplace(path, aside);
        if (!error) {
            return aside;
        }
        if (error != std::errc::file_exists) {
            return {};
        }
    }
    return {};
}

}  // namespace

StoreResult StoreSpeakerFile(const std::filesystem::path& speakersDir, std::string_view name,
                             std::span<const VoiceCodebook, 3> codebooks, float threshold,
                             const std::function<void()>& beforeCommit) {
    StoreResult result;
    result.path = SpeakerFilePath(speakersDir, name);
    const std::filesystem::path& path = result.path;
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
        std::string owner;
        if (ReadMarker(path, owner) && owner != name) {
            result.status = StoreStatus::OtherUsersFile;
            return result;
        }
        if (HoldsLoadableUser(path, name)) {
            result.status = StoreStatus::AlreadyStored;
            return result;
        }
        // Damaged, empty or unreadable: it may still be someone's only copy.
        result.keptAside = MoveAside(path, result.error);
        if (result.keptAside.empty()) {
            return result;
        }
        // Another enrolment may have stored a good file just before the move: put it back.
        if (HoldsLoadableUser(result.keptAside, name)) {
            if (!RenameNoReplace(result.keptAside, path)) {
                result.keptAside.clear();
            }
            result.status = StoreStatus::AlreadyStored;
            return result;
        }
    }
    if (beforeCommit) {
        beforeCommit();
    }
    const std::vector<std::uint8_t> model = SerialiseModelFile(codebooks, threshold);
    const CodingResult written =
        EncodeBufferChecked(model, path, name, StoreKey, StoreSubstitutionTable,
                            OutputMode::NoReplace, FilePrivacy::OwnerOnly);
    if (written.ok()) {
        result.status = StoreStatus::Stored;
    } else if (written.status == CodingStatus::OutputExists) {
        result.status = StoreStatus::AlreadyStored;
    } else {
        result.error = written.error;
    }
    return result;
}

int StoreUserFiles(const std::filesystem::path& speakersDir, std::string_view name,
                   std::span<const VoiceCodebook, 3> codebooks, float threshold,
                   Notifier& notifier) {
    if (StoreSpeakerFile(speakersDir, name, codebooks, threshold).ok()) {
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
    std::vector<std::uint8_t> model;
    // Speaker files of earlier versions carry no check value; their key is the store's own,
    // so they still load.
    CodingOptions options;
    options.allowUnverified = true;
    if (!DecodeToBufferChecked(path, token, StoreKey, StoreSubstitutionTable, model,
                               kModelFileMaxBytes, options)
             .ok()) {
        return false;
    }
    std::array<VoiceCodebook, 3> loaded;
    float loadedThreshold = 0.0f;
    if (!ParseModelFile(model, loaded, loadedThreshold)) {
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

std::vector<std::filesystem::path> FindUserFiles(const std::filesystem::path& speakersDir,
                                                 std::string_view name) {
    std::vector<std::filesystem::path> files;
    for (std::filesystem::path& path : ListSpeakerFiles(speakersDir)) {
        std::string token;
        if (ReadMarker(path, token) && token == name) {
            files.push_back(std::move(path));
        }
    }
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

UserFileDeletion DeleteUserFiles(const std::filesystem::path& speakersDir, std::string_view name) {
    UserFileDeletion result;
    for (const std::filesystem::path& path : FindUserFiles(speakersDir, name)) {
        std::error_code error;
        if (std::filesystem::remove(path, error) && !error) {
            ++result.deleted;
        } else {
            result.failed.push_back(path);
        }
    }
    return result;
}

}  // namespace quorvane
