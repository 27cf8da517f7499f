#pragma once

// The SpeakerStore: the folder "Speakers" holding one speaker file per registered
// user. A speaker file is an encoded file (cipher/EncodedFile.h) under StoreKey and
// StoreSubstitutionTable whose marker is the user's name and whose content is the
// user's ModelFile. The user a file belongs to is told by its first token (the
// marker), not by its file name, which is the name + ".spk" when the program writes it.
//
// Speaker files carry the encoded file's trailer (key check and tag under StoreKey), so a
// damaged file is refused at loading instead of loading wrong models; files of earlier
// versions without a trailer still load. The folder is created owner-only (rwx------) and
// speaker files are owner-only (rw-------).
//
// The plain model never touches the disk: it is serialised in memory and encrypted
// straight into the speaker file, and decrypted straight into memory when read.
//
// Directory searches take exactly the regular files whose names end in ".spk"
// (byte for byte), in byte order of their file names, so the list order is the same
// on every run and machine. Nothing here shows anything: questions are the caller's,
// and the few messages go through the Notifier.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "files/PathText.h"
#include "interfaces/Notifier.h"
#include "speaker/UserList.h"

namespace quorvane {

inline constexpr std::string_view kSpeakersFolderName = "Speakers";
inline constexpr std::string_view kSpeakerFileExtension = ".spk";

// Messages raised through the Notifier.
inline constexpr std::string_view kUnableToSaveUsersMessage =
    "Unable to save users (speakers) file";
inline constexpr std::string_view kCanNotLoadFilePrefix = "Can not load file: ";
// "User " + name + " already is in the list"
[[nodiscard]] std::string AlreadyInListMessage(std::string_view name);

// speakersDir / (name + ".spk")
// speakersDir / (name + extension), and the regular files of speakersDir whose names end in
// extension, in byte order of their names (empty when the folder is missing or unreadable): the
// store's files of one kind, speaker files or protected ones.
[[nodiscard]] std::filesystem::path StoreFilePath(const std::filesystem::path& speakersDir,
                                                  std::string_view name,
                                                  std::string_view extension);
[[nodiscard]] std::vector<std::filesystem::path> ListStoreFiles(
    const std::filesystem::path& speakersDir, std::string_view extension);

[[nodiscard]] std::filesystem::path SpeakerFilePath(const std::filesystem::path& speakersDir,
                                                    std::string_view name);

// The regular files of speakersDir whose names end in ".spk", in byte order of their
// names. Empty when the folder is missing or cannot be read.
[[nodiscard]] std::vector<std::filesystem::path> ListSpeakerFiles(
    const std::filesystem::path& speakersDir);

// Creates the Speakers folder (its parent folders too, if missing), owner-only. True when the
// folder is there afterwards (an existing one is left as it is); false with the system's
// reason in `error` otherwise.
[[nodiscard]] bool CreateSpeakersFolder(const std::filesystem::path& speakersDir,
                                        std::error_code& error);

// A damaged or unreadable speaker file that a new enrolment of its name moves out of the way
// is renamed to its own name + ".kept-" + a number from 1: a name the folder search never
// takes (not even as a Windows short name, whose extension then starts with "kep").
inline constexpr std::string_view kKeptSpeakerFileInfix = ".kept-";

enum class StoreStatus {
    Stored,          // the speaker file was written
    OtherUsersFile,  // the file of that path names another user: never replaced
    AlreadyStored,   // a loadable speaker file of this user is there, or a file of that path
                     // appeared while this one was written (another enrolment of the name)
    Failed,          // the file could not be written; `error` says why
};

struct StoreResult {
    StoreStatus status = StoreStatus::Failed;
    std::filesystem::path path;       // the speaker file
    std::filesystem::path keptAside;  // where a damaged or unreadable file of that path went
    std::error_code error;
    [[nodiscard]] bool ok() const { return status == StoreStatus::Stored; }
};

// Writes the enrolment as the speaker file speakersDir/(name + ".spk"), atomically, and never
// replaces a file: a loadable speaker file of that path (this user's, stored meanwhile by
// another enrolment, or another user's) stays as it is, and a damaged or unreadable one is
// first moved aside (kKeptSpeakerFileInfix), never destroyed. The commit itself does not
// replace either, so of two enrolments of one name at once only the first is stored. The folder
// must exist; it is not created. `beforeCommit`, when given, runs between the checks and the
// commit (tests of two enrolments at once).
[[nodiscard]] StoreResult StoreSpeakerFile(const std::filesystem::path& speakersDir,
                                           std::string_view name,
                                           std::span<const VoiceCodebook, 3> codebooks,
                                           float threshold,
                                           const std::function<void()>& beforeCommit = {});

// StoreSpeakerFile as one result: 1 on success; on failure reports kUnableToSaveUsersMessage
// and returns -1.
[[nodiscard]] int StoreUserFiles(const std::filesystem::path& speakersDir, std::string_view name,
                                 std::span<const VoiceCodebook, 3> codebooks, float threshold,
                                 Notifier& notifier);

// Reads and decrypts one speaker file completely: its first token into `name`, its
// model into `codebooks` and `threshold`. False (arguments unchanged) when the file
// cannot be opened, its first token is over 999 characters, its header is damaged or
// its model is damaged. Shows nothing.
[[nodiscard]] bool ReadSpeakerFile(const std::filesystem::path& path, std::string& name,
                                   std::array<VoiceCodebook, 3>& codebooks, float& threshold);

// Takes one speaker file into `users`. Returns 1 when a record was appended, else 0:
// a file that cannot be opened or whose first token is over 999 characters is
// skipped silently; a name already in the list gives AlreadyInListMessage; a damaged
// header or model gives kCanNotLoadFilePrefix + path. Nothing is half-loaded.
[[nodiscard]] int LoadUserFile(const std::filesystem::path& path, UserList& users,
                               Notifier& notifier);

// LoadUserFile on every file of ListSpeakerFiles, in that order; returns the number
// of records appended. A missing or empty folder loads nothing and reports nothing.
std::int32_t LoadRegisteredUsers(const std::filesystem::path& speakersDir, UserList& users,
                                 Notifier& notifier);

// The speaker files of speakersDir whose first token equals `name` exactly, then the user's
// protected files (speaker/ProtectedFile.h) whose marker names `name`. Files that cannot be
// opened or whose first token is over 999 characters are never included.
[[nodiscard]] std::vector<std::filesystem::path> FindUserFiles(
    const std::filesystem::path& speakersDir, std::string_view name);

// FindUserFiles(...).size(). When it is 2 or more, the caller asks
// SeveralFilesQuestion before DeleteUserFiles.
[[nodiscard]] std::int32_t CountUserFiles(const std::filesystem::path& speakersDir,
                                          std::string_view name);

struct UserFileDeletion {
    std::int32_t deleted = 0;                   // files removed
    std::vector<std::filesystem::path> failed;  // files of the user that could not be removed
};

// Deletes every file of FindUserFiles(speakersDir, name). Asks nothing: the caller
// has asked already. Other users' files are read but never deleted.
UserFileDeletion DeleteUserFiles(const std::filesystem::path& speakersDir, std::string_view name);

}  // namespace quorvane
