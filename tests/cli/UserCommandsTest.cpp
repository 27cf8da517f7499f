// The user commands of quorvane-cli, end to end on real voices: two espeak-ng voices
// enrol from three phrases each, then verify, encode, decode by voice and by key file,
// and the refusals and damaged stores a user may meet. Runs the built program.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <chrono>
#include <csignal>
#include <thread>
#endif

#include <array>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "analysis/LevelCheck.h"
#include "analysis/VoiceCodebook.h"
#include "cipher/EncodedFile.h"
#include "cli/SoundFile.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "speaker/KeyFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/Training.h"
#include "speaker/UserKey.h"
#include "speaker/UserList.h"
#include "tests/cli/RunCli.h"
#include "tests/speaker/SpokenPhrase.h"
#include "tests/support/EarlierFormats.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Quoted;
using testing::ScratchFolder;

using testing::CliRun;
using testing::ReadText;

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The phrases: three to enrol with and one to test with, per voice.
constexpr std::array<const char*, 4> kPhrases = {
    "The quick brown fox jumps over the lazy dog near the river bank",
    "Seven silver swans were swimming slowly across the quiet lake",
    "My voice is my password and it opens every door in this house",
    "Please let me open my files today, it is really me speaking"};

// Spoken once for the whole suite: <voice>_<n>.wav at 11025 Hz, n = 1..4.
class Voices {
public:
    static Voices& Get() {
        static Voices voices;
        return voices;
    }
    bool ready = false;
    fs::path Phrase(const std::string& voice, int n) const {
        return folder_.Path() / (voice + "_" + std::to_string(n) + ".wav");
    }
    fs::path Quiet() const { return folder_.Path() / "quiet.wav"; }

private:
    Voices() {
        if (!testing::EspeakAvailable()) {
            return;
        }
        for (const std::string voice : {"en-us", "en+f3"}) {
            for (int n = 1; n <= 4; ++n) {
                const fs::path spoken = folder_.Path() / "spoken.wav";
                if (!testing::SpeakToWav(voice, kPhrases[static_cast<std::size_t>(n - 1)],
                                         spoken) ||
                    !testing::ConvertWithSox(spoken, "-r 11025 -c 1 -b 16", Phrase(voice, n))) {
                    return;
                }
            }
        }
        // The same phrase spoken far too softly for the level checks.
        const std::string soft = "sox -R " + Quoted(Phrase("en-us", 1)) + " -D " + Quoted(Quiet()) +
                                 " vol 0.05 > /dev/null 2>&1";
        ready = std::system(soft.c_str()) == 0 && fs::exists(Quiet());
    }
    ScratchFolder folder_;
};

class UserCommands : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::EspeakAvailable()) {
            GTEST_SKIP() << "espeak-ng is not installed: no voices to enrol";
        }
        ASSERT_TRUE(Voices::Get().ready) << "espeak-ng or sox failed to make the test voices";
        speakers_ = work_.Path() / "Speakers";
    }

    // Runs quorvane-cli on this test's Speakers folder; `input` feeds standard input.
    CliRun Cli(const std::string& arguments, const std::string& input = "") {
        return testing::RunCli(work_.Path(), "--speakers " + Quoted(speakers_) + " " + arguments,
                               input);
    }

    static std::string Phrases(const std::string& voice) {
        const Voices& v = Voices::Get();
        return Quoted(v.Phrase(voice, 1)) + " " + Quoted(v.Phrase(voice, 2)) + " " +
               Quoted(v.Phrase(voice, 3));
    }
    static std::string Phrase(const std::string& voice, int n) {
        return Quoted(Voices::Get().Phrase(voice, n));
    }

    // anna speaks with en-us and keeps a key file; bob speaks with en+f3.
    void EnrolBoth() {
        const CliRun anna =
            Cli("enrol anna " + Phrases("en-us") + " --key-file " + Quoted(AnnaKey()));
        ASSERT_EQ(anna.exitCode, 0) << anna.err;
        const CliRun bob =
            Cli("enrol bob " + Phrases("en+f3") + " --level medium --key-file " + Quoted(BobKey()));
        ASSERT_EQ(bob.exitCode, 0) << bob.err;
    }

    fs::path AnnaKey() const { return work_.Path() / "anna_key.txt"; }
    fs::path BobKey() const { return work_.Path() / "bob_key.txt"; }

    // A folder of plain files of awkward sizes, and folders for the results.
    std::vector<std::string> MakePlainFiles() {
        fs::create_directories(work_.Path() / "plain");
        fs::create_directories(work_.Path() / "enc");
        fs::create_directories(work_.Path() / "out");
        std::string binary;
        for (int i = 0; i < 12345; ++i) {
            binary.push_back(static_cast<char>((i * 7919 + i / 13) & 0xFF));
        }
        WriteAll(work_.Path() / "plain" / "data.bin", binary);
        WriteAll(work_.Path() / "plain" / "notes.txt", "eight by\n");
        WriteAll(work_.Path() / "plain" / "empty", "");
        return {"data.bin", "notes.txt", "empty"};
    }
    std::string Plain(const std::string& leaf) const {
        return Quoted(work_.Path() / "plain" / leaf);
    }
    std::string Encoded(const std::string& leaf) const {
        return Quoted(work_.Path() / "enc" / (leaf + ".crp"));
    }
    fs::path Dir(const std::string& leaf) const { return work_.Path() / leaf; }

    ScratchFolder work_;
    fs::path speakers_;
};

// Trains a phrase the way the command line does: level checks, then training.
bool TrainLikeTheProgram(const fs::path& file, VoiceCodebook& codebook) {
    const Result<std::vector<std::int16_t>> read = ReadSoundFile(file);
    if (!read) {
        return false;
    }
    const std::vector<std::int16_t>& samples = *read;
    const LevelCheckResult level = CheckRecordingLevel(samples);
    NullProgress progress;
    SilentNotifier notifier;
    return level.accepted &&
           TrainCodebook(
               codebook,
               std::span<const std::int16_t>(samples).subspan(
                   static_cast<std::size_t>(level.first), static_cast<std::size_t>(level.count)),
               level.count, kSampleRate, kMaxCodewords, progress, notifier);
}

TEST_F(UserCommands, EnrolledUsersAreVerifiedAndTheStoreSurvivesARestart) {
    EnrolBoth();
    EXPECT_TRUE(fs::exists(speakers_ / "anna.spk"));
    EXPECT_TRUE(fs::exists(speakers_ / "bob.spk"));
    const CliRun users = Cli("users");
    EXPECT_EQ(users.exitCode, 0);
    EXPECT_EQ(users.out, "anna\nbob\n");
    // Global options are taken after the command too.
    EXPECT_EQ(testing::RunCli(work_.Path(), "users --speakers " + Quoted(speakers_)).out,
              "anna\nbob\n");

    // A phrase added at enrolment comes back at distance 0 and is accepted.
    const CliRun same = Cli("verify anna " + Phrase("en-us", 1));
    EXPECT_EQ(same.exitCode, 0) << same.out << same.err;
    EXPECT_TRUE(Contains(same.out, "Your result: Positive")) << same.out;
    EXPECT_TRUE(Contains(same.out, "  Distance:0.0000")) << same.out;
    // The other voice is rejected, both ways.
    const CliRun other = Cli("verify anna " + Phrase("en+f3", 4));
    EXPECT_EQ(other.exitCode, 1) << other.out << other.err;
    EXPECT_TRUE(Contains(other.out, "Your result: Negative")) << other.out;
    EXPECT_EQ(Cli("verify bob " + Phrase("en-us", 4)).exitCode, 1);
    EXPECT_EQ(Cli("verify bob " + Phrase("en+f3", 2)).exitCode, 0);

    // What a new start loads equals a fresh training of the same recordings: distance 0,
    // the threshold of the chosen level bit for bit, and the key of the key file.
    std::array<VoiceCodebook, 3> fresh;
    for (int n = 1; n <= 3; ++n) {
        ASSERT_TRUE(TrainLikeTheProgram(Voices::Get().Phrase("en+f3", n),
                                        fresh[static_cast<std::size_t>(n - 1)]));
    }
    RecordingNotifier notices;
    UserList loaded;
    EXPECT_EQ(LoadRegisteredUsers(speakers_, loaded, notices), 2);
    EXPECT_TRUE(notices.entries.empty());
    const UserRecord* bob = loaded.Find("bob");
    ASSERT_NE(bob, nullptr);
    for (std::size_t c = 0; c < 3; ++c) {
        EXPECT_EQ(CodebookDistance(bob->codebooks[c], fresh[c]), 0.0f);
    }
    EXPECT_EQ(std::bit_cast<std::uint32_t>(bob->threshold),
              std::bit_cast<std::uint32_t>(ComputeThreshold(fresh, kSecurityMedium)));
    std::string keyName;
    GostKey savedKey{};
    ASSERT_TRUE(ReadKeyFile(BobKey(), keyName, savedKey));
    EXPECT_EQ(keyName, "bob");
    EXPECT_EQ(DeriveUserKey(bob->codebooks), savedKey);
    EXPECT_EQ(DeriveUserKey(fresh), savedKey);
    EXPECT_NE(DeriveUserKey(loaded.Find("anna")->codebooks), savedKey);
}

TEST_F(UserCommands, FilesComeBackByVoiceAndByKeyFile) {
    EnrolBoth();
    const std::vector<std::string> files = MakePlainFiles();
    const CliRun encode = Cli("encode anna " + Plain(files[0]) + " " + Plain(files[1]) + " " +
                              Plain(files[2]) + " -o " + Quoted(Dir("enc")));
    ASSERT_EQ(encode.exitCode, 0) << encode.err;
    EXPECT_TRUE(Contains(encode.out, "Encoded 3 of 3 file(s) for anna")) << encode.out;
    for (const std::string& leaf : files) {
        EXPECT_TRUE(Contains(ReadText(Dir("enc") / (leaf + ".crp")), "annacryptedfile\n"));
    }

    // By voice: one file, the owner read from its header.
    const CliRun voice = Cli("decode " + Encoded("data.bin") + " --voice " + Phrase("en-us", 1) +
                             " -o " + Quoted(Dir("out")));
    ASSERT_EQ(voice.exitCode, 0) << voice.out << voice.err;
    EXPECT_EQ(ReadText(Dir("out") / "data.bin"), ReadText(Dir("plain") / "data.bin"));

    // By key file: several files, the owner named by the key file.
    fs::remove(Dir("out") / "data.bin");
    const CliRun key =
        Cli("decode " + Encoded(files[0]) + " " + Encoded(files[1]) + " " + Encoded(files[2]) +
            " --key-file " + Quoted(AnnaKey()) + " -o " + Quoted(Dir("out")));
    ASSERT_EQ(key.exitCode, 0) << key.out << key.err;
    EXPECT_TRUE(Contains(key.out, "Decoded 3 of 3 file(s) of anna")) << key.out;
    for (const std::string& leaf : files) {
        EXPECT_EQ(ReadText(Dir("out") / leaf), ReadText(Dir("plain") / leaf)) << leaf;
    }

    // Decoding again does not replace the files without --overwrite.
    WriteAll(Dir("out") / "notes.txt", "edited since");
    const CliRun again = Cli("decode " + Encoded("notes.txt") + " --key-file " + Quoted(AnnaKey()) +
                             " -o " + Quoted(Dir("out")));
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_TRUE(Contains(again.err, "notes.txt: already exists")) << again.err;
    EXPECT_EQ(ReadText(Dir("out") / "notes.txt"), "edited since");
    EXPECT_EQ(Cli("decode " + Encoded("notes.txt") + " --key-file " + Quoted(AnnaKey()) + " -o " +
                  Quoted(Dir("out")) + " --overwrite")
                  .exitCode,
              0);
    EXPECT_EQ(ReadText(Dir("out") / "notes.txt"), "eight by\n");
}

TEST_F(UserCommands, AProtectedUserNeedsThePassphraseOnlyWhereTheModelsAre) {
    WriteAll(Dir("right.txt"), "open sesame\n");
    WriteAll(Dir("wrong.txt"), "open sesame!\n");
    WriteAll(Dir("new.txt"), "new sesame\n");
    const std::string right = "--passphrase-file " + Quoted(Dir("right.txt")) + " ";
    const std::string wrong = "--passphrase-file " + Quoted(Dir("wrong.txt")) + " ";
    const std::string changed = "--passphrase-file " + Quoted(Dir("new.txt")) + " ";
    // Standard input is no terminal here: without a passphrase file that is an error, at once.
    const std::string enrol = "enrol anna " + Phrases("en-us") + " --protect --key-file ";
    const CliRun asked = Cli(enrol + Quoted(AnnaKey()));
    EXPECT_EQ(asked.exitCode, 2);
    EXPECT_TRUE(Contains(asked.err, "standard input is not a terminal")) << asked.err;
    EXPECT_FALSE(fs::exists(speakers_ / "anna.qvlock"));
    EXPECT_FALSE(fs::exists(AnnaKey()));  // nothing was written, the key file neither

    ASSERT_EQ(Cli(right + enrol + Quoted(AnnaKey())).exitCode, 0);
    EXPECT_TRUE(fs::exists(speakers_ / "anna.qvlock"));
    EXPECT_FALSE(fs::exists(speakers_ / "anna.spk"));
    EXPECT_EQ(Cli("users").out, "anna\n");

    MakePlainFiles();
    const std::string encode = "encode anna " + Plain("notes.txt") + " -o " + Quoted(Dir("enc"));
    const struct {
        std::string arguments;
        int exitCode;
        std::string error;  // part of standard error, when refused
    } cases[] = {
        {wrong + encode, 2, "Wrong passphrase for anna"},
        {encode, 2, "No passphrase given for anna"},
        {right + "verify anna " + Phrase("en-us", 4), 0, ""},
        {right + encode, 0, ""},
        {wrong + "decode " + Encoded("notes.txt") + " --voice " + Phrase("en-us", 1), 2,
         "Wrong passphrase for anna"},
        {right + "decode " + Encoded("notes.txt") + " --voice " + Phrase("en-us", 1) + " -o " +
             Quoted(Dir("out")),
         0, ""},
        {"decode " + Encoded("notes.txt") + " --key-file " + Quoted(AnnaKey()) + " --check", 0, ""},
        {right + "protect anna", 2, "anna is protected already"},
        {wrong + "passphrase anna", 2, "Wrong passphrase for anna"},
        {right + "--new-passphrase-file " + Quoted(Dir("new.txt")) + " passphrase anna", 0, ""},
        {changed + "unprotect anna", 0, ""},
    };
    for (const auto& c : cases) {
        const CliRun run = Cli(c.arguments, "open sesame\n");
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << run.err;
        EXPECT_TRUE(Contains(run.err, c.error)) << run.err;
        if (c.exitCode == 2 && Contains(c.arguments, "encode anna")) {
            EXPECT_FALSE(fs::exists(Dir("enc") / "notes.txt.crp"));  // refused: nothing written
        }
    }
    EXPECT_EQ(ReadText(Dir("out") / "notes.txt"), "eight by\n");
    EXPECT_TRUE(fs::exists(speakers_ / "anna.spk"));
    EXPECT_FALSE(fs::exists(speakers_ / "anna.qvlock"));
}

TEST_F(UserCommands, AFileOfOneUserCannotBeDecodedAsTheOther) {
    EnrolBoth();
    MakePlainFiles();
    ASSERT_EQ(Cli("encode anna " + Plain("notes.txt") + " -o " + Quoted(Dir("enc"))).exitCode, 0);
    const fs::path output = Dir("out") / "notes.txt";

    // bob's voice against anna's models (the owner comes from the header): rejected.
    const CliRun voice = Cli("decode " + Encoded("notes.txt") + " --voice " + Phrase("en+f3", 1) +
                             " -o " + Quoted(Dir("out")));
    EXPECT_EQ(voice.exitCode, 1) << voice.out << voice.err;
    EXPECT_TRUE(Contains(voice.out, "Result: Negative")) << voice.out;
    // bob verified as bob: the file is not his.
    const CliRun asBob = Cli("decode " + Encoded("notes.txt") + " --name bob --voice " +
                             Phrase("en+f3", 1) + " -o " + Quoted(Dir("out")));
    EXPECT_EQ(asBob.exitCode, 1) << asBob.out << asBob.err;
    EXPECT_TRUE(Contains(asBob.err, "not encoded for bob")) << asBob.err;
    // bob's key file on anna's file.
    const CliRun key = Cli("decode " + Encoded("notes.txt") + " --key-file " + Quoted(BobKey()) +
                           " -o " + Quoted(Dir("out")));
    EXPECT_EQ(key.exitCode, 2) << key.out << key.err;
    EXPECT_TRUE(Contains(key.err, "security key of bob, not of anna")) << key.err;
    EXPECT_FALSE(fs::exists(output));
    EXPECT_TRUE(fs::is_empty(Dir("out")));
}

TEST_F(UserCommands, OriginalsAndEncodedFilesAreDeletedOnlyAfterSuccess) {
    EnrolBoth();
    MakePlainFiles();
    // One file of the batch is missing: the others are encoded and their originals go; a
    // missing input is an error (exit code 2) in every command.
    const CliRun encode =
        Cli("encode anna " + Plain("data.bin") + " " + Plain("missing") + " " + Plain("notes.txt") +
            " -o " + Quoted(Dir("enc")) + " --delete-originals");
    EXPECT_EQ(encode.exitCode, 2);
    EXPECT_TRUE(Contains(encode.err, PathText(Dir("plain") / "missing") + ": no such file"))
        << encode.err;
    EXPECT_TRUE(Contains(encode.out, "Encoded 2 of 3 file(s) for anna")) << encode.out;
    EXPECT_FALSE(fs::exists(Dir("plain") / "data.bin"));
    EXPECT_FALSE(fs::exists(Dir("plain") / "notes.txt"));
    EXPECT_TRUE(fs::exists(Dir("enc") / "data.bin.crp"));

    // anna removed and enrolled again with another voice has another key: her old files are
    // refused by their check values, by key file and by voice alike, and nothing is written
    // or deleted.
    ASSERT_EQ(Cli("remove anna --yes").exitCode, 0);
    const fs::path newKey = Dir("anna_new_key.txt");
    ASSERT_EQ(Cli("enrol anna " + Phrases("en+f3") + " --key-file " + Quoted(newKey)).exitCode, 0);
    const std::string toOut = " -o " + Quoted(Dir("out")) + " --delete-encoded";
    for (const std::string& how :
         {" --key-file " + Quoted(newKey), " --voice " + Phrase("en+f3", 1)}) {
        const CliRun refused = Cli("decode " + Encoded("data.bin") + how + toOut);
        EXPECT_EQ(refused.exitCode, 1) << refused.err;
        EXPECT_TRUE(Contains(refused.err,
                             "quorvane-cli: The key does not fit this file, or the "
                             "file is damaged: nothing was written\nquorvane-cli: File "))
            << refused.err;
        EXPECT_TRUE(Contains(refused.out, "Decoded 0 of 1 file(s) of anna")) << refused.out;
        EXPECT_TRUE(fs::exists(Dir("enc") / "data.bin.crp"));
        EXPECT_FALSE(fs::exists(Dir("out") / "data.bin"));
    }
    // --check tells the keys apart without writing anything.
    EXPECT_EQ(
        Cli("decode " + Encoded("data.bin") + " --check --key-file " + Quoted(newKey)).exitCode, 1);
    const CliRun right =
        Cli("decode " + Encoded("data.bin") + " --check --key-file " + Quoted(AnnaKey()) + toOut);
    EXPECT_EQ(right.exitCode, 0) << right.err;
    EXPECT_TRUE(Contains(right.out, "the key is right")) << right.out;
    EXPECT_FALSE(fs::exists(Dir("out") / "data.bin"));
    // The old key file proves itself on the file: decoded, and the encoded file may go.
    const CliRun old =
        Cli("decode " + Encoded("data.bin") + " --key-file " + Quoted(AnnaKey()) + toOut);
    EXPECT_EQ(old.exitCode, 0) << old.err;
    EXPECT_FALSE(fs::exists(Dir("enc") / "data.bin.crp"));
    EXPECT_EQ(ReadText(Dir("out") / "data.bin").size(), 12345u);

    // bob's own file, decoded with his confirmed key file, is deleted after success.
    ASSERT_EQ(
        Cli("encode bob " + Quoted(Dir("out") / "data.bin") + " -o " + Quoted(Dir("enc"))).exitCode,
        0);
    fs::remove(Dir("out") / "data.bin");
    const CliRun confirmed =
        Cli("decode " + Encoded("data.bin") + " --key-file " + Quoted(BobKey()) + " -o " +
            Quoted(Dir("out")) + " --delete-encoded");
    EXPECT_EQ(confirmed.exitCode, 0) << confirmed.err;
    EXPECT_FALSE(fs::exists(Dir("enc") / "data.bin.crp"));
    EXPECT_EQ(ReadText(Dir("out") / "data.bin").size(), 12345u);
}

TEST_F(UserCommands, DuplicateAndDamagedSpeakerFiles) {
    EnrolBoth();
    fs::copy_file(speakers_ / "anna.spk", speakers_ / "copy.spk");
    WriteAll(speakers_ / "zed.spk", "zed\n3\n0\nshort");
    const CliRun users = Cli("users");
    EXPECT_EQ(users.exitCode, 0);
    EXPECT_EQ(users.out, "anna\nbob\n");
    EXPECT_TRUE(Contains(users.err, "User anna already is in the list")) << users.err;
    EXPECT_TRUE(Contains(users.err, "Can not load file: " + PathText(speakers_ / "zed.spk")))
        << users.err;

    // Two files carry anna: the second question names them; No keeps both.
    const CliRun keep = Cli("remove anna", "y\nn\n");
    EXPECT_EQ(keep.exitCode, 1);
    EXPECT_TRUE(Contains(keep.err, "Error. There were found 2 files representing this user"))
        << keep.err;
    EXPECT_TRUE(fs::exists(speakers_ / "copy.spk"));
    EXPECT_EQ(Cli("remove anna", "n\n").exitCode, 1);
    // Yes to both deletes both, and only them.
    const CliRun yes = Cli("remove anna", "y\ny\n");
    EXPECT_EQ(yes.exitCode, 0) << yes.err;
    EXPECT_FALSE(fs::exists(speakers_ / "anna.spk"));
    EXPECT_FALSE(fs::exists(speakers_ / "copy.spk"));
    EXPECT_TRUE(fs::exists(speakers_ / "bob.spk"));
    EXPECT_TRUE(fs::exists(speakers_ / "zed.spk"));
    EXPECT_EQ(Cli("users").out, "bob\n");
    const CliRun gone = Cli("remove anna --yes");
    EXPECT_EQ(gone.exitCode, 2);
    EXPECT_TRUE(Contains(gone.err, "User with such name does not exist. Please check the name!"));
}

TEST_F(UserCommands, MissingSpeakersFolder) {
    const CliRun users = Cli("users");
    EXPECT_EQ(users.exitCode, 0);
    EXPECT_EQ(users.out, "There are no registered users\n");
    const CliRun verify = Cli("verify anna " + Phrase("en-us", 1));
    EXPECT_EQ(verify.exitCode, 2);
    EXPECT_TRUE(Contains(verify.err, "User anna was not found in the list of registered users"));
    MakePlainFiles();
    const CliRun encode = Cli("encode anna " + Plain("notes.txt"));
    EXPECT_EQ(encode.exitCode, 2);
    EXPECT_TRUE(Contains(encode.err, "There are no registered users"));
    EXPECT_EQ(Cli("remove anna --yes").exitCode, 2);
    EXPECT_FALSE(fs::exists(speakers_));
    // Enrolment creates it.
    const CliRun enrol = Cli("enrol anna " + Phrases("en-us"));
    EXPECT_EQ(enrol.exitCode, 0) << enrol.err;
    EXPECT_TRUE(fs::exists(speakers_ / "anna.spk"));
}

TEST_F(UserCommands, NamesAreCheckedBeforeAnythingIsDone) {
    // The name rules are the workflow's; the command line says which rule and exits with 2.
    const CliRun bad = Cli("enrol 'a b' " + Phrases("en-us"));
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(Contains(bad.err, "enrol: You can not use symbols")) << bad.err;
    EXPECT_FALSE(fs::exists(speakers_));
    EXPECT_EQ(Cli("enrol j.smith " + Phrases("en-us")).exitCode, 0);
    const CliRun twice = Cli("enrol j.smith " + Phrases("en+f3"));
    EXPECT_EQ(twice.exitCode, 2);
    EXPECT_TRUE(Contains(twice.err, "j.smith: User with such name already exists")) << twice.err;
    EXPECT_EQ(Cli("users").out, "j.smith\n");
}

TEST_F(UserCommands, RecordingsAndKeyFilesAreCheckedBeforeAUserIsAdded) {
    const Voices& v = Voices::Get();
    const CliRun quiet = Cli("enrol anna " + Quoted(v.Quiet()) + " " + Phrase("en-us", 2) + " " +
                             Phrase("en-us", 3));
    EXPECT_EQ(quiet.exitCode, 2);
    EXPECT_TRUE(Contains(
        quiet.err, PathText(v.Quiet()) + ": Signal level is too low, please repeat recording"))
        << quiet.err;
    const CliRun missing = Cli("enrol anna " + Quoted(Dir("none.wav")) + " " + Phrase("en-us", 2) +
                               " " + Phrase("en-us", 3));
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(Contains(missing.err, "none.wav")) << missing.err;
    // An existing key file is never replaced.
    WriteAll(AnnaKey(), "an older key");
    const CliRun taken = Cli("enrol anna " + Phrases("en-us") + " --key-file " + Quoted(AnnaKey()));
    EXPECT_EQ(taken.exitCode, 2);
    EXPECT_EQ(ReadText(AnnaKey()), "an older key");
    // The same phrase three times gives no usable threshold.
    const CliRun same = Cli("enrol anna " + Phrase("en-us", 1) + " " + Phrase("en-us", 1) + " " +
                            Phrase("en-us", 1));
    EXPECT_EQ(same.exitCode, 2);
    EXPECT_TRUE(Contains(same.err, "no usable threshold")) << same.err;
    EXPECT_FALSE(fs::exists(speakers_ / "anna.spk"));
}

TEST_F(UserCommands, AKeyFileThatCannotBeWrittenStopsTheEnrolment) {
#ifdef _WIN32
    GTEST_SKIP() << "needs a folder where no file can be created";
#else
    // /proc exists, but no file can be created in it: the key file is made ready before
    // the user is stored, so nothing is registered without its key.
    const CliRun run = Cli("enrol anna " + Phrases("en-us") + " --key-file /proc/anna_key.txt");
    EXPECT_EQ(run.exitCode, 2) << run.err;
    // With the system's reason after it.
    EXPECT_TRUE(Contains(run.err, "Unable to save security key file: /proc/anna_key.txt ("))
        << run.err;
    EXPECT_EQ(Cli("users").out, "There are no registered users\n");
#endif
}

TEST_F(UserCommands, DecodingRefusesFilesThatWereNotEncoded) {
    EnrolBoth();
    MakePlainFiles();
    const CliRun plain = Cli("decode " + Plain("notes.txt") + " --key-file " + Quoted(AnnaKey()));
    EXPECT_EQ(plain.exitCode, 2);
    EXPECT_TRUE(Contains(plain.err, "This file was not encoded")) << plain.err;
    const CliRun several = Cli("decode " + Plain("notes.txt") + " " + Plain("data.bin") +
                               " --voice " + Phrase("en-us", 1));
    EXPECT_EQ(several.exitCode, 2);
    EXPECT_TRUE(Contains(several.err, "Enter your name first")) << several.err;
    const CliRun neither = Cli("decode " + Plain("notes.txt"));
    EXPECT_EQ(neither.exitCode, 2);
    EXPECT_TRUE(Contains(neither.err, "--voice RECORDING or --key-file KEYFILE")) << neither.err;
    // A hostile owner name cannot send escape sequences to the terminal.
    WriteAll(Dir("evil.crp"),
             "x\x1b]0;owned\x07"
             "cryptedfile\n0\n0\n");
    const CliRun evil =
        Cli("decode " + Quoted(Dir("evil.crp")) + " --key-file " + Quoted(AnnaKey()));
    EXPECT_FALSE(Contains(evil.out + evil.err, "\x1b")) << evil.err;
    EXPECT_TRUE(Contains(evil.err, "not of x\\x1B]0;owned\\x07")) << evil.err;
    // A pipe given as a recording is refused instead of blocking.
    ASSERT_EQ(::mkfifo(Dir("pipe.wav").c_str(), 0600), 0);
    const CliRun pipe = Cli("verify anna " + Quoted(Dir("pipe.wav")));
    EXPECT_EQ(pipe.exitCode, 2);
    EXPECT_TRUE(Contains(pipe.err, "not a regular file")) << pipe.err;
}

// A file without a check value (here one of an earlier version) is decoded only with
// --allow-unverified, and then kept. Needs no voices: the key file alone decodes.
TEST(UnverifiedFiles, AreDecodedOnlyWithAllowUnverified) {
    const ScratchFolder work;
    const GostKey key{11, 22, 33, 44, 55, 66, 77, 88};
    ASSERT_TRUE(WriteKeyFile(work.Path() / "anna_key.txt", "anna", key));
    WriteAll(work.Path() / "old.txt", "written long ago");
    const fs::path old = work.Path() / "old.txt.crp";
    ASSERT_TRUE(EncodeFileWithoutTrailer(work.Path() / "old.txt", old, "annacryptedfile", key,
                                         FileSubstitutionTable));
    fs::remove(work.Path() / "old.txt");
    const std::string decode = "--speakers " + Quoted(work.Path() / "Speakers") + " decode " +
                               Quoted(old) + " --key-file " + Quoted(work.Path() / "anna_key.txt") +
                               " --delete-encoded";
    const CliRun refused = testing::RunCli(work.Path(), decode);
    EXPECT_EQ(refused.exitCode, 1) << refused.err;
    EXPECT_TRUE(Contains(refused.err, PathText(old) +
                                          " carries no check value (written by an earlier "
                                          "version, or the value was removed): the key "
                                          "cannot be confirmed"))
        << refused.err;
    EXPECT_TRUE(Contains(refused.err, "--allow-unverified")) << refused.err;
    EXPECT_FALSE(fs::exists(work.Path() / "old.txt"));
    const CliRun allowed = testing::RunCli(work.Path(), decode + " --allow-unverified");
    EXPECT_EQ(allowed.exitCode, 0) << allowed.err;
    EXPECT_EQ(ReadText(work.Path() / "old.txt"), "written long ago");
    EXPECT_TRUE(fs::exists(old));
}

#ifndef _WIN32
// Ctrl-C in the middle of a large file: "Cancelled", status 130, no temporary file left.
TEST_F(UserCommands, InterruptingAnEncodeLeavesNoTemporaryFile) {
    ASSERT_EQ(Cli("enrol anna " + Phrases("en-us")).exitCode, 0);
    fs::create_directories(Dir("big"));
    fs::create_directories(Dir("enc"));
    std::ofstream(Dir("big") / "large.bin", std::ios::binary).flush();
    fs::resize_file(Dir("big") / "large.bin", std::uintmax_t{1} << 30);
    const std::string speakers = speakers_.string();
    const std::string input = (Dir("big") / "large.bin").string();
    const std::string output = Dir("enc").string();
    const std::string errors = Dir("stderr.txt").string();
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::execl(QUORVANE_CLI_EXE, QUORVANE_CLI_EXE, "--speakers", speakers.c_str(), "encode",
                "anna", input.c_str(), "-o", output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Interrupted once its temporary file exists, as a user's Ctrl-C would.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fs::is_empty(Dir("enc")) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ::kill(child, SIGINT);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_EQ(ReadText(Dir("stderr.txt")), "Cancelled\n");
    EXPECT_TRUE(fs::is_empty(Dir("enc")));
}
#endif

}  // namespace
}  // namespace quorvane
