// Users protected by a passphrase, through the workflows as the front ends run them: adding,
// listing without the passphrase, unlocking where the models are needed, a wrong passphrase,
// cancelling, and protect / unprotect / change keeping the user's key. Every unlock here runs
// Argon2id with the product's costs (about a third of a second), so the cases stay few.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/speaker/Codebooks.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"
#include "workflow/Users.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
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
    EXPECT_EQ(CheckEncodedFile(folder_.Path() / "old.txt.crp", EncodedMarker("anna"), key,
                               FileSubstitutionTable)
                  .tagVerified,
              true);
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
    std::vector<std::uint8_t> plain;
    EXPECT_EQ(DecodeToBufferChecked(copy, marker, StoreKey, StoreSubstitutionTable, plain,
                                    kModelFileMaxBytes)
                  .status,
              CodingStatus::WrongKeyOrDamaged);
    // The copy is listed, locked; without a passphrase there are no models and no key.
    Users users(elsewhere.Path());
    users.Load(front_);
    ASSERT_NE(users.List().Find("anna"), nullptr);
    EXPECT_FALSE(UnlockUser(users, "anna", front_).done);
    EXPECT_NE(DeriveUserKey(users.List().Find("anna")->codebooks), key);
}

}  // namespace
}  // namespace quorvane
