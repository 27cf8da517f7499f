#include "files/AtomicFile.h"
#include "files/FileOperations.h"
#include "files/PlatformFile.h"
#include "files/SmallFile.h"
#include "tests/files/RecordedOperations.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <future>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"

#ifdef __linux__
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using testing::AsBytes;
using testing::CodeOf;
using testing::ReadText;
using testing::RecordedOperations;

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quorvane-atomic-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::size_t EntryCount() const {
        return static_cast<std::size_t>(
            std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    fs::path dir_;
};

#ifdef __linux__
unsigned Mode(const fs::path& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}
#endif

TEST_F(AtomicFileTest, TargetChangesOnlyAtCommit) {
    const std::string old = "old";
    std::ofstream(dir_ / "t") << old;
    AtomicFile a(dir_ / "t");
    AtomicFile b(dir_ / "t");
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    // Two writers of one target get two different temporary files beside it.
    EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
    EXPECT_EQ(a.TemporaryPath().parent_path(), dir_);
    EXPECT_EQ(EntryCount(), 3u);
    ASSERT_TRUE(a.Write(AsBytes("new content")));
    EXPECT_EQ(ReadText(dir_ / "t"), old);
    ASSERT_TRUE(a.Commit());
    EXPECT_EQ(ReadText(dir_ / "t"), "new content");
    b.Discard();
    EXPECT_EQ(EntryCount(), 1u);
}

TEST_F(AtomicFileTest, AbandonedWriteLeavesNothing) {
    {
        AtomicFile a(dir_ / "t");
        ASSERT_TRUE(a.Open());
        ASSERT_TRUE(a.Write(AsBytes("half")));
    }
    EXPECT_EQ(EntryCount(), 0u);
}

TEST_F(AtomicFileTest, ExclusiveCreationRefusesExistingNamesAndLinks) {
    // A file or a link planted where a temporary file might go is never written through.
    std::ofstream(dir_ / "planted") << "theirs";
    PlatformFile file;
    EXPECT_FALSE(file.CreateExclusive(dir_ / "planted"));
#ifndef _WIN32
    // Making links on Windows takes a privilege ordinary users lack.
    fs::create_symlink(dir_ / "victim", dir_ / "link");
    EXPECT_FALSE(file.CreateExclusive(dir_ / "link"));
    EXPECT_FALSE(fs::exists(dir_ / "victim"));
#endif
    EXPECT_EQ(ReadText(dir_ / "planted"), "theirs");
    ASSERT_TRUE(file.CreateExclusive(dir_ / "fresh"));
    EXPECT_TRUE(file.Write(AsBytes("mine")));
    EXPECT_TRUE(file.Close());
    EXPECT_EQ(ReadText(dir_ / "fresh"), "mine");
}

TEST_F(AtomicFileTest, NoReplaceCommitFailsWhenTheTargetAppeared) {
    AtomicFile a(dir_ / "t", OutputMode::NoReplace);
    AtomicFile b(dir_ / "t", OutputMode::NoReplace);
    ASSERT_TRUE(a.Open());
    ASSERT_TRUE(b.Open());
    ASSERT_TRUE(a.Write(AsBytes("first")));
    ASSERT_TRUE(b.Write(AsBytes("second")));
    EXPECT_TRUE(a.Commit());
    const Status second = b.Commit();
    EXPECT_EQ(CodeOf(second), std::errc::file_exists);
    EXPECT_EQ(second.error().path(), dir_ / "t");
    EXPECT_EQ(ReadText(dir_ / "t"), "first");
    EXPECT_EQ(EntryCount(), 1u);
    // Opening no-replace onto an existing name fails at once.
    AtomicFile c(dir_ / "t", OutputMode::NoReplace);
    EXPECT_EQ(CodeOf(c.Open()), std::errc::file_exists);
}

#ifdef __linux__
// Under umask 022: the temporary file is rw------- while it is written; at commit a new file
// becomes rw-r--r--, a secret rw-------, a replaced file keeps its own mode.
TEST_F(AtomicFileTest, TemporariesAreOwnerOnlyUntilTheFinalModeAtCommit) {
    const mode_t oldMask = ::umask(022);
    struct Case {
        const char* name;
        int existingMode;  // -1: no file yet
        FilePrivacy privacy;
        unsigned finalMode;
    };
    for (const Case c : {Case{"new", -1, FilePrivacy::Normal, 0644},
                         Case{"secret", -1, FilePrivacy::OwnerOnly, 0600},
                         Case{"replaced", 0640, FilePrivacy::Normal, 0640},
                         Case{"replaced-secret", 0644, FilePrivacy::OwnerOnly, 0600}}) {
        if (c.existingMode >= 0) {
            std::ofstream(dir_ / c.name) << "old";
            fs::permissions(dir_ / c.name, static_cast<fs::perms>(c.existingMode));
        }
        AtomicFile file(dir_ / c.name, OutputMode::Replace, c.privacy);
        ASSERT_TRUE(file.Open());
        EXPECT_EQ(Mode(file.TemporaryPath()), 0600u) << c.name;
        ASSERT_TRUE(file.Write(AsBytes("content")));
        ASSERT_TRUE(file.Commit());
        EXPECT_EQ(Mode(dir_ / c.name), c.finalMode) << c.name;
    }
    ::umask(oldMask);
}

// Left-overs of a process killed while writing are removed by the next write into the folder
// and reported; those of running processes (another one, this one) are kept.
TEST_F(AtomicFileTest, LeftOversOfEndedProcessesAreRemovedAndReported) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        AtomicFile file(dir_ / "report.txt");
        if (file.Open() && file.Write(AsBytes("half"))) {
            ::kill(::getpid(), SIGKILL);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(EntryCount(), 1u);
    const fs::path stale = fs::directory_iterator(dir_)->path();
    std::uint64_t id = 0;
    ASSERT_TRUE(ParseTemporaryName(stale, id));
    EXPECT_EQ(id, static_cast<std::uint64_t>(child));

    // Process 1 is always running; this process's own live writer is running too.
    const std::string live = ".other.1.0123456789abcdef.tmp";
    std::ofstream(dir_ / live) << "in use";
    std::ofstream(dir_ / ".notours.tmp") << "someone else's";
    std::ofstream(dir_ / "plain") << "text";
    std::vector<fs::path> removed;
    CodingOptions told;
    told.leftoverRemoved = [&removed](const fs::path& leftover) { removed.push_back(leftover); };
    ASSERT_TRUE(EncodeFileChecked(dir_ / "plain", dir_ / "plain.crp", "a", StoreKey,
                                  FileSubstitutionTable, told));
    EXPECT_EQ(removed, std::vector<fs::path>{stale});
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(dir_ / live));
    EXPECT_TRUE(fs::exists(dir_ / ".notours.tmp"));

    AtomicFile writing(dir_ / "mine");
    ASSERT_TRUE(writing.Open());
    removed.clear();
    ASSERT_TRUE(EncodeFileChecked(dir_ / "plain", dir_ / "plain.crp", "a", StoreKey,
                                  FileSubstitutionTable, told));
    EXPECT_TRUE(removed.empty());
    EXPECT_TRUE(fs::exists(writing.TemporaryPath()));
    EXPECT_TRUE(fs::exists(dir_ / live));
}

// SIGTERM (as SIGINT and SIGHUP) removes live temporaries, then ends the process as the
// signal would; a window's quit removes them without a signal.
TEST_F(AtomicFileTest, SignalsAndQuitRemoveLiveTemporaries) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        InstallTemporaryCleanup();
        AtomicFile file(dir_ / "out");
        if (file.Open() && file.Write(AsBytes("secret half"))) {
            ::raise(SIGTERM);
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), SIGTERM);
    EXPECT_EQ(EntryCount(), 0u);

    AtomicFile file(dir_ / "out");
    ASSERT_TRUE(file.Open());
    ASSERT_TRUE(file.Write(AsBytes("secret half")));
    RemoveLiveTemporaries();
    EXPECT_EQ(EntryCount(), 0u);
    EXPECT_FALSE(file.Commit());
    EXPECT_EQ(EntryCount(), 0u);
}

// The temporary file reaches the device before its rename, and the rename before Commit
// returns: a caller that deletes a source after the commit cannot lose both on a power loss.
TEST_F(AtomicFileTest, CommitFlushesTheFileThenRenamesThenFlushesTheFolder) {
    RecordedOperations recorded;
    ASSERT_TRUE(WriteFileAtomically(dir_ / "key.txt", AsBytes("secret"), true));
    using enum FileOperation;
    EXPECT_EQ(recorded.steps, (std::vector<FileOperation>{CreateTemporary, Write, SyncFile, Close,
                                                          Rename, SyncFolder}));
}

// Any step that fails (a write, the flush, the close) fails the commit: the target keeps its
// content and no temporary file remains.
TEST_F(AtomicFileTest, AFailedStepFailsTheCommitAndLeavesTheTarget) {
    for (const FileOperation failing :
         {FileOperation::Write, FileOperation::SyncFile, FileOperation::Close}) {
        std::ofstream(dir_ / "target") << "old";
        {
            RecordedOperations recorded(failing);
            AtomicFile file(dir_ / "target");
            ASSERT_TRUE(file.Open());
            const Status written = file.Write(AsBytes("new content"));
            // A step after a failure fails with the first failure.
            const Status committed = file.Commit();
            EXPECT_EQ(CodeOf(committed), std::errc::io_error) << static_cast<int>(failing);
            EXPECT_EQ(static_cast<bool>(written), failing != FileOperation::Write);
        }
        EXPECT_EQ(ReadText(dir_ / "target"), "old") << static_cast<int>(failing);
        EXPECT_EQ(Names(), std::set<std::string>{"target"});
    }
}

// An output name that holds a folder, a pipe (with a reader or without) or a device is refused
// with its reason at once, never opened (a pipe without a reader would block the open) and
// never replaced.
TEST_F(AtomicFileTest, OutputsThatAreNotRegularFilesAreRefusedWithoutWaiting) {
    fs::create_directory(dir_ / "folder");
    ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir_ / "fifo-read").c_str(), 0600), 0);
    const int reader = ::open((dir_ / "fifo-read").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    struct Case {
        fs::path target;
        std::error_code error;
    };
    std::vector<Case> cases = {
        {dir_ / "folder", std::make_error_code(std::errc::is_a_directory)},
        {dir_ / "fifo", MakeError(FileError::NotRegularFile)},
        {dir_ / "fifo-read", MakeError(FileError::NotRegularFile)},
    };
    for (const char* device : {"/dev/null", "/dev/full"}) {
        if (fs::is_character_file(device)) {
            cases.push_back({device, MakeError(FileError::NotRegularFile)});
        }
    }
    for (const Case& c : cases) {
        auto attempt = std::async(std::launch::async, [&] {
            AtomicFile file(c.target);
            return CodeOf(file.Open());
        });
        ASSERT_EQ(attempt.wait_for(std::chrono::seconds(20)), std::future_status::ready)
            << c.target << " blocked";
        EXPECT_EQ(attempt.get(), c.error) << c.target;
    }
    ::close(reader);
    EXPECT_EQ(MakeError(FileError::NotRegularFile).message(), "is not a regular file");
    EXPECT_TRUE(fs::is_fifo(dir_ / "fifo"));
    EXPECT_EQ(Names(), (std::set<std::string>{"folder", "fifo", "fifo-read"}));
}

// A replaced file keeps its permission bits, but never its set-user-id, set-group-id or sticky
// bit: the new content is not the program the bits were granted to.
TEST_F(AtomicFileTest, SetIdAndStickyBitsAreNotCopied) {
    std::ofstream(dir_ / "tool") << "old";
    ASSERT_EQ(::chmod((dir_ / "tool").c_str(), 04755 | 01000), 0);
    struct stat before {};
    ASSERT_EQ(::stat((dir_ / "tool").c_str(), &before), 0);
    ASSERT_NE(before.st_mode & 05000, 0u) << "the file system keeps no set-id bits";
    ASSERT_TRUE(WriteFileAtomically(dir_ / "tool", AsBytes("new"), false));
    struct stat after {};
    ASSERT_EQ(::stat((dir_ / "tool").c_str(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0755u);
}

// Liveness is the writer's lock, not its process number: a writer in another process
// namespace (here: a name carrying a process number that does not exist) keeps its file while
// it holds the lock; once it has ended, the file is a left-over like any other.
TEST_F(AtomicFileTest, ALockedTemporaryIsNeverRemovedWhateverItsProcessNumber) {
    const fs::path live = dir_ / ".data.4294967294.0123456789abcdef.tmp";
    const fs::path stale = dir_ / ".data.4294967293.0123456789abcdef.tmp";
    std::ofstream(stale) << "left over";
    int ready[2] = {-1, -1};
    int finish[2] = {-1, -1};
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(finish), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PlatformFile file;
        const char ok = file.CreateExclusive(live) && file.LockExclusive() ? 'y' : 'n';
        static_cast<void>(::write(ready[1], &ok, 1));
        char done = 0;
        static_cast<void>(::read(finish[0], &done, 1));
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    EXPECT_EQ(RemoveStaleTemporaries(dir_), std::vector<fs::path>{stale});
    EXPECT_TRUE(fs::exists(live));
    ASSERT_EQ(::write(finish[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(RemoveStaleTemporaries(dir_), std::vector<fs::path>{live});
    for (const int fd : {ready[0], ready[1], finish[0], finish[1]}) {
        ::close(fd);
    }
}

// A signal ignored when the program starts (nohup ignores SIGHUP) stays ignored; the others
// get the clean-up.
TEST_F(AtomicFileTest, IgnoredSignalsStayIgnored) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);
        std::signal(SIGTERM, SIG_DFL);
        InstallTemporaryCleanup();
        struct sigaction hup {};
        struct sigaction term {};
        sigaction(SIGHUP, nullptr, &hup);
        sigaction(SIGTERM, nullptr, &term);
        ::_exit(hup.sa_handler == SIG_IGN && term.sa_handler != SIG_DFL &&
                        term.sa_handler != SIG_IGN
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
#endif

}  // namespace
}  // namespace quorvane
