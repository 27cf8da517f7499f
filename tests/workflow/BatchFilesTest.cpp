// One batch, one set of files: no output of a batch takes the place of an input the batch has
// yet to read, nor of another output of the batch, whichever way the two are the same file
// (one name, a hard link, a name spelled in other letter case on a file system that ignores
// case). The refused file names both files, and nothing of the batch is lost on its account.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cipher/EncodedFile.h"
#include "files/PathText.h"
#include "files/PlatformFile.h"
#include "speaker/UserKey.h"
#include "tests/support/CaseFoldingFolder.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ReadText;
using testing::ScriptedFrontEnd;
using testing::WriteText;

// A file's content in a case: its text, or with this prefix the text encoded for anna.
constexpr std::string_view kEncoded = "encoded:";

struct Conflict {
    std::size_t other;
    bool withInput;
};

struct BatchCase {
    const char* what;
    bool caseFolding;  // needs a folder whose file system ignores letter case
    bool encoding;
    std::vector<std::pair<std::string, std::string>> files;      // name, content
    std::vector<std::pair<std::string, std::string>> hardLinks;  // name, the file it links to
    std::vector<std::string> inputs;
    std::string outputFolder;  // empty: beside each input
    std::vector<std::optional<Conflict>> conflicts;
    std::vector<std::pair<std::string, std::string>> decoded;  // outputs expected: name, text
};

class BatchFiles : public ::testing::Test {
protected:
    void SetUp() override {
        AppendUser(users_, testing::Phrases(1.0f), "anna", 0.5f);
        key_ = DeriveUserKey(users_.Find("anna")->codebooks);
    }
    void Make(const fs::path& folder, const std::string& name, const std::string& content) {
        const fs::path path = folder / fs::path(name);
        fs::create_directories(path.parent_path());
        if (!content.starts_with(kEncoded)) {
            WriteText(path, content);
            return;
        }
        const fs::path plain = folder / "plain.tmp";
        WriteText(plain, content.substr(kEncoded.size()));
        ASSERT_TRUE(
            EncodeFileChecked(plain, path, EncodedMarker("anna"), key_, FileSubstitutionTable));
        fs::remove(plain);
    }
    void Run(const BatchCase& c, const fs::path& folder) {
        for (const auto& [name, content] : c.files) {
            Make(folder, name, content);
        }
        for (const auto& [name, target] : c.hardLinks) {
            fs::create_hard_link(folder / target, folder / name);
        }
        std::vector<fs::path> inputs;
        std::vector<std::vector<std::uint8_t>> before;
        std::vector<bool> otherNames;  // kept, since its content would stay under them
        for (const std::string& input : c.inputs) {
            inputs.push_back(folder / fs::path(input));
            before.push_back(ReadBytes(inputs.back()));
            otherNames.push_back(LinkCount(inputs.back()).value_or(1) > 1);
        }
        const fs::path out = c.outputFolder.empty() ? fs::path() : folder / c.outputFolder;
        if (!out.empty()) {
            fs::create_directories(out);
        }
        ScriptedFrontEnd front;
        front.replaces = {FrontEnd::ReplaceAnswer::YesToAll};
        const BatchResult batch = c.encoding
                                      ? EncodeFiles(*users_.Find("anna"), inputs, out, true, front)
                                      : DecodeFiles("anna", key_, inputs, out, true, front);
        ASSERT_EQ(batch.files.size(), inputs.size()) << c.what;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const FileOutcome& file = batch.files[i];
            if (const std::optional<Conflict>& conflict = c.conflicts[i]) {
                const auto message =
                    conflict->withInput ? BatchInputTakenMessage : BatchOutputTakenMessage;
                EXPECT_EQ(file.status, FileStatus::Failed) << c.what << " " << i;
                EXPECT_EQ(file.message, message(PathText(inputs[i]), PathText(file.output),
                                                PathText(inputs[conflict->other]), c.encoding))
                    << c.what;
                EXPECT_EQ(std::count(front.shown.begin(), front.shown.end(), file.message), 1)
                    << c.what;
            } else if (!c.caseFolding) {
                // (exFAT may refuse the write itself until its commits work there.)
                EXPECT_EQ(file.status, FileStatus::Done) << c.what << " " << i;
                EXPECT_EQ(file.inputDeleted, !otherNames[i]) << c.what << " " << i;
            }
        }
        // Nothing is lost: an input is gone only as a source deleted after its success, and
        // every other keeps its bytes.
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            const bool deleted = std::any_of(
                batch.files.begin(), batch.files.end(),
                [&](const FileOutcome& f) { return f.inputDeleted && f.input == inputs[i]; });
            if (deleted) {
                EXPECT_FALSE(fs::exists(inputs[i])) << c.what << " " << i;
            } else {
                EXPECT_EQ(ReadBytes(inputs[i]), before[i]) << c.what << " " << i;
            }
        }
        for (const auto& [name, text] : c.decoded) {
            EXPECT_EQ(ReadText(folder / name), text) << c.what;
        }
    }

    UserList users_;
    GostKey key_{};
};

TEST_F(BatchFiles, NoOutputTakesThePlaceOfAnotherFileOfTheBatch) {
    const std::string enc(kEncoded);
    const BatchCase cases[] = {
        // a.crp is the only copy of A; a.crp.crp the encoding of another file named a.crp.
        {"an output that is an input yet to be read",
         false,
         false,
         {{"a.crp", enc + "only copy of A"}, {"a.crp.crp", enc + "another a.crp"}},
         {},
         {"a.crp.crp", "a.crp"},
         "",
         {Conflict{1, true}, std::nullopt},
         {{"a", "only copy of A"}}},
        {"encoding: an output that is an input yet to be read",
         false,
         true,
         {{"f", "plain f"}, {"f.crp", "the user's own f.crp"}},
         {},
         {"f", "f.crp"},
         "",
         {Conflict{1, true}, std::nullopt},
         {}},
        {"an output that is a hard link of an input yet to be read",
         false,
         false,
         {{"x.crp", enc + "x"}, {"x.crp.crp", enc + "inner"}},
         {{"copy.crp", "x.crp"}},
         {"x.crp.crp", "copy.crp"},
         "",
         {Conflict{1, true}, std::nullopt},
         {{"copy", "x"}}},
        {"one file given twice",
         false,
         true,
         {{"f", "plain f"}},
         {},
         {"f", "f"},
         "",
         {std::nullopt, Conflict{0, false}},
         {}},
        {"two names of one output where case is ignored",
         true,
         true,
         {{"d1/R.txt", "from d1"}, {"d2/r.txt", "from d2"}},
         {},
         {"d1/R.txt", "d2/r.txt"},
         "out",
         {std::nullopt, Conflict{0, false}},
         {}},
        {"an output spelled as an input yet to be read where case is ignored",
         true,
         true,
         {{"a", "plain a"}, {"A.CRP", "the user's own A.CRP"}},
         {},
         {"a", "A.CRP"},
         "",
         {Conflict{1, true}, std::nullopt},
         {}},
    };
    const testing::CaseFoldingFolder caseFolding;
    for (const BatchCase& c : cases) {
        if (c.caseFolding && caseFolding.Path().empty()) {
            std::cout << "[ SKIPPED  ] " << c.what << ": " << caseFolding.Reason() << "\n";
            continue;
        }
        const testing::ScratchFolder scratch;
        const fs::path folder = c.caseFolding ? caseFolding.Path() / "case" : scratch.Path();
        fs::create_directories(folder);
        Run(c, folder);
        if (c.caseFolding) {
            fs::remove_all(folder);
        }
    }
}

}  // namespace
}  // namespace quorvane
