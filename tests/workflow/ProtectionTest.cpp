// Users protected by a passphrase, through the workflows as the front ends run them: adding,
// listing without the passphrase, unlocking where the models are needed, a wrong passphrase,
// cancelling, protect / unprotect / change keeping the user's key, an interrupted protection and
// its repair, the files kept aside, the overwrite of every file removed, and costs out of bounds.
// Every unlock here runs Argon2id with the product's costs (a third of a second or more), so the
// cases stay few.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "cipher/EncodedFile.h"
#include "files/FileOperations.h"
#include "files/PathText.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"
#include "workflow/Users.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::CodeOf;
using testing::ReadBytes;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ScriptedFrontEnd;

PassphraseAnswer Typed(const std::string& text, bool remember = false) {
    PassphraseAnswer answer;
    answer.given = true;
    answer.passphrase.assign(text.begin(), text.end());
    answer.remember = remember;
    return answer;
}

Enrolment TrainedEnrolment() {
    Enrolment enrolment;
    const VoiceCodebook book = testing::FilledCodebook(
        12, [](int i, int j) { return 0.5f + 0.125f * static_cast<float>(i * 3 + j); },
        [](int) { return 4; });
    enrolment.MutablePhraseCodebooks() = {book, book, book};
    enrolment.SetThreshold(0.75f);
    return enrolment;
}

class Protection : public ::testing::Test {
protected:
    fs::path Speakers() const { return folder_.Path() / "Speakers"; }
    fs::path Annas(std::string_view extension) const {
        return Speakers() / ("anna" + std::string(extension));
    }
    // A new start of the program on the same folder.
    Users Restart() {
        Users users(Speakers());
        users.Load(front_);
        return users;
    }
    // Adds anna, protected by "open sesame", and returns her key.
    GostKey AddProtectedAnna() {
        Users users(Speakers());
        front_.passphrases = {Typed("open sesame")};
        const AddUserResult added =
            users.Add("anna", enrolment_, front_,
                      {.keyFile = std::nullopt, .protection = ProtectionOffer::Required});
        EXPECT_TRUE(added.done) << added.message;
        EXPECT_EQ(added.speakerFile, Annas(kProtectedFileExtension));
        return DeriveUserKey(enrolment_.PhraseCodebooks());
    }
    void WritePlain(const std::string& leaf, const std::string& text) {
        std::ofstream(folder_.Path() / leaf, std::ios::binary) << text;
    }
    // Adds anna without protection (and without a key file).
    void AddPlainAnna() {
        Users users(Speakers());
        front_.asks = {false};
        ASSERT_TRUE(users.Add("anna", enrolment_, front_).done);
    }
    bool Shown(const std::string& text) const {
        return std::find(front_.shown.begin(), front_.shown.end(), text) != front_.shown.end();
    }

    ScratchFolder folder_;
    ScriptedFrontEnd front_;
    Enrolment enrolment_ = TrainedEnrolment();
};

TEST_F(Protection, AProtectedUserIsListedWithoutAPassphraseAndUnlockedWhereTheModelsAreNeeded) {
    const GostKey key = AddProtectedAnna();
    EXPECT_EQ(front_.passphraseConfirms, std::vector<bool>{true});  // a new one is typed twice
    EXPECT_FALSE(fs::exists(Annas(kSpeakerFileExtension)));

    Users users = Restart();
    EXPECT_EQ(users.List().Names(), std::vector<std::string>{"anna"});
    EXPECT_TRUE(users.List().Find("anna")->locked);
    EXPECT_EQ(front_.passphraseConfirms.size(), 1u);  // loading asked nothing

    // Locked, the models give no key: encoding and the voice path refuse.
    WritePlain("a.txt", "plain a");
    std::string refusal;
    EXPECT_EQ(FindEncodingUser(users.List(), "anna", refusal), nullptr);
    EXPECT_EQ(refusal, LockedUserMessage("anna"));
    EXPECT_EQ(KeyFromVoice(users.List(), "anna", std::vector<std::int16_t>(100, 1), front_).message,
              LockedUserMessage("anna"));
    const BatchResult none =
        EncodeFiles(*users.List().Find("anna"), {folder_.Path() / "a.txt"}, {}, false, front_);
    EXPECT_EQ(none.Count(FileStatus::Failed), 1);
    EXPECT_FALSE(fs::exists(folder_.Path() / "a.txt.crp"));

    front_.passphrases = {Typed("open sesame")};
    ASSERT_TRUE(UnlockUser(users, "anna", front_).done);
    EXPECT_EQ(front_.passphraseConfirms.back(), false);
    // Unlocked once, the models stay: no more questions.
    EXPECT_TRUE(UnlockUser(users, "anna", front_).done);
    EXPECT_EQ(front_.passphraseConfirms.size(), 2u);

    const UserRecord* anna = FindEncodingUser(users.List(), "anna", refusal);
    ASSERT_NE(anna, nullptr);
    EXPECT_EQ(DeriveUserKey(anna->codebooks), key);
    EXPECT_EQ(anna->threshold, 0.75f);
    const BatchResult encoded = EncodeFiles(*anna, {folder_.Path() / "a.txt"}, {}, false, front_);
    ASSERT_EQ(encoded.Count(FileStatus::Done), 1);
    fs::rename(folder_.Path() / "a.txt", folder_.Path() / "original.txt");
    // The key path needs no passphrase.
    const BatchResult decoded =
        DecodeFiles("anna", key, {folder_.Path() / "a.txt.crp"}, {}, false, front_);
    ASSERT_EQ(decoded.Count(FileStatus::Done), 1);
    EXPECT_EQ(ReadText(folder_.Path() / "a.txt"), "plain a");

    // Removing needs no passphrase either.
    Users again = Restart();
    front_.asks = {true};
    const RemoveUserResult removed = again.Remove("anna", front_);
    EXPECT_EQ(removed.deleted, 1);
    EXPECT_FALSE(fs::exists(Annas(kProtectedFileExtension)));
}

TEST_F(Protection, AWrongOrMissingPassphraseChangesNothing) {
    AddProtectedAnna();
    const std::vector<std::uint8_t> before = ReadBytes(Annas(kProtectedFileExtension));
    const struct {
        std::vector<PassphraseAnswer> answers;
        StepResult (*step)(Users&, std::string_view, FrontEnd&);
        std::string message;
    } cases[] = {
        {{Typed("open sesame!")}, &UnlockUser, WrongPassphraseMessage("anna")},
        {{}, &UnlockUser, NoPassphraseMessage("anna")},
        {{Typed("")}, &UnlockUser, std::string(kEmptyPassphraseMessage)},
        {{Typed("open sesame"), Typed("open sesame")},
         &ChangePassphrase,
         std::string(kSamePassphraseMessage)},
        {{Typed("wrong")}, &ChangePassphrase, WrongPassphraseMessage("anna")},
        {{Typed("open sesame"), Typed("")},
         &ChangePassphrase,
         std::string(kEmptyPassphraseMessage)},
        {{Typed("wrong")}, &UnprotectUser, WrongPassphraseMessage("anna")},
        {{}, &ProtectUser, AlreadyProtectedMessage("anna")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Users users = Restart();
        front_.passphrases.assign(c.answers.begin(), c.answers.end());
        const StepResult result = c.step(users, "anna", front_);
        EXPECT_FALSE(result.done);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(ReadBytes(Annas(kProtectedFileExtension)), before);
        EXPECT_FALSE(fs::exists(Annas(kSpeakerFileExtension)));
        // Nobody asked to remember: the keyring is not mentioned.
        EXPECT_FALSE(Shown(std::string(kKeyringUnavailableMessage)));
        // The user may try again: the right passphrase still unlocks.
        if (c.step == &UnlockUser) {
            EXPECT_TRUE(users.List().Find("anna")->locked);
            front_.passphrases = {Typed("open sesame")};
            EXPECT_TRUE(UnlockUser(users, "anna", front_).done);
        }
    }
}

TEST_F(Protection, AddingOffersProtectionAndACancelWritesNothing) {
    const struct {
        std::vector<bool> asks;  // the protection question, then the key file question
        std::vector<PassphraseAnswer> answers;
        bool added;
        std::string_view file;
    } cases[] = {
        {{false, false}, {}, true, kSpeakerFileExtension},  // declined: the ordinary file
        {{true}, {}, false, {}},                            // Cancel in the passphrase box
        {{true}, {Typed("")}, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.added << c.answers.size());
        ScratchFolder scratch;
        Users users(scratch.Path() / "Speakers");
        ScriptedFrontEnd front;
        front.asks.assign(c.asks.begin(), c.asks.end());
        front.passphrases.assign(c.answers.begin(), c.answers.end());
        const AddUserResult added =
            users.Add("anna", enrolment_, front,
                      {.keyFile = std::nullopt, .protection = ProtectionOffer::Ask});
        EXPECT_EQ(added.done, c.added);
        EXPECT_EQ(front.shown.front(), ProtectQuestion("anna"));
        EXPECT_EQ(users.List().size(), c.added ? 1u : 0u);
        if (c.added) {
            EXPECT_EQ(added.speakerFile.filename().string(), "anna" + std::string(c.file));
            EXPECT_TRUE(fs::exists(added.speakerFile));
        } else {
            EXPECT_FALSE(fs::exists(scratch.Path() / "Speakers"));
        }
    }
}

TEST_F(Protection, ProtectUnprotectAndChangeKeepTheKeySoOldFilesStillDecode) {
    Users users(Speakers());
    ASSERT_TRUE(users.Add("anna", enrolment_, front_, {.keyFile = std::nullopt}).done);
    const GostKey key = DeriveUserKey(enrolment_.PhraseCodebooks());
    WritePlain("old.txt", "encoded before");
    ASSERT_EQ(
        EncodeFiles(*users.List().Find("anna"), {folder_.Path() / "old.txt"}, {}, false, front_)
            .Count(FileStatus::Done),
        1);

    const struct {
        StepResult (*step)(Users&, std::string_view, FrontEnd&);
        std::vector<PassphraseAnswer> answers;
        std::string_view file;   // anna's only speaker file afterwards
        std::string unlockWith;  // what opens it then
    } steps[] = {
        {&ProtectUser, {Typed("first")}, kProtectedFileExtension, "first"},
        {&ChangePassphrase, {Typed("first"), Typed("second")}, kProtectedFileExtension, "second"},
        {&UnprotectUser, {Typed("second")}, kSpeakerFileExtension, {}},
    };
    for (const auto& s : steps) {
        Users current = Restart();
        front_.passphrases.assign(s.answers.begin(), s.answers.end());
        const StepResult result = s.step(current, "anna", front_);
        ASSERT_TRUE(result.done) << result.message;
        EXPECT_EQ(FindUserFiles(Speakers(), "anna"), std::vector<fs::path>{Annas(s.file)});

        Users fresh = Restart();
        front_.passphrases = {Typed(s.unlockWith)};
        ASSERT_TRUE(UnlockUser(fresh, "anna", front_).done);
        EXPECT_EQ(front_.passphrases.empty(), !s.unlockWith.empty());
        EXPECT_EQ(DeriveUserKey(fresh.List().Find("anna")->codebooks), key);
    }
    // The old ".crp" file decodes under the unchanged key.
    const Result<Coded> checked = CheckEncodedFile(
        folder_.Path() / "old.txt.crp", EncodedMarker("anna"), key, FileSubstitutionTable);
    EXPECT_TRUE(checked && checked->tagVerified);
}

TEST_F(Protection, ACopiedFolderGivesNoKeyWithoutThePassphrase) {
    const GostKey key = AddProtectedAnna();
    ScratchFolder elsewhere;
    const fs::path copy = elsewhere.Path() / "anna.qvlock";
    fs::copy_file(Annas(kProtectedFileExtension), copy);

    // Readers of ordinary speaker files do not take it for a user.
    RecordingNotifier notices;
    UserList ordinary;
    EXPECT_EQ(LoadRegisteredUsers(elsewhere.Path(), ordinary, notices), 0);
    // Under the program's constant store key its own check value refuses it.
    std::string marker;
    ASSERT_TRUE(ReadMarker(copy, marker));
    EXPECT_EQ(CodeOf(DecodeToBufferChecked(copy, marker, StoreKey, StoreSubstitutionTable,
                                           kModelFileMaxBytes)),
              MakeError(CipherError::WrongKey));
    // The copy is listed, locked; without a passphrase there are no models and no key.
    Users users(elsewhere.Path());
    users.Load(front_);
    ASSERT_NE(users.List().Find("anna"), nullptr);
    EXPECT_FALSE(UnlockUser(users, "anna", front_).done);
    EXPECT_NE(DeriveUserKey(users.List().Find("anna")->codebooks), key);
}

// Records the file operations on one file (and on the temporary files of its writing, and its
// removal name): each with what the file held at an Overwrite; fails the operation `failing` on
// them.
class FileRecorder {
public:
    explicit FileRecorder(fs::path file, std::optional<FileOperation> failing = std::nullopt)
        : file_(std::move(file)) {
        SetFileOperationObserver([this, failing](FileOperation operation, const fs::path& path) {
            const std::string temporary = "." + PathText(file_.filename()) + ".";
            if (path != file_ && !PathText(path.filename()).starts_with(temporary)) {
                return std::error_code();
            }
            operations.push_back(operation);
            if (operation == FileOperation::Overwrite) {
                heldAtOverwrite = ReadText(path);
            }
            return operation == failing ? std::make_error_code(std::errc::io_error)
                                        : std::error_code();
        });
    }
    ~FileRecorder() { SetFileOperationObserver({}); }
    FileRecorder(const FileRecorder&) = delete;
    FileRecorder& operator=(const FileRecorder&) = delete;

    std::vector<FileOperation> operations;
    std::string heldAtOverwrite;

private:
    fs::path file_;
};

// A file's removal with its content overwritten, as the recorder sees it: moved to its removal
// name, overwritten there, removed.
std::vector<FileOperation> Overwritten() {
    return {FileOperation::Rename, FileOperation::Overwrite, FileOperation::Remove};
}

// Protecting, unprotecting and removing leave no model behind in free space: each file they
// remove is overwritten with zeros, flushed, and only then unlinked.
TEST_F(Protection, EveryRemovedSpeakerFileIsOverwrittenBeforeItIsUnlinked) {
    AddPlainAnna();
    const struct {
        StepResult (*step)(Users&, std::string_view, FrontEnd&);
        std::vector<PassphraseAnswer> answers;
        std::string_view removed;  // the extension of anna's file that goes
    } steps[] = {
        {&ProtectUser, {Typed("first")}, kSpeakerFileExtension},
        {&UnprotectUser, {Typed("first")}, kProtectedFileExtension},
    };
    for (const auto& s : steps) {
        const fs::path removed = Annas(s.removed);
        const std::size_t size = ReadText(removed).size();
        Users users = Restart();
        front_.passphrases.assign(s.answers.begin(), s.answers.end());
        const FileRecorder recorder(removed);
        ASSERT_TRUE(s.step(users, "anna", front_).done);
        EXPECT_EQ(recorder.operations, Overwritten()) << PathText(removed);
        EXPECT_EQ(recorder.heldAtOverwrite, std::string(size, '\0'));
        EXPECT_FALSE(fs::exists(removed));
    }
    Users users = Restart();
    const FileRecorder recorder(Annas(kSpeakerFileExtension));
    front_.asks = {true};
    EXPECT_EQ(users.Remove("anna", front_).deleted, 1);
    EXPECT_EQ(recorder.operations, Overwritten());
    EXPECT_TRUE(fs::is_empty(Speakers()));
}

// A protection whose ordinary file cannot be overwritten and removed leaves the user protected,
// with the file named; a change of passphrase whose new file is not written is refused, and the
// old passphrase still opens the file.
TEST_F(Protection, AStepThatFailsSaysWhatAndReportsNoChange) {
    AddPlainAnna();
    {
        Users users = Restart();
        front_.passphrases = {Typed("open sesame")};
        const FileRecorder failing(Annas(kSpeakerFileExtension), FileOperation::Overwrite);
        const StepResult protectedAnna = ProtectUser(users, "anna", front_);
        EXPECT_FALSE(protectedAnna.done);
        // The message names the file, so its cause is the reason alone.
        const std::string message =
            std::string(kCanNotDeleteFilePrefix) + PathText(Annas(kSpeakerFileExtension));
        EXPECT_EQ(protectedAnna.message, message);
        EXPECT_EQ(protectedAnna.cause,
                  Failure(std::make_error_code(std::errc::io_error), Annas(kSpeakerFileExtension)));
        EXPECT_EQ(CauseText(message, *protectedAnna.cause),
                  std::make_error_code(std::errc::io_error).message());
        EXPECT_EQ(users.List().Find("anna")->protectedFile, Annas(kProtectedFileExtension));
    }
    {
        Users users = Restart();
        front_.passphrases = {Typed("open sesame"), Typed("changed")};
        // The new file's flush fails: it never replaces the old one.
        const FileRecorder failing(Annas(kProtectedFileExtension), FileOperation::SyncFile);
        const StepResult changed = ChangePassphrase(users, "anna", front_);
        EXPECT_FALSE(changed.done);
        // The described text stands alone; its cause names the file.
        EXPECT_EQ(changed.message, kUnableToSaveUsersMessage);
        ASSERT_TRUE(changed.cause.has_value());
        EXPECT_EQ(CauseText(changed.message, *changed.cause),
                  PathText(Annas(kProtectedFileExtension)) + ": " + changed.cause->Reason());
    }
    Users users = Restart();
    front_.passphrases = {Typed("open sesame")};
    EXPECT_TRUE(UnlockUser(users, "anna", front_).done);
}

#ifndef _WIN32
// The process is killed between the two steps of a protection: the protected file is committed,
// the ordinary one is still there. The user is listed as protected with a note, and the next
// unlock, whose key is the ordinary file's, overwrites and removes that file and says so.
TEST_F(Protection, AProtectionKilledHalfwayIsFinishedByTheNextUnlock) {
    AddPlainAnna();
    const GostKey key = DeriveUserKey(enrolment_.PhraseCodebooks());
    const pid_t child = ::fork();
    if (child == 0) {
        SetFileOperationObserver([this](FileOperation operation, const fs::path& path) {
            if (operation == FileOperation::Rename && path == Annas(kProtectedFileExtension)) {
                ::_exit(0);  // killed right after the protected file's commit
            }
            return std::error_code();
        });
        Users users = Restart();
        front_.passphrases = {Typed("open sesame")};
        static_cast<void>(ProtectUser(users, "anna", front_));
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(fs::exists(Annas(kSpeakerFileExtension)));
    ASSERT_TRUE(fs::exists(Annas(kProtectedFileExtension)));

    Users users = Restart();
    EXPECT_TRUE(Shown(InterruptedProtectionNote("anna", Annas(kSpeakerFileExtension),
                                                Annas(kProtectedFileExtension))));
    const UserRecord* anna = users.List().Find("anna");
    ASSERT_NE(anna, nullptr);
    EXPECT_TRUE(anna->locked);
    EXPECT_EQ(anna->protectedFile, Annas(kProtectedFileExtension));
    front_.passphrases = {Typed("open sesame")};
    const FileRecorder recorder(Annas(kSpeakerFileExtension));
    ASSERT_TRUE(UnlockUser(users, "anna", front_).done);
    EXPECT_EQ(recorder.operations, Overwritten());
    EXPECT_TRUE(Shown(ProtectionFinishedMessage("anna", {Annas(kSpeakerFileExtension)})));
    EXPECT_EQ(DeriveUserKey(users.List().Find("anna")->codebooks), key);
    EXPECT_EQ(FindUserFiles(Speakers(), "anna"),
              std::vector<fs::path>{Annas(kProtectedFileExtension)});
}
#endif

// Both files with different models (two enrolments of the name raced in an earlier version):
// the unlock touches neither and says which command resolves it; unprotecting is refused.
TEST_F(Protection, TwoDifferentModelsOfOneNameAreLeftToTheUser) {
    AddProtectedAnna();
    StoreForm plainBeside;
    plainBeside.besideOtherForm = true;
    ASSERT_TRUE(StoreUser(Speakers(), "anna", testing::Phrases(3.0f), 0.25f, plainBeside));
    const std::vector<std::uint8_t> ordinary = ReadBytes(Annas(kSpeakerFileExtension));
    const std::vector<std::uint8_t> locked = ReadBytes(Annas(kProtectedFileExtension));
    const std::string twoModels =
        TwoModelsMessage("anna", {Annas(kSpeakerFileExtension)}, Annas(kProtectedFileExtension));
    Users users = Restart();
    front_.passphrases = {Typed("open sesame")};
    ASSERT_TRUE(UnlockUser(users, "anna", front_).done);
    EXPECT_TRUE(Shown(twoModels));
    front_.passphrases = {Typed("open sesame")};
    const StepResult unprotected = UnprotectUser(users, "anna", front_);
    EXPECT_FALSE(unprotected.done);
    EXPECT_EQ(unprotected.message, twoModels);
    // Unprotecting a locked user: the unlock's note tells the two models, the refusal only that
    // the user stays protected.
    users = Restart();
    front_.shown.clear();
    front_.passphrases = {Typed("open sesame")};
    const StepResult refused = UnprotectUser(users, "anna", front_);
    EXPECT_FALSE(refused.done);
    EXPECT_EQ(refused.message, StillProtectedMessage("anna"));
    EXPECT_EQ(std::count(front_.shown.begin(), front_.shown.end(), twoModels), 1);
    EXPECT_EQ(ReadBytes(Annas(kSpeakerFileExtension)), ordinary);
    EXPECT_EQ(ReadBytes(Annas(kProtectedFileExtension)), locked);
}

// Speaker files kept aside for the name may hold the unprotected model: protecting and removing
// ask, and with Yes overwrite and remove them; with No they stay and the user is told.
TEST_F(Protection, FilesKeptAsideAreRemovedOnlyWithConsent) {
    enum class Command { Remove, Protect, ProtectAgain };  // again: anna is protected already
    const struct {
        Command command;
        bool consent;
    } cases[] = {{Command::Protect, true},      {Command::Protect, false},
                 {Command::Remove, true},       {Command::Remove, false},
                 {Command::ProtectAgain, true}, {Command::ProtectAgain, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.command) << c.consent);
        fs::remove_all(Speakers());
        AddPlainAnna();
        const std::vector<fs::path> kept = {Speakers() / "anna.spk.kept-1",
                                            Speakers() / "anna.spk.kept-2"};
        for (const fs::path& file : kept) {
            fs::copy_file(Annas(kSpeakerFileExtension), file);
        }
        Users users = Restart();
        if (c.command == Command::ProtectAgain) {
            front_.asks = {false};
            front_.passphrases = {Typed("open sesame")};
            ASSERT_TRUE(ProtectUser(users, "anna", front_).done);
        }
        front_.shown.clear();
        const FileRecorder recorder(kept[1]);
        StepResult step;
        if (c.command == Command::Remove) {
            front_.asks = {true, c.consent};
            const RemoveUserResult removed = users.Remove("anna", front_);
            // The summary counts the kept files removed beside the speaker file.
            EXPECT_EQ(removed.keptDeleted, c.consent ? 2 : 0);
            step = removed;
        } else {
            front_.asks = {c.consent};
            front_.passphrases = {Typed("open sesame")};
            step = ProtectUser(users, "anna", front_);
        }
        // Protecting again without consent is refused: the user is protected already.
        EXPECT_EQ(step.done, c.consent || c.command != Command::ProtectAgain);
        EXPECT_EQ(step.message, step.done ? std::string() : AlreadyProtectedMessage("anna"));
        EXPECT_TRUE(Shown(KeptFilesQuestion("anna", kept)));
        EXPECT_EQ(Shown(c.command == Command::Remove ? KeptFilesStayMessage("anna", kept)
                                                     : KeptFilesStayNote("anna", kept)),
                  !c.consent);
        EXPECT_EQ(Shown(KeptFilesRemovedMessage(kept)),
                  c.consent && c.command == Command::ProtectAgain);
        for (const fs::path& file : kept) {
            EXPECT_EQ(fs::exists(file), !c.consent);
        }
        EXPECT_EQ(recorder.operations, c.consent ? Overwritten() : std::vector<FileOperation>{});
        EXPECT_FALSE(users.List().Find("anna") != nullptr &&
                     users.List().Find("anna")->protectedFile.empty());
    }
}

// Costs outside the bounds are refused with their reason before anything is asked or derived.
TEST_F(Protection, CostsOutOfBoundsAreRefusedBeforeThePassphraseIsAsked) {
    AddProtectedAnna();
    const fs::path file = Annas(kProtectedFileExtension);
    std::string marker;
    ASSERT_TRUE(ReadMarker(file, marker));
    ProtectedHeader header;
    ASSERT_TRUE(ParseProtectedMarker(marker, header));
    header.kdf.lanes = kMaxKdf.lanes + 1;
    const std::string rest = ReadText(file).substr(marker.size());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << ProtectedMarker(header) << rest;
    Users users = Restart();
    front_.passphraseConfirms.clear();
    const StepResult unlocked = UnlockUser(users, "anna", front_);
    EXPECT_FALSE(unlocked.done);
    EXPECT_EQ(unlocked.message,
              PathText(file) + ": " + MakeError(ProtectedFileError::TooManyLanes).message());
    EXPECT_TRUE(front_.passphraseConfirms.empty());
}

// A file padded beyond any protected file is refused with that cause, before anything is asked.
TEST_F(Protection, AFileTooLargeIsRefusedAsTooLarge) {
    AddProtectedAnna();
    const fs::path file = Annas(kProtectedFileExtension);
    fs::resize_file(file, kMaxProtectedFileBytes + 1);
    Users users = Restart();
    front_.passphraseConfirms.clear();
    const StepResult unlocked = UnlockUser(users, "anna", front_);
    EXPECT_FALSE(unlocked.done);
    EXPECT_EQ(unlocked.message, std::string(kCanNotLoadFilePrefix) + PathText(file));
    EXPECT_EQ(unlocked.cause, Failure(MakeError(ProtectedFileError::TooLarge), file));
    EXPECT_TRUE(front_.passphraseConfirms.empty());
}

// The keyring is mentioned only when the user asked to remember, and then once.
TEST_F(Protection, TheKeyringIsMentionedOnlyWhenRememberingWasAsked) {
    AddProtectedAnna();
    // No keyring to reach, whatever the machine has.
#ifdef _WIN32
    ASSERT_EQ(_putenv("APPDATA="), 0);
#else
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("XDG_RUNTIME_DIR");
#endif
    for (const bool remember : {false, true}) {
        Users users = Restart();
        front_.shown.clear();
        front_.passphrases = {Typed("open sesame", remember)};
        ASSERT_TRUE(UnlockUser(users, "anna", front_).done);
        EXPECT_EQ(front_.shown,
                  remember ? std::vector<std::string>{std::string(kKeyringUnavailableMessage)}
                           : std::vector<std::string>{});
    }
}

}  // namespace
}  // namespace quorvane
