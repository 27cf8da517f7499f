// quorvane-cli's command-line conventions: every usage error exits 2 with one line saying
// what is wrong and one pointing to --help; --help and --version answer and exit 0.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/cli/RunCli.h"

namespace quorvane {
namespace {

using testing::CliRun;
using testing::RunCli;
using testing::ScratchFolder;

constexpr const char* kHint = "Run with --help for more information.\n";

struct UsageCase {
    const char* arguments;
    const char* problem;  // the first line, after "quorvane-cli: "
};

TEST(CliUsage, EveryUsageErrorExitsTwoWithOneLineAndTheHint) {
    const UsageCase cases[] = {
        {"", "no command given"},
        {"frobnicate", "unknown command: frobnicate"},
        {"--speakers somewhere frobnicate", "unknown command: frobnicate"},
        {"--bogus users", "unknown option: --bogus"},
        {"users --bogus", "unknown option: --bogus"},
        {"users extra", "unexpected argument: extra"},
        {"--speakers", "option --speakers needs a value"},
        {"users --speakers", "option --speakers needs a value"},
        {"enrol", "NAME is required"},
        {"verify anna", "RECORDING is required"},
        {"enrol anna a.wav b.wav c.wav --level extreme",
         "--level: extreme not in {high,medium,low}"},
        {"evaluate corpus --threads 0", "--threads: Value 0 not in range 1 to 256"},
    };
    const ScratchFolder folder;
    for (const UsageCase& c : cases) {
        const CliRun run = RunCli(folder.Path(), c.arguments);
        EXPECT_EQ(run.exitCode, 2) << c.arguments;
        EXPECT_EQ(run.err, "quorvane-cli: " + std::string(c.problem) + "\n" + kHint) << c.arguments;
        EXPECT_EQ(run.out, "") << c.arguments;
    }
}

TEST(CliUsage, HelpAndVersionAnswerAndExitZero) {
    const ScratchFolder folder;
    const CliRun version = RunCli(folder.Path(), "--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "quorvane-cli " QUORVANE_VERSION "\n");
    EXPECT_EQ(version.err, "");
    for (const char* help : {"--help", "enrol --help"}) {
        const CliRun run = RunCli(folder.Path(), help);
        EXPECT_EQ(run.exitCode, 0) << help;
        EXPECT_NE(run.out.find("Usage: quorvane-cli"), std::string::npos) << run.out;
    }
}

// A corpus in which nobody can be enrolled measures nothing: an error, not a table of zeros.
TEST(CliUsage, EvaluateWithoutAnEnrollableSpeakerIsAnError) {
    const ScratchFolder folder;
    const std::filesystem::path empty = folder.Path() / "empty";
    const std::filesystem::path unusable = folder.Path() / "unusable";
    std::filesystem::create_directories(empty);
    std::filesystem::create_directories(unusable / "anna");
    std::ofstream(unusable / "anna" / "test.txt") << "not a recording\n";
    const struct {
        std::filesystem::path corpus;
        std::string last;
    } cases[] = {
        {empty,
         ": no speaker folders (one folder per speaker, with enrol-1, enrol-2 and "
         "enrol-3)\n"},
        {unusable, ": no speaker could be enrolled\n"},
    };
    for (const auto& c : cases) {
        const CliRun run = RunCli(folder.Path(), "evaluate " + testing::Quoted(c.corpus));
        EXPECT_EQ(run.exitCode, 2) << c.corpus;
        EXPECT_EQ(run.out, "") << c.corpus;
        EXPECT_TRUE(run.err.ends_with("quorvane-cli: " + c.corpus.string() + c.last)) << run.err;
    }
}

}  // namespace
}  // namespace quorvane
