// A decode request's rules: the owner of the files, the key file of another user, the
// key from each source, checking the key without writing, and the batch's summary line.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "files/PathText.h"
#include "speaker/KeyFile.h"
#include "speaker/UserKey.h"
#include "tests/support/EarlierFormats.h"
#include "tests/support/ScriptedDecodeSteps.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Decoding.h"
#include "workflow/Messages.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::Phrases;
using testing::ReadText;
using testing::ScratchFolder;
using testing::ScriptedDecodeSteps;
using testing::ScriptedFrontEnd;
using testing::WriteText;

// anna's and bob's files in a scratch folder, and their key files.
class Decoding : public ::testing::Test {
protected:
    void SetUp() override {
        AppendUser(users_, Phrases(1.0f), "anna", 0.5f);
        AppendUser(users_, Phrases(2.0f), "bob", 0.5f);
        for (const char* name : {"a.txt", "b.txt"}) {
            WriteText(Path(name), std::string("plain ") + name);
        }
        ScriptedFrontEnd front;
        EXPECT_EQ(
            EncodeFiles(*users_.Find("anna"), {Path("a.txt"), Path("b.txt")}, {}, false, front)
                .Count(FileStatus::Done),
            2);
        fs::create_directory(Path("bob"));
        EXPECT_EQ(EncodeFiles(*users_.Find("bob"), {Path("a.txt")}, Path("bob"), false, front)
                      .Count(FileStatus::Done),
                  1);
        EXPECT_TRUE(WriteKeyFile(Path("anna.key"), "anna", Key("anna")));
        EXPECT_TRUE(WriteKeyFile(Path("bob.key"), "bob", Key("bob")));
        // The eight words alone, without the heading lines that name the user.
        std::string bare;
        for (const std::uint32_t word : Key("anna")) {
            bare += std::to_string(static_cast<std::int32_t>(word)) + "\n";
        }
        WriteText(Path("bare.key"), bare);
        WriteText(Path("plain.txt"), "not encoded");
    }
    fs::path Path(const std::string& leaf) const { return folder_.Path() / leaf; }
    // anna's key as the lines typed into the security key dialog.
    std::vector<std::string> KeyLines() const {
        std::vector<std::string> lines;
        for (const std::uint32_t word : Key("anna")) {
            lines.push_back(std::to_string(static_cast<std::int32_t>(word)));
        }
        return lines;
    }
    GostKey Key(const std::string& name) const {
        return DeriveUserKey(users_.Find(name)->codebooks);
    }

    ScratchFolder folder_;
    UserList users_;
};

TEST_F(Decoding, TheOwnerIsTheNameGivenElseTheSingleFilesElseTheKeyFiles) {
    const struct {
        std::vector<std::string> files;
        std::string name;
        std::string keyFile;  // empty: by voice
        std::string owner;    // empty: refused
        OwnerRefusal refusal;
        std::string message;
    } cases[] = {
        {{"a.txt.crp"}, "", "", "anna", OwnerRefusal::None, ""},
        {{"a.txt.crp"}, "bob", "", "bob", OwnerRefusal::None, ""},
        {{"a.txt.crp", "b.txt.crp"}, "", "anna.key", "anna", OwnerRefusal::None, ""},
        {{"a.txt.crp", "b.txt.crp"}, "anna", "bare.key", "anna", OwnerRefusal::None, ""},
        {{"a.txt.crp", "b.txt.crp"},
         "",
         "",
         "",
         OwnerRefusal::NoName,
         std::string(kEnterNameFirstMessage)},
        {{"a.txt.crp", "b.txt.crp"},
         "",
         "bare.key",
         "",
         OwnerRefusal::NoName,
         std::string(kEnterNameFirstMessage)},
        {{"plain.txt"},
         "",
         "",
         "",
         OwnerRefusal::File,
         NotEncodedMessage(PathText(Path("plain.txt")))},
        {{"a.txt.crp"},
         "anna",
         "bob.key",
         "",
         OwnerRefusal::KeyOfOtherUser,
         KeyOfOtherUserMessage("bob", "anna")},
        {{"a.txt.crp"},
         "",
         "bob.key",
         "",
         OwnerRefusal::KeyOfOtherUser,
         KeyOfOtherUserMessage("bob", "anna")},
        {{"a.txt.crp"},
         "anna",
         "plain.txt",
         "",
         OwnerRefusal::KeyFile,
         PathText(Path("plain.txt")) + ": " + std::string(kNotKeyFileMessage)},
    };
    for (const auto& c : cases) {
        DecodeRequest request;
        for (const std::string& file : c.files) {
            request.files.push_back(Path(file));
        }
        request.name = c.name;
        request.keySource = c.keyFile.empty() ? KeySource::Voice : KeySource::KeyFile;
        request.keyFile = Path(c.keyFile);
        const DecodeOwnerResult owner = DecodeOwner(request);
        const std::string what = c.files.front() + " " + c.name + " " + c.keyFile;
        EXPECT_EQ(owner.done, !c.owner.empty()) << what;
        EXPECT_EQ(owner.done ? owner.name : std::string(), c.owner) << what;
        EXPECT_EQ(owner.refusal, c.refusal) << what;
        EXPECT_EQ(owner.message, c.message) << what;
    }
    DecodeRequest missing;
    missing.files = {Path("missing.crp")};
    EXPECT_EQ(DecodeOwner(missing).message,
              InputProblemMessage(PathText(Path("missing.crp")), kNoSuchFileReason));
    EXPECT_TRUE(DecodeOwner(missing).fromFile);
}

TEST_F(Decoding, AKeyFileGivesItsKeyAndIsRefusedForAnotherUser) {
    const struct {
        std::string file;
        std::string name;
        std::string message;  // empty: read
        std::string keyName;
    } cases[] = {
        {"anna.key", "anna", "", "anna"},
        {"anna.key", "", "", "anna"},  // no name: not checked
        {"bare.key", "bob", "", ""},   // a file naming nobody fits everybody
        {"bob.key", "anna", PathText(Path("bob.key")) + ": " + KeyOfOtherUserMessage("bob", "anna"),
         "bob"},
        {"plain.txt", "", PathText(Path("plain.txt")) + ": " + std::string(kNotKeyFileMessage), ""},
    };
    for (const auto& c : cases) {
        const KeyFileResult read = KeyFromFile(Path(c.file), c.name);
        EXPECT_EQ(read.done, c.message.empty()) << c.file;
        EXPECT_EQ(read.message, c.message) << c.file;
        EXPECT_EQ(read.keyName, c.keyName) << c.file;
        if (read.done) {
            EXPECT_EQ(read.key, Key(c.file == "bob.key" ? "bob" : "anna")) << c.file;
        }
    }
    EXPECT_FALSE(KeyOfAnotherUser("", "anna").has_value());
    EXPECT_FALSE(KeyOfAnotherUser("anna", "anna").has_value());
    EXPECT_EQ(KeyOfAnotherUser("Anna", "anna"), KeyOfOtherUserMessage("Anna", "anna"));
}

TEST_F(Decoding, EachKeySourceDecodesTheOwnersFiles) {
    std::vector<std::string> lines;
    for (const std::uint32_t word : Key("anna")) {
        lines.push_back(std::to_string(static_cast<std::int32_t>(word)));
    }
    const struct {
        KeySource source;
        std::vector<std::string> lines;
        std::string refusal;  // empty: decoded
    } cases[] = {
        {KeySource::KeyFile, {}, ""},
        {KeySource::TypedLines, lines, ""},
        {KeySource::TypedLines, {"1", "2"}, std::string(kKeyMustBe8DigitsMessage)},
    };
    for (const auto& c : cases) {
        const ScratchFolder out;
        DecodeRequest request;
        request.files = {Path("a.txt.crp"), Path("b.txt.crp")};
        request.name = "anna";
        request.keySource = c.source;
        request.keyFile = Path("anna.key");
        request.outputFolder = out.Path();
        Users users(folder_.Path());
        ScriptedFrontEnd front;
        ScriptedDecodeSteps steps(front);
        steps.keyLines = c.lines;
        // Checking only writes nothing.
        request.checkOnly = true;
        const DecodeOutcome checked = Decode(request, users, front, steps);
        EXPECT_EQ(checked.message, c.refusal);
        if (!c.refusal.empty()) {
            EXPECT_EQ(checked.ending, DecodeEnding::Refused);
            EXPECT_EQ(steps.batchesRun, 0);
            continue;
        }
        EXPECT_EQ(checked.ending, DecodeEnding::Checked);
        EXPECT_EQ(checked.batch.Count(FileStatus::Done), 2);
        EXPECT_TRUE(fs::is_empty(out.Path()));
        request.checkOnly = false;
        const DecodeOutcome decoded = Decode(request, users, front, steps);
        EXPECT_EQ(decoded.ending, DecodeEnding::Decoded);
        EXPECT_EQ(decoded.owner, "anna");
        EXPECT_EQ(ReadText(out.Path() / "a.txt"), "plain a.txt");
        EXPECT_EQ(ReadText(out.Path() / "b.txt"), "plain b.txt");
        EXPECT_EQ(steps.keyLinesAsked.size(), c.source == KeySource::TypedLines ? 2u : 0u);
    }
}

// The steps of a decode in their order, and what ends it early: no files, no name where the
// window requires one, a cancelled key or files dialog, another batch running, a missing output
// folder that is made only where asked.
TEST_F(Decoding, TheDecodeEndsWhereItsStepsEnd) {
    const struct {
        const char* what;
        std::vector<std::string> files;
        bool nameRequired;
        std::optional<std::vector<std::string>> keyLines;
        bool confirm;
        bool canRun;
        bool createFolder;
        DecodeEnding ending;
        std::string message;
    } cases[] = {
        {"no files",
         {},
         false,
         {},
         true,
         true,
         false,
         DecodeEnding::Refused,
         std::string(kSelectFilesFirstMessage)},
        {"no name in the window",
         {"a.txt.crp"},
         true,
         {},
         true,
         true,
         false,
         DecodeEnding::Refused,
         std::string(kEnterNameFirstMessage)},
        {"key dialog cancelled",
         {"a.txt.crp"},
         false,
         std::nullopt,
         true,
         true,
         false,
         DecodeEnding::Cancelled,
         ""},
        {"files dialog cancelled",
         {"a.txt.crp"},
         false,
         KeyLines(),
         false,
         true,
         false,
         DecodeEnding::Cancelled,
         ""},
        {"another batch runs",
         {"a.txt.crp"},
         false,
         KeyLines(),
         true,
         false,
         true,
         DecodeEnding::NotRun,
         ""},
        {"the folder not made",
         {"a.txt.crp"},
         false,
         KeyLines(),
         true,
         true,
         false,
         DecodeEnding::Decoded,
         ""},
        {"the folder made",
         {"a.txt.crp"},
         false,
         KeyLines(),
         true,
         true,
         true,
         DecodeEnding::Decoded,
         ""},
    };
    for (const auto& c : cases) {
        const ScratchFolder work;
        DecodeRequest request;
        for (const std::string& file : c.files) {
            request.files.push_back(Path(file));
        }
        request.nameRequired = c.nameRequired;
        request.keySource = KeySource::TypedLines;
        request.outputFolder = work.Path() / "new" / "out";
        request.createOutputFolder = c.createFolder;
        Users users(folder_.Path());
        ScriptedFrontEnd front;
        ScriptedDecodeSteps steps(front);
        steps.keyLines = c.keyLines;
        steps.confirmFiles = c.confirm;
        steps.canRun = c.canRun;
        const DecodeOutcome outcome = Decode(request, users, front, steps);
        EXPECT_EQ(outcome.ending, c.ending) << c.what;
        EXPECT_EQ(outcome.message, c.message) << c.what;
        // A folder made for a batch that did not run is removed again.
        const bool made = c.createFolder && c.ending == DecodeEnding::Decoded;
        EXPECT_EQ(outcome.folderCreated, made) << c.what;
        EXPECT_EQ(fs::is_directory(request.outputFolder), made) << c.what;
        EXPECT_EQ(fs::exists(request.outputFolder / "a.txt"),
                  c.ending == DecodeEnding::Decoded && c.createFolder)
            << c.what;
    }
}

TEST_F(Decoding, CheckingTheKeyTellsEachFileAndWritesNothing) {
    WriteText(Path("old.txt"), "old");
    ASSERT_TRUE(EncodeFileWithoutTrailer(Path("old.txt"), Path("old.txt.crp"), "annacryptedfile",
                                         Key("anna"), FileSubstitutionTable));
    GostKey wrong = Key("anna");
    wrong[7] ^= 1;
    const struct {
        std::string file;
        GostKey key;
        FileStatus status;
        std::string reason;
    } cases[] = {
        {"a.txt.crp", Key("anna"), FileStatus::Done, ""},
        {"old.txt.crp", Key("anna"), FileStatus::Skipped, std::string(kKeyNotTestableMessage)},
        {"a.txt.crp", wrong, FileStatus::Failed, "wrong key or damaged file"},
        {"bob/a.txt.crp", Key("anna"), FileStatus::Failed, "it is not encoded for anna"},
        {"plain.txt", Key("anna"), FileStatus::Failed, "it is not encoded for anna"},
    };
    const std::vector<fs::path> before(fs::directory_iterator(folder_.Path()), {});
    for (const auto& c : cases) {
        ScriptedFrontEnd front;
        const BatchResult batch = CheckKeyOnFiles("anna", c.key, {Path(c.file)}, front);
        ASSERT_EQ(batch.files.size(), 1u);
        EXPECT_EQ(batch.files[0].status, c.status) << c.file;
        EXPECT_EQ(batch.files[0].reason, c.reason) << c.file;
        EXPECT_EQ(front.reasons.size(), c.status == FileStatus::Failed ? 1u : 0u) << c.file;
    }
    EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(folder_.Path()), {}).size(),
              before.size());
}

// Several files named outside the file dialog: a missing one and one that is not encoded are told
// with their paths and left out; a single file is left to tell its own refusal when chosen.
TEST_F(Decoding, FilesNamedOutsideTheDialogAreToldWhenTheyCannotBeChosen) {
    ScriptedFrontEnd front;
    const std::vector<fs::path> given = {Path("missing.crp"), Path("a.txt.crp"), Path("plain.txt")};
    EXPECT_EQ(ChoosableEncodedFiles(given, front), std::vector<fs::path>{Path("a.txt.crp")});
    EXPECT_EQ(front.shown,
              (std::vector<std::string>{
                  InputProblemMessage(PathText(Path("missing.crp")), kNoSuchFileReason),
                  NotEncodedMessage(PathText(Path("plain.txt")))}));
    ScriptedFrontEnd single;
    EXPECT_EQ(ChoosableEncodedFiles({Path("plain.txt")}, single),
              std::vector<fs::path>{Path("plain.txt")});
    EXPECT_TRUE(single.shown.empty());
}

TEST(BatchSummary, CountsWhatWasDoneFailedAndKept) {
    // D: done and its source deleted; K: done and its source kept.
    enum Extra { None, D, K };
    const auto batch = [](std::vector<FileStatus> statuses, bool cancelled,
                          std::vector<Extra> sources = {}, bool stopped = false) {
        BatchResult result;
        for (std::size_t i = 0; i < statuses.size(); ++i) {
            FileOutcome file;
            file.status = statuses[i];
            file.input = "f" + std::to_string(i);
            file.inputDeleted = i < sources.size() && sources[i] == D;
            result.files.push_back(file);
        }
        result.cancelled = cancelled || stopped;
        result.stopped = stopped;
        result.deletionAsked = !sources.empty();
        return result;
    };
    using S = FileStatus;
    const fs::path out = fs::path("out") / "";
    const struct {
        BatchResult batch;
        std::size_t total;
        bool encoding;
        fs::path folder;
        std::string text;
    } cases[] = {
        {batch({S::Done, S::Done, S::Done}, false), 3, true, out, "3 of 3 files encoded into out"},
        {batch({S::Done}, false), 1, false, "out", "1 of 1 file decoded into out"},
        {batch({S::Done, S::Failed, S::Skipped}, true), 4, false, out,
         "1 of 4 files decoded into out; 1 failed; 1 not replaced; cancelled"},
        {batch({}, false), 2, true, fs::path("/"), "0 of 2 files encoded into /"},
        {batch({S::Done, S::Done, S::Done}, false, {D, D, K}), 3, true, out,
         "3 of 3 files encoded into out; 2 originals deleted, 1 kept"},
        {batch({S::Done, S::Failed}, false, {D, None}), 2, false, out,
         "1 of 2 files decoded into out; 1 failed; 1 encoded file deleted"},
        {batch({S::Done}, false, {D}, true), 3, true, out,
         "Cancelled after 1 of 3 files; 1 original deleted"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BatchSummary(c.batch, c.total, c.encoding, c.folder), c.text);
    }
}

}  // namespace
}  // namespace quorvane
