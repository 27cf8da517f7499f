// The protection commands of quorvane-cli as a script drives them: passphrases from files, pipes
// and a separate file for the new one, a change that changes or is refused, each refusal once
// with its reason, a passphrase file others can read, and the files kept aside for the name.
// Runs the built program on a user stored by hand (no voices needed).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/PathText.h"
#include "speaker/ProtectedFile.h"
#include "speaker/SpeakerStore.h"
#include "tests/cli/RunCli.h"
#include "tests/workflow/Fixtures.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Quoted;
using testing::ScratchFolder;

std::size_t Occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

#ifndef _WIN32
class ProtectionCommands : public ::testing::Test {
protected:
    ProtectionCommands() {
        fs::create_directories(speakers_);
        EXPECT_TRUE(StoreSpeakerFile(speakers_, "anna", testing::Phrases(1.0f), 0.5f));
    }
    fs::path Dir(const std::string& leaf) const { return work_.Path() / leaf; }
    // A passphrase file with its permissions.
    std::string PassphraseFile(const std::string& leaf, const std::string& line, fs::perms perms) {
        std::ofstream(Dir(leaf), std::ios::binary) << line << "\n";
        fs::permissions(Dir(leaf), perms);
        return Quoted(Dir(leaf));
    }
    // quorvane-cli on this test's Speakers folder, its standard input a pipe fed with `piped`.
    CliRun Cli(const std::string& arguments, const std::string& piped) {
        std::ofstream(Dir("piped.txt"), std::ios::binary) << piped;
        const std::string command = "cat " + Quoted(Dir("piped.txt")) + " | \"" + QUORVANE_CLI_EXE +
                                    "\" --speakers " + Quoted(speakers_) + " " + arguments + " > " +
                                    Quoted(Dir("out.txt")) + " 2> " + Quoted(Dir("err.txt"));
        CliRun run;
        const int status = std::system(command.c_str());
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = testing::ReadText(Dir("out.txt"));
        run.err = testing::ReadText(Dir("err.txt"));
        return run;
    }

    ScratchFolder work_;
    fs::path speakers_ = work_.Path() / "Speakers";
};

TEST_F(ProtectionCommands, APassphraseChangesOnlyToANewOneFromItsOwnSource) {
    const fs::perms ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms readable = ownerOnly | fs::perms::group_read | fs::perms::others_read;
    const std::string old = PassphraseFile("old.txt", "old", ownerOnly);
    const std::string oldAgain = PassphraseFile("old-again.txt", "old", readable);
    const std::string fresh = PassphraseFile("new.txt", "new", ownerOnly);
    const std::string readableWarning = "the passphrase file can be read by every user";
    std::ofstream(speakers_ / "anna.spk.kept-1") << "kept aside";
    const struct {
        std::string arguments;
        std::string piped;
        int exitCode;
        std::string said;  // part of standard output (done) or standard error (refused)
    } steps[] = {
        // A new passphrase from --passphrase-file when protecting; the kept file stays (no --yes).
        {"--passphrase-file " + old + " protect anna", "", 0, "Protected anna"},
        // A change takes the new one from its own source only, and not the old one again.
        {"--passphrase-file " + old + " passphrase anna", "", 2,
         "No passphrase given for anna: standard input is not a terminal (give the new "
         "passphrase with --new-passphrase-file FILE)"},
        {"--passphrase-file " + old + " --new-passphrase-file " + oldAgain + " passphrase anna", "",
         2, "The new passphrase is the same as the old one"},
        {"--passphrase-file " + Quoted(Dir("missing.txt")) + " passphrase anna", "", 2,
         PathText(Dir("missing.txt")) +
             ": the passphrase file can not be opened (No such file or directory)"},
        // The old one through a pipe, the new one from its file.
        {"--passphrase-file /dev/stdin --new-passphrase-file " + fresh + " passphrase anna",
         "old\nrest of the pipe\n", 0, "Changed the passphrase of anna"},
        {"--passphrase-file " + old + " unprotect anna", "", 2, "Wrong passphrase for anna"},
        {"--passphrase-file " + fresh + " unprotect anna", "", 0, "Unprotected anna"},
        {"remove anna --yes", "", 0, "User anna removed"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.arguments);
        const CliRun run = Cli(step.arguments, step.piped);
        EXPECT_EQ(run.exitCode, step.exitCode) << run.err;
        const std::string& said = step.exitCode == 0 ? run.out : run.err;
        EXPECT_EQ(Occurrences(said, step.said), 1u) << said;
        // Only the file others can read is warned of.
        EXPECT_EQ(Occurrences(run.err, readableWarning),
                  step.arguments.find(oldAgain) != std::string::npos ? 1u : 0u)
            << run.err;
        if (step.arguments.find("protect anna") != std::string::npos &&
            step.arguments.find("unprotect") == std::string::npos) {
            EXPECT_NE(
                run.err.find("anna.spk.kept-1 still holds an unprotected voice model of anna"),
                std::string::npos)
                << run.err;
        }
    }
    // remove --yes took the kept file too; nothing of anna is left.
    EXPECT_TRUE(fs::is_empty(speakers_));
}

// A consented remove that leaves a file kept aside for the name (here one it may not overwrite:
// a link) removes the user, names the file, and is not a success.
TEST_F(ProtectionCommands, ARemoveThatLeavesAKeptFileIsNotASuccess) {
    std::ofstream(Dir("elsewhere.txt")) << "not a model";
    fs::create_symlink(Dir("elsewhere.txt"), speakers_ / "anna.spk.kept-1");
    const CliRun run = Cli("remove anna --yes", "");
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.out.find("User anna removed"), std::string::npos) << run.out;
    EXPECT_NE(run.err.find("anna.spk.kept-1"), std::string::npos) << run.err;
    EXPECT_EQ(testing::ReadText(Dir("elsewhere.txt")), "not a model");
}

// A refusal caused by a lower layer names that cause once, after the described text.
TEST_F(ProtectionCommands, ARefusalNamesItsCause) {
    const std::string old =
        PassphraseFile("old.txt", "old", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(Cli("--passphrase-file " + old + " protect anna", "").exitCode, 0);
    const fs::path locked = speakers_ / "anna.qvlock";
    fs::resize_file(locked, kMaxProtectedFileBytes + 1);
    const CliRun run = Cli("--passphrase-file " + old + " passphrase anna", "");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(
        Occurrences(run.err, "Can not load file: " + PathText(locked) + " (" +
                                 Failure(MakeError(ProtectedFileError::TooLarge)).Reason() + ")\n"),
        1u)
        << run.err;
}
#endif

}  // namespace
}  // namespace quorvane
