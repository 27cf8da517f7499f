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
// A user protected by a passphrase has a protected file instead (speaker/ProtectedFile.h); both
// forms are stored by the one store step below. The plain model never touches the disk: it is
// serialised in memory and encrypted straight into the speaker file, and decrypted straight into
// memory when read.
//
// Directory searches take exactly the regular files whose names end in ".spk"
// (byte for byte), in byte order of their file names, so the list order is the same
// on every run and machine. Nothing here shows anything: questions are the caller's,
// and the few messages go through the Notifier.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "files/PathText.h"
#include "files/Result.h"
#include "interfaces/Notifier.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerError.h"
#include "speaker/StoreFolder.h"
#include "speaker/UserList.h"

namespace quorvane {

// speakersDir / (name + ".spk")
[[nodiscard]] std::filesystem::path SpeakerFilePath(const std::filesystem::path& speakersDir,
                                                    std::string_view name);

// The regular files of speakersDir whose names end in ".spk", in byte order of their
// names. Empty when the folder is missing or cannot be read.
[[nodiscard]] std::vector<std::filesystem::path> ListSpeakerFiles(
    const std::filesystem::path& speakersDir);

// Creates the Speakers folder (its parent folders too, if missing), owner-only. Succeeds when the
// folder is there afterwards (an existing one is left as it is); fails with the system's reason
// otherwise.
[[nodiscard]] Status CreateSpeakersFolder(const std::filesystem::path& speakersDir);

// The form a user's models are stored in: the ordinary speaker file (name + ".spk", under
// StoreKey), or the protected one (name + ".qvlock", under the passphrase's key).
struct StoreForm {
    std::optional<std::span<const char>> passphrase;  // the protected form
    KdfParameters kdf = kProtectionKdf;               // its costs (tests may pass others)
    // A file of the other form of this user may stay: protecting and unprotecting write the new
    // form before they remove the old one. Otherwise the user counts as stored already.
    bool besideOtherForm = false;
    // Told where a damaged or unreadable file of the path was moved aside (kKeptSpeakerFileInfix)
    // before the new one was written, whether the store then succeeds or not.
    std::function<void(const std::filesystem::path& keptAside)> keptAside = {};
};

// The one way a user's models reach the Speakers folder, in either form. Holds the name's lock
// (files/NameLock.h) throughout. Writes atomically and never replaces a file: a loadable file of
// the user of either form (this user's, stored meanwhile by another enrolment, or of that path
// another user's) stays as it is, and a damaged or unreadable file of the path is first moved
// aside (kKeptSpeakerFileInfix), never destroyed. The commit itself does not replace either. The
// folder must exist; it is not created. `beforeCommit`, when given, runs between the checks and
// the commit (tests of two enrolments at once). Gives the path of the file written; fails, naming
// it, with SpeakerError::OtherUsersFile, SpeakerError::AlreadyStored, or the system's reason it
// could not be written.
[[nodiscard]] Result<std::filesystem::path> StoreUser(
    const std::filesystem::path& speakersDir, std::string_view name,
    std::span<const VoiceCodebook, 3> codebooks, float threshold, const StoreForm& form,
    const std::function<void()>& beforeCommit = {});

// StoreUser in the ordinary form.
[[nodiscard]] Result<std::filesystem::path> StoreSpeakerFile(
    const std::filesystem::path& speakersDir, std::string_view name,
    std::span<const VoiceCodebook, 3> codebooks, float threshold,
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

// Takes every protected file of the folder into `users` as a locked record (name and file
// known, models absent), after the ordinary speaker files. A user listed from an ordinary file
// already becomes protected, with UserRecord::unprotectedCopy set (a protection that was
// interrupted between its two steps); a protected user listed already gives
// AlreadyInListMessage, a file whose first token is no protected marker kCanNotLoadFilePrefix +
// path; a file that cannot be opened is skipped silently. Returns the records appended.
std::int32_t LoadProtectedUsers(const std::filesystem::path& speakersDir, UserList& users,
                                Notifier& notifier);

// The speaker files of speakersDir whose first token equals `name` exactly, then the user's
// protected files (speaker/ProtectedFile.h) whose marker names `name`. Files that cannot be
// opened or whose first token is over 999 characters are never included.
[[nodiscard]] std::vector<std::filesystem::path> FindUserFiles(
    const std::filesystem::path& speakersDir, std::string_view name);
// Of those, the ordinary speaker files only.
[[nodiscard]] std::vector<std::filesystem::path> FindOrdinaryFiles(
    const std::filesystem::path& speakersDir, std::string_view name);

// FindUserFiles(...).size(). When it is 2 or more, the caller asks
// SeveralFilesQuestion before DeleteUserFiles.
[[nodiscard]] std::int32_t CountUserFiles(const std::filesystem::path& speakersDir,
                                          std::string_view name);

struct UserFileDeletion {
    std::int32_t deleted = 0;     // files removed
    std::vector<Failure> failed;  // files that could not be removed, with the reason
};

// Removes each file with its content overwritten first (files/Overwrite.h): speaker files hold
// models that give a user's key.
UserFileDeletion RemoveOverwritten(const std::vector<std::filesystem::path>& files);

// Removes every file of FindUserFiles(speakersDir, name), overwritten, under the name's lock. Asks
// nothing: the caller has asked already. Other users' files are read but never deleted.
UserFileDeletion DeleteUserFiles(const std::filesystem::path& speakersDir, std::string_view name);

}  // namespace quorvane
