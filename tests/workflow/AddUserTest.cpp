// "Add new user..." against the speaker files already in the folder: a file stored meanwhile
// by another enrolment of the name is never replaced (one injected between the store's check
// and its commit, and two real processes racing, plain or protected), and a damaged or
// unreadable file of the name is kept aside, never destroyed.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "speaker/KeyFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ScriptedFrontEnd;

// A trained enrolment whose threshold tells it apart from others.
Enrolment Trained(float value) {
    Enrolment enrolment;
    const VoiceCodebook book = testing::FilledCodebook(
        10, [value](int i, int j) { return value + 0.5f * static_cast<float>(i * j); },
        [](int) { return 3; });
    enrolment.MutablePhraseCodebooks() = {book, book, book};
    enrolment.SetThreshold(value);
    return enrolment;
}

std::vector<std::string> Names(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The threshold of the user `name` as a fresh start loads it, or -1 when it is not loaded.
float LoadedThreshold(const fs::path& speakers, const std::string& name) {
    ScriptedFrontEnd front;
    Users users(speakers);
    users.Load(front);
    const UserRecord* record = users.List().Find(name);
    return record == nullptr ? -1.0f : record->threshold;
}

TEST(AddUser, ASpeakerFileStoredMeanwhileIsNeverReplaced) {
    const struct {
        const char* when;
        bool duringStore;  // between the store's check and its commit, else before Add
    } cases[] = {{"after the users were loaded", false}, {"between check and commit", true}};
    for (const auto& c : cases) {
        const ScratchFolder work;
        const fs::path speakers = work.Path() / "Speakers";
        ScriptedFrontEnd front;
        Users users(speakers);
        users.Load(front);
        const auto other = [&] {
            ASSERT_TRUE(StoreSpeakerFile(speakers, "anna", Trained(2.0f).PhraseCodebooks(), 2.0f));
        };
        AddUserOptions options;
        options.keyFile = work.Path() / "anna_key.txt";
        if (c.duringStore) {
            options.beforeCommit = other;
        } else {
            fs::create_directories(speakers);
            other();
        }
        const AddUserResult added = users.Add("anna", Trained(1.0f), front, options);
        EXPECT_FALSE(added.done) << c.when;
        EXPECT_EQ(added.message, SpeakerFileAppearedMessage("anna")) << c.when;
        EXPECT_EQ(users.List().Find("anna"), nullptr) << c.when;
        // No key file, no temporary file: only the other enrolment's speaker file.
        EXPECT_EQ(Names(work.Path()), std::vector<std::string>{"Speakers"}) << c.when;
        EXPECT_EQ(Names(speakers), std::vector<std::string>{"anna.spk"}) << c.when;
        EXPECT_EQ(LoadedThreshold(speakers, "anna"), 2.0f) << c.when;
    }
}

#ifndef _WIN32
// Two processes enrol anna at the same moment, each with its own key file: exactly one is
// stored, and the key file that exists is the key of the speaker file that stays.
TEST(AddUser, OfTwoProcessesEnrollingOneNameOnlyOneWins) {
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        const ScratchFolder work;
        const fs::path speakers = work.Path() / "Speakers";
        ASSERT_TRUE(fs::create_directories(speakers));
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        const bool isChild = child == 0;
        const auto enrol = [&] {
            ScriptedFrontEnd front;
            Users users(speakers);
            users.Load(front);
            AddUserOptions options;
            options.keyFile = work.Path() / (isChild ? "child_key.txt" : "parent_key.txt");
            return users.Add("anna", Trained(isChild ? 2.0f : 1.0f), front, options).done;
        };
        if (isChild) {
            char go = 0;
            const bool started = ::read(start[0], &go, 1) == 1;
            ::_exit(started && enrol() ? 0 : 1);
        }
        ASSERT_EQ(::write(start[1], "g", 1), 1);
        const bool parentWon = enrol();
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(start[0]);
        ::close(start[1]);
        ASSERT_TRUE(WIFEXITED(status));
        const bool childWon = WEXITSTATUS(status) == 0;
        ASSERT_NE(parentWon, childWon) << "round " << round;
        EXPECT_EQ(Names(speakers), std::vector<std::string>{"anna.spk"});
        const std::string winner = parentWon ? "parent_key.txt" : "child_key.txt";
        EXPECT_EQ(Names(work.Path()), (std::vector<std::string>{"Speakers", winner}));
        EXPECT_EQ(LoadedThreshold(speakers, "anna"), parentWon ? 1.0f : 2.0f);
        std::string keyName;
        GostKey key{};
        ASSERT_TRUE(ReadKeyFile(work.Path() / winner, keyName, key));
        EXPECT_EQ(key, DeriveUserKey(Trained(parentWon ? 1.0f : 2.0f).PhraseCodebooks()));
    }
}

// A plain and a protected enrolment of one name at the same moment: the name's lock lets one
// store its file, and the other then finds the name taken, whichever form it stores. Exactly one
// file is left, with no lock file.
TEST(AddUser, APlainAndAProtectedEnrolmentOfOneNameCannotBothSucceed) {
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        const ScratchFolder work;
        const fs::path speakers = work.Path() / "Speakers";
        ASSERT_TRUE(fs::create_directories(speakers));
        int start[2];
        ASSERT_EQ(::pipe(start), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        // The child protects in even rounds, the parent in odd ones.
        const bool protects = (child == 0) == (round % 2 == 0);
        const auto enrol = [&] {
            ScriptedFrontEnd front;
            PassphraseAnswer answer;
            answer.given = true;
            answer.passphrase = {'p', 'w'};
            front.passphrases = {answer};
            Users users(speakers);
            users.Load(front);
            AddUserOptions options;
            options.keyFile = work.Path() / (child == 0 ? "child_key.txt" : "parent_key.txt");
            options.protection = protects ? ProtectionOffer::Required : ProtectionOffer::None;
            return users.Add("anna", Trained(protects ? 2.0f : 1.0f), front, options).done;
        };
        if (child == 0) {
            char go = 0;
            const bool started = ::read(start[0], &go, 1) == 1;
            ::_exit(started && enrol() ? 0 : 1);
        }
        ASSERT_EQ(::write(start[1], "g", 1), 1);
        const bool parentWon = enrol();
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(start[0]);
        ::close(start[1]);
        ASSERT_TRUE(WIFEXITED(status));
        const bool childWon = WEXITSTATUS(status) == 0;
        ASSERT_NE(parentWon, childWon) << "round " << round;
        const bool protectedWon = parentWon == (round % 2 == 1);
        EXPECT_EQ(Names(speakers),
                  std::vector<std::string>{protectedWon ? "anna.qvlock" : "anna.spk"});
        EXPECT_EQ(
            Names(work.Path()),
            (std::vector<std::string>{"Speakers", parentWon ? "parent_key.txt" : "child_key.txt"}));
    }
}
#endif

// A speaker file of the name that does not load (damaged, empty, its first token too long) is
// moved aside under a name the store does not load, and the user is told where.
TEST(AddUser, AnUnloadableSpeakerFileOfTheNameIsKeptAside) {
    const struct {
        const char* what;
        std::string content;
        bool earlierKept;  // anna.spk.kept-1 is there already
    } cases[] = {
        {"damaged", "anna\n3\n0\nshort", false},
        {"empty", "", false},
        {"overlong first token", std::string(1000, 'n') + "\n1\n0\n12345678", false},
        {"damaged again", "anna\n1\n0\nxxxxxxxx", true},
    };
    for (const auto& c : cases) {
        const ScratchFolder work;
        const fs::path speakers = work.Path() / "Speakers";
        fs::create_directories(speakers);
        std::ofstream(speakers / "anna.spk", std::ios::binary) << c.content;
        const fs::path kept1 = speakers / "anna.spk.kept-1";
        if (c.earlierKept) {
            std::ofstream(kept1, std::ios::binary) << "kept before";
        }
        ScriptedFrontEnd front;
        Users users(speakers);
        users.Load(front);
        ASSERT_EQ(users.List().Find("anna"), nullptr) << c.what;
        front.shown.clear();
        const AddUserResult added = users.Add("anna", Trained(1.5f), front);
        EXPECT_TRUE(added.done) << c.what;
        const fs::path aside = c.earlierKept ? speakers / "anna.spk.kept-2" : kept1;
        EXPECT_EQ(added.keptAside, aside) << c.what;
        EXPECT_EQ(ReadText(aside), c.content) << c.what;
        EXPECT_EQ(front.shown.front(),
                  SpeakerFileKeptMessage(PathText(speakers / "anna.spk"), PathText(aside)))
            << c.what;
        // A new start loads the new enrolment and nothing of the kept files.
        EXPECT_EQ(ListSpeakerFiles(speakers), std::vector<fs::path>{speakers / "anna.spk"});
        EXPECT_EQ(LoadedThreshold(speakers, "anna"), 1.5f) << c.what;
    }
}

}  // namespace
}  // namespace quorvane
