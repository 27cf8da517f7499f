// The users of a Speakers folder: "Add new user..." with its key file, "Remove user...",
// the checks of a new name, and what loading passes over without a word.

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

#include "files/FileOperations.h"
#include "files/NameLock.h"
#include "files/PathText.h"
#include "speaker/KeyFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/support/FileAttributes.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Phrases;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ScriptedFrontEnd;
using testing::WriteText;

// An enrolment ready to be stored: three phrases and a threshold.
Enrolment Trained(float threshold) {
    Enrolment enrolment;
    enrolment.MutablePhraseCodebooks() = Phrases(1.0f);
    enrolment.SetThreshold(threshold);
    return enrolment;
}

class UsersOfAFolder : public ::testing::Test {
protected:
    fs::path Speakers() const { return folder_.Path() / "Speakers"; }
    fs::path Path(const std::string& leaf) const { return folder_.Path() / leaf; }
    // A user added with the answers Yes (save the key) to `keyFile`, or No when empty.
    AddUserResult AddAnna(Users& users, const fs::path& keyFile = {}) {
        ScriptedFrontEnd front;
        front.asks = {!keyFile.empty()};
        front.keyFiles = {keyFile};
        return users.Add("anna", Trained(0.5f), front);
    }

    ScratchFolder folder_;
};

TEST_F(UsersOfAFolder, AddingStoresTheUserThenSavesTheKeyWhereTheFrontEndOrOptionsSay) {
    const std::string keyText = FormatKeyFile("anna", DeriveUserKey(Phrases(1.0f)));
    const struct {
        bool chosenBefore;  // the command line's --key-file
        bool saveKey;       // the window's question answered Yes
        std::vector<std::string> shown;
    } cases[] = {
        {false, false, {std::string(kSecurityKeyQuestion)}},
        {false, true, {std::string(kSecurityKeyQuestion)}},
        {true, false, {}},
    };
    for (const auto& c : cases) {
        const ScratchFolder folder;
        const fs::path speakers = folder.Path() / "Speakers";
        const fs::path keyFile = folder.Path() / "anna.key";
        ScriptedFrontEnd front;
        front.asks = {c.saveKey};
        front.keyFiles = {keyFile};
        AddUserOptions options;
        if (c.chosenBefore) {
            options.keyFile = keyFile;
        }
        Users users(speakers);
        const AddUserResult added = users.Add("anna", Trained(0.5f), front, options);
        ASSERT_TRUE(added.done) << added.message;
        EXPECT_TRUE(added.createdFolder);
        EXPECT_EQ(added.speakerFile, SpeakerFilePath(speakers, "anna"));
        EXPECT_TRUE(fs::exists(added.speakerFile));
        ASSERT_NE(users.List().Find("anna"), nullptr);
        EXPECT_EQ(front.shown, c.shown);
        const bool saved = c.chosenBefore || c.saveKey;
        EXPECT_EQ(added.keySaved, saved);
        EXPECT_EQ(saved ? ReadText(keyFile) : std::string(), saved ? keyText : std::string());
        // Loaded again, the folder gives the same user.
        Users again(speakers);
        EXPECT_EQ(again.Load(front), 1);
        EXPECT_NE(again.List().Find("anna"), nullptr);
    }
}

TEST_F(UsersOfAFolder, AddingRefusesBeforeStoringAnything) {
    Users users(Speakers());
    ASSERT_TRUE(AddAnna(users).done);
    WriteText(Path("taken.key"), "an older key");
    WriteText(Path("file"), "in the way");
    const struct {
        std::string name;
        float threshold;
        std::optional<fs::path> keyFile;
        fs::path speakers;
        std::string message;
    } cases[] = {
        {"bob", 0.0f, std::nullopt, Speakers(), std::string(kTrainingFirstMessage)},
        {"anna", 0.5f, std::nullopt, Speakers(), std::string(kUserExistsMessage)},
        {"a b", 0.5f, std::nullopt, Speakers(), std::string(kForbiddenSymbolsMessage)},
        {"bob", 0.5f, Path("taken.key"), Speakers(),
         PathText(Path("taken.key")) + ": " + std::string(kKeyFileExistsMessage)},
        {"bob", 0.5f, Path("none") / "bob.key", Speakers(),
         PathText(Path("none") / "bob.key") + ": " + std::string(kKeyFileFolderMissingMessage)},
        {"bob", 0.5f, std::nullopt, Path("file") / "Speakers",
         std::string(kUnableToAddUserMessage)},
    };
    for (const auto& c : cases) {
        ScriptedFrontEnd front;
        Users target(c.speakers);
        static_cast<void>(target.Load(front));
        const AddUserResult added = target.Add(c.name, Trained(c.threshold), front, {c.keyFile});
        EXPECT_FALSE(added.done) << c.name;
        EXPECT_EQ(added.message, c.message) << c.name;
    }
    EXPECT_EQ(ReadText(Path("taken.key")), "an older key");
    EXPECT_EQ(ListSpeakerFiles(Speakers()), std::vector<fs::path>{Speakers() / "anna.spk"});
}

TEST_F(UsersOfAFolder, RemovingAsksThenDeletesTheUsersFiles) {
    const struct {
        std::vector<bool> answers;
        bool copy;  // a second speaker file carries the name
        std::string message;
        bool confirmed, kept;
        int deleted;
    } cases[] = {
        {{false}, false, "", false, false, 0},
        {{true}, false, "", true, false, 1},
        {{true, false}, true, "", true, true, 0},
        {{true, true}, true, "", true, false, 2},
    };
    for (const auto& c : cases) {
        const ScratchFolder folder;
        const fs::path speakers = folder.Path() / "Speakers";
        Users users(speakers);
        ScriptedFrontEnd front;
        front.asks = {false};
        ASSERT_TRUE(users.Add("anna", Trained(0.5f), front).done);
        if (c.copy) {
            fs::copy_file(speakers / "anna.spk", speakers / "copy.spk");
        }
        front.asks.assign(c.answers.begin(), c.answers.end());
        const RemoveUserResult removed = users.Remove("anna", front);
        EXPECT_EQ(removed.confirmed, c.confirmed);
        EXPECT_EQ(removed.filesKept, c.kept);
        EXPECT_EQ(removed.deleted, c.deleted);
        EXPECT_EQ(removed.done, c.confirmed);
        EXPECT_EQ(users.List().Find("anna") == nullptr, c.confirmed);
        EXPECT_EQ(fs::exists(speakers / "anna.spk"), c.deleted == 0);
    }
    Users none(Speakers());
    ScriptedFrontEnd front;
    EXPECT_EQ(none.Remove("anna", front).message, kNoRegisteredUsersMessage);
    ASSERT_TRUE(AddAnna(none).done);
    EXPECT_EQ(none.Remove("bob", front).message, kUserNotExistsMessage);
}

#ifndef _WIN32
// A removal whose files cannot go is no removal: the user stays listed and is told which file
// stays and why, naming the lock when the folder lets no lock be taken; the model is untouched.
// A failing step of the file layer stands for any system; the attributes `chattr +i` and
// `chattr +a` set, where root and the file system allow them.
TEST_F(UsersOfAFolder, ARemovalThatCannotDeleteTheFilesIsNoRemoval) {
    using Kind = testing::FileAttribute::Kind;
    const struct {
        std::optional<FileOperation> failing;  // else the attribute
        bool onFolder;
        Kind kind;
        bool lockNamed;  // the problem names the lock, not the speaker file
    } cases[] = {
        {FileOperation::Rename, false, Kind::Immutable, false},
        {std::nullopt, false, Kind::Immutable, false},
        {std::nullopt, true, Kind::Immutable, true},
        {std::nullopt, true, Kind::AppendOnly, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.onFolder << static_cast<int>(c.kind));
        const ScratchFolder folder;
        const fs::path speakers = folder.Path() / "Speakers";
        Users users(speakers);
        ScriptedFrontEnd front;
        front.asks = {false};
        ASSERT_TRUE(users.Add("carl", Trained(0.5f), front).done);
        const fs::path model = speakers / "carl.spk";
        const std::string held = ReadText(model);
        testing::FileAttribute attribute(c.onFolder ? speakers : model, c.kind);
        if (!c.failing && !attribute.Set()) {
            GTEST_SKIP() << attribute.Why();
        }
        SetFileOperationObserver([&c](FileOperation operation, const fs::path&) {
            return operation == c.failing ? std::make_error_code(std::errc::io_error)
                                          : std::error_code();
        });
        front.shown.clear();
        front.asks = {true};
        const RemoveUserResult removed = users.Remove("carl", front);
        SetFileOperationObserver({});
        EXPECT_TRUE(removed.confirmed);
        EXPECT_FALSE(removed.done);
        EXPECT_EQ(removed.deleted, 0);
        EXPECT_EQ(removed.message, UserNotRemovedMessage("carl", {model}));
        ASSERT_GE(front.shown.size(), 2u);
        EXPECT_EQ(front.shown[1],
                  c.lockNamed
                      ? NameNotLockedMessage("carl", PathText(NameLockPath(speakers, "carl")))
                      : std::string(kCanNotDeleteFilePrefix) + PathText(model));
        EXPECT_NE(users.List().Find("carl"), nullptr);
        EXPECT_EQ(ReadText(model), held);
    }
}
#endif

TEST_F(UsersOfAFolder, NewNamesAndTheFilesLoadingPassesOver) {
    Users users(Speakers());
    ScriptedFrontEnd front;
    EXPECT_EQ(
        SpeakersFolderNotes(Speakers(), true),
        std::vector<std::string>{PathText(Speakers()) + ": the Speakers folder does not exist"});
    EXPECT_TRUE(SpeakersFolderNotes(Speakers(), false).empty());
    ASSERT_TRUE(AddAnna(users).done);
    WriteText(Speakers() / "empty.spk", "");
    EXPECT_EQ(SpeakersFolderNotes(Speakers(), true),
              std::vector<std::string>{PathText(Speakers() / "empty.spk") +
                                       ": empty speaker file, skipped"});
    EXPECT_EQ(users.CheckNewName("anna"), kUserExistsMessage);
    EXPECT_EQ(users.CheckNewName(""), kEnterNameMessage);
    EXPECT_FALSE(users.CheckNewName("Anna").has_value());
}

#ifndef _WIN32
// An enrolment killed while it held the speaker file's name reserved (as on FAT and exFAT)
// leaves a file of that name; loading passes over it without a word and removes it, and the
// name can be enrolled again.
TEST_F(UsersOfAFolder, ANameAKilledEnrolmentReservedIsNoSpeakerFile) {
    const fs::path spk = SpeakerFilePath(Speakers(), "anna");
    for (const bool notesFirst : {true, false}) {
        SCOPED_TRACE(notesFirst ? "notes first" : "loading first");
        ForceRenameByReservation(true);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            SetFileOperationObserver([&](FileOperation step, const fs::path& path) {
                if (step == FileOperation::Reserve && path == spk) {
                    ::kill(::getpid(), SIGKILL);
                }
                return std::error_code();
            });
            Users users(Speakers());
            static_cast<void>(AddAnna(users));
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ForceRenameByReservation(false);
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_TRUE(fs::exists(spk));
        Users users(Speakers());
        ScriptedFrontEnd front;
        if (notesFirst) {
            EXPECT_TRUE(SpeakersFolderNotes(Speakers(), true).empty());
        }
        EXPECT_EQ(users.Load(front), 0);
        EXPECT_TRUE(front.shown.empty());
        EXPECT_FALSE(fs::exists(spk));
        EXPECT_TRUE(AddAnna(users).done);
        EXPECT_EQ(std::distance(fs::directory_iterator(Speakers()), fs::directory_iterator()), 1);
        fs::remove(spk);
    }
}
#endif

}  // namespace
}  // namespace quorvane
