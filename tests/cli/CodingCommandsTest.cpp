// What encode, decode and the other commands that read files say to a user: a missing input in
// the same words and with the same exit code everywhere, the summary of a batch, the output
// folder made when missing, and a batch that never destroys one of its own inputs. A user is
// registered from hand-made codebooks, so no voice is needed; the built program runs.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "files/PathText.h"
#include "interfaces/Notifier.h"
#include "speaker/KeyFile.h"
#include "speaker/SpeakerStore.h"
#include "speaker/UserKey.h"
#include "tests/cli/RunCli.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Quoted;
using testing::ReadText;
using testing::WriteText;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// anna, registered in the Speakers folder of a scratch folder, with her key file.
class CodingCommands : public ::testing::Test {
protected:
    void SetUp() override {
        SilentNotifier notifier;
        const auto phrases = testing::Phrases(1.0f);
        fs::create_directories(Path("Speakers"));
        ASSERT_EQ(StoreUserFiles(Path("Speakers"), "anna", phrases, 0.5f, notifier), 1);
        key_ = DeriveUserKey(phrases);
        ASSERT_TRUE(WriteKeyFile(Path("anna_key.txt"), "anna", key_));
    }
    fs::path Path(const std::string& leaf) const { return work_.Path() / leaf; }
    CliRun Cli(const std::string& arguments) {
        return testing::RunCli(work_.Path(),
                               "--speakers " + Quoted(Path("Speakers")) + " " + arguments);
    }
    // `text` encoded for anna at `leaf`.
    void Encoded(const std::string& leaf, const std::string& text) {
        WriteText(Path("plain.tmp"), text);
        ASSERT_TRUE(EncodeFileChecked(Path("plain.tmp"), Path(leaf), EncodedMarker("anna"), key_,
                                      FileSubstitutionTable));
        fs::remove(Path("plain.tmp"));
    }

    testing::ScratchFolder work_;
    GostKey key_{};
};

// Every command that reads files names a missing one the same way and exits with 2.
TEST_F(CodingCommands, AMissingInputIsToldAlikeByEveryCommand) {
    Encoded("a.txt.crp", "plain a");
    const std::string missing = Quoted(Path("missing"));
    const std::string key = " --key-file " + Quoted(Path("anna_key.txt"));
    const std::string crp = Quoted(Path("a.txt.crp"));
    const std::vector<std::string> commands = {
        "encode anna " + missing,
        "encode anna " + crp + " " + missing,
        "decode " + missing + key,
        "decode " + crp + " " + missing + " --name anna" + key,
        "decode " + crp + " --key-file " + missing,
        "decode " + crp + " --voice " + missing,
        "verify anna " + missing,
        "enrol bob " + missing + " " + missing + " " + missing,
        "inspect " + missing,
        "distance " + missing + " " + missing,
    };
    const std::string told = InputProblemMessage(PathText(Path("missing")), kNoSuchFileReason);
    for (const std::string& command : commands) {
        const CliRun run = Cli(command);
        EXPECT_EQ(run.exitCode, 2) << command << "\n" << run.err;
        EXPECT_TRUE(Contains(run.err, "quorvane-cli: " + told + "\n")) << command << "\n"
                                                                       << run.err;
    }
}

// The batch names what it refused, the summary what it deleted and kept and the folder it made.
TEST_F(CodingCommands, TheSummaryTellsWhatWasDeletedKeptAndMade) {
    WriteText(Path("notes.txt"), "plain notes");
    WriteText(Path("target.txt"), "plain target");
#ifndef _WIN32
    fs::create_symlink(Path("target.txt"), Path("link.txt"));
    const CliRun link =
        Cli("encode anna " + Quoted(Path("notes.txt")) + " " + Quoted(Path("link.txt")) +
            " --delete-originals -o " + Quoted(Path("new") / "out"));
    EXPECT_EQ(link.exitCode, 1) << link.err;
    EXPECT_TRUE(Contains(link.out, "Encoded 2 of 2 file(s) for anna; 1 original deleted, 1 kept: " +
                                       PathText(Path("link.txt")) + "; the folder " +
                                       PathText(Path("new") / "out") + " was created\n"))
        << link.out;
    EXPECT_TRUE(Contains(
        link.err, SourceKeptMessage(PathText(Path("link.txt")), true, kSymbolicLinkKeptReason)))
        << link.err;
    EXPECT_FALSE(fs::exists(Path("notes.txt")));
    EXPECT_EQ(ReadText(Path("link.txt")), "plain target");
    EXPECT_EQ(fs::status(Path("new")).permissions() & fs::perms::all, fs::perms::owner_all);
#endif
    // a.crp is the only copy of A; a.crp.crp the encoding of another file named a.crp. The
    // first file's output would replace the second input before it is read: refused.
    Encoded("a.crp", "only copy of A");
    Encoded("a.crp.crp", "another a.crp");
    const CliRun decode =
        Cli("decode " + Quoted(Path("a.crp.crp")) + " " + Quoted(Path("a.crp")) + " --key-file " +
            Quoted(Path("anna_key.txt")) + " --overwrite --delete-encoded");
    EXPECT_EQ(decode.exitCode, 1) << decode.err;
    EXPECT_TRUE(Contains(decode.out, "Decoded 1 of 2 file(s) of anna; 1 encoded file deleted\n"))
        << decode.out;
    EXPECT_TRUE(Contains(
        decode.err, BatchInputTakenMessage(PathText(Path("a.crp.crp")), PathText(Path("a.crp")),
                                           PathText(Path("a.crp")), false)))
        << decode.err;
    EXPECT_EQ(ReadText(Path("a")), "only copy of A");
    EXPECT_TRUE(fs::exists(Path("a.crp.crp")));
}

#ifndef _WIN32
// Ctrl-C while a progress line shows on a terminal: "Cancelled" stands on a line of its own.
TEST_F(CodingCommands, CtrlCIsToldOnALineOfItsOwn) {
    std::ofstream(Path("large.bin"), std::ios::binary).flush();
    fs::resize_file(Path("large.bin"), std::uintmax_t{1} << 30);
    fs::create_directories(Path("enc"));
    const std::string speakers = Path("Speakers").string();
    const std::string input = Path("large.bin").string();
    const std::string output = Path("enc").string();
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::execl(QUORVANE_CLI_EXE, QUORVANE_CLI_EXE, "--speakers", speakers.c_str(), "encode",
                "anna", input.c_str(), "-o", output.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Interrupted once the progress line shows, as a user's Ctrl-C would.
    std::string seen;
    bool interrupted = false;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(terminal, buffer, sizeof buffer);
        if (count <= 0) {
            break;  // the child has ended: the terminal reports an error
        }
        seen.append(buffer, static_cast<std::size_t>(count));
        if (!interrupted && seen.find('%') != std::string::npos) {
            interrupted = true;
            ::kill(child, SIGINT);
        }
    }
    ::close(terminal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(interrupted) << seen;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << seen;
    const std::size_t notice = seen.find("Cancelled");
    ASSERT_NE(notice, std::string::npos) << seen;
    EXPECT_EQ(seen[notice - 1], '\n') << seen;
    EXPECT_TRUE(fs::is_empty(Path("enc")));
}
#endif

}  // namespace
}  // namespace quorvane
