#pragma once

// The registered users of one Speakers folder: loading them, "Add new user..." with
// the security key file, and "Remove user...".

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "speaker/UserList.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"
#include "workflow/Passphrases.h"

namespace quorvane {

// The refusal of a name alone (empty, forbidden symbols, too long), or nothing.
[[nodiscard]] std::optional<std::string_view> NameRefusal(std::string_view name);

struct AddUserOptions {
    // The key file chosen before the enrolment is stored (the command line). It must not
    // exist yet; it is created before the user is stored, so a key file that cannot be
    // written stops the enrolment before anything is registered. Without it the front end
    // is asked after the user was added, as the window does.
    std::optional<std::filesystem::path> keyFile;
    // Runs between the store's checks and its commit (tests of two enrolments at once).
    std::function<void()> beforeCommit = {};
    // Whether the new user's models are protected by a passphrase (workflow/Protection.h),
    // asked after the name is accepted and before anything is written.
    ProtectionOffer protection = ProtectionOffer::None;
};

struct AddUserResult : StepResult {
    std::filesystem::path speakerFile;
    bool createdFolder = false;  // the Speakers folder was created for this user
    bool keySaved = false;
    std::filesystem::path keyFile;  // where the key was saved (or was to be saved)
    // Where a damaged or unreadable speaker file of the name was moved; empty when none.
    std::filesystem::path keptAside;
};

struct RemoveUserResult : StepResult {
    bool confirmed = false;                     // the warning was answered Yes
    bool filesKept = false;                     // the user chose to keep several speaker files
    std::int32_t deleted = 0;                   // speaker files deleted
    std::int32_t keptDeleted = 0;               // files kept aside (name.spk.kept-N) deleted
    std::vector<std::filesystem::path> failed;  // speaker files of the name that stay
    // Speaker files kept aside earlier (name.spk.kept-N) that stay: they may hold the user's
    // unprotected model.
    std::vector<std::filesystem::path> keptFiles;
};

class Users final {
public:
    explicit Users(std::filesystem::path speakersDir);

    [[nodiscard]] const UserList& List() const { return list_; }
    // The records, for unlocking and protecting them (workflow/Protection.h).
    [[nodiscard]] UserList& Records() { return list_; }

    // Takes in every speaker file of the folder, in the folder's order, then the protected
    // ones as locked users (nothing is asked); the notices of files that are refused, and of
    // names whose protection was interrupted, go to the front end. Passphrases the keyring
    // remembers for protected files of the folder that are gone, or written anew, are
    // forgotten. Returns the number of users loaded.
    std::int32_t Load(FrontEnd& front);
    // Forgets every user (the window's close).
    void Release() { list_.Clear(); }

    // The checks of "Add new user..." before anything is stored, in order: a threshold not
    // above 0, then CheckNewName.
    [[nodiscard]] std::optional<std::string_view> CheckNewUser(float threshold,
                                                               std::string_view name) const;
    // The name's own rules, then a registered user of exactly this name (kUserExistsMessage).
    [[nodiscard]] std::optional<std::string_view> CheckNewName(std::string_view name) const;

    // "Add new user...": stores the enrolment as the user's speaker file, ordinary or protected
    // (creating the Speakers folder, owner-only, when it does not exist yet), appends the user,
    // then saves the security key file where the front end or the options say. The user
    // stays added whatever happens with the key file. Both forms take the one store step
    // (StoreUser) under the name's lock: a speaker file of the name, of either form, stored
    // meanwhile by another enrolment is never replaced: this enrolment then fails with
    // SpeakerFileAppearedMessage and writes no key file. A damaged or unreadable file of
    // the name is kept aside, and the front end told where.
    AddUserResult Add(std::string_view name, const Enrolment& enrolment, FrontEnd& front,
                      const AddUserOptions& options = {});

    // "Remove user...": asks before deleting the user's speaker files (and again when
    // several carry the name, and whether to remove the speaker files kept aside for the
    // name, which may hold the unprotected model), then takes the user out of the list. Every
    // file is overwritten before it is removed, under the name's lock. Done only when no
    // speaker file of the name stays (one that stays brings the user back at the next start):
    // otherwise the user stays listed, each failure is told (a lock that cannot be taken as
    // the lock, NameNotLockedMessage) and the message is UserNotRemovedMessage.
    RemoveUserResult Remove(std::string_view name, FrontEnd& front);

    // The Speakers folder the users are loaded from and added to.
    [[nodiscard]] const std::filesystem::path& SpeakersDir() const { return speakersDir_; }

private:
    std::filesystem::path speakersDir_;
    UserList list_;
};

// The problem when the lock of a name cannot be taken: "Can not lock the name " + name + ": " +
// lock file.
[[nodiscard]] std::string NameNotLockedMessage(std::string_view name, std::string_view lockFile);
// A removal that left speaker files of the name: "User " + name + " was not removed: " + files +
// " stay(s), and the user is loaded again next time".
[[nodiscard]] std::string UserNotRemovedMessage(std::string_view name,
                                                const std::vector<std::filesystem::path>& stay);
// A removal done: "User " + name + " removed (" + N + " speaker file(s) deleted[, and K kept
// file(s)]). Files encoded for " + name + " can now be decoded only with the security key file."
[[nodiscard]] std::string UserRemovedSummary(std::string_view name,
                                             const RemoveUserResult& removed);

// What loading the Speakers folder passes over without a word, as notes for a front end
// that tells them: a folder the user named (`named`) that does not exist, and speaker files
// that are empty or cannot be read. Left-overs of ended writers are removed
// first.
[[nodiscard]] std::vector<std::string> SpeakersFolderNotes(const std::filesystem::path& speakersDir,
                                                           bool named);

// The note that the Speakers folder lies on a file system that cannot keep it readable by its
// owner only (FAT, exFAT, NTFS through FUSE), while a user of `users` has no passphrase: told
// where the users are listed or added, not on every command.
[[nodiscard]] std::optional<std::string> SpeakersFolderPrivacyNote(
    const std::filesystem::path& speakersDir, const UserList& users);

// Checks a key file path given before the enrolment (AddUserOptions::keyFile): it must
// not exist and its folder must. Returns the refusal, or nothing.
[[nodiscard]] std::optional<std::string_view> KeyFileRefusal(const std::filesystem::path& keyFile);

}  // namespace quorvane
