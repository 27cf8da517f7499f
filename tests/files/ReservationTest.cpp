// No-replace commits where the file system has neither RENAME_NOREPLACE nor hard links (FAT,
// exFAT): the target name is reserved by an exclusive creation, and the file renamed over
// the reservation. Forced here through the seam; tests/filesystems runs it on FAT and exFAT.

#include "files/Reservation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileOperations.h"
#include "tests/files/RecordedOperations.h"
#include "tests/support/TestFiles.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
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

#ifndef _WIN32

class ReservationTest : public ::testing::Test {
protected:
    void SetUp() override { ForceRenameByReservation(true); }
    void TearDown() override { ForceRenameByReservation(false); }

    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(scratch_.Path())) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }
    fs::path Dir() const { return scratch_.Path(); }
    fs::path Target() const { return Dir() / "out.crp"; }

    static Status Write(AtomicFile& file, const std::string& content) {
        Status step = file.Open();
        if (step) {
            step = file.Write(AsBytes(content));
        }
        return step ? file.Commit() : step;
    }

private:
    testing::ScratchFolder scratch_;
};

bool IsNote(const fs::path& path) {
    std::uint64_t id = 0;
    return ParseLeftoverName(path, LeftoverKind::ReservationNote, id);
}

TEST_F(ReservationTest, CommitsThroughTheReservationAndLeavesOnlyTheFile) {
    RecordedOperations recorded;
    AtomicFile file(Target(), OutputMode::NoReplace);
    ASSERT_TRUE(Write(file, "mine"));
    EXPECT_EQ(ReadText(Target()), "mine");
    EXPECT_EQ(Names(), std::set<std::string>{"out.crp"});
    using enum FileOperation;
    EXPECT_EQ(recorded.steps,
              (std::vector<FileOperation>{CreateTemporary, Write, SyncFile, Close, CreateTemporary,
                                          Write, Reserve, Write, Remove, Rename, SyncFolder}));
}

// An existing file is never replaced: not one there at the start, not one that appears
// while the file is written, not one a rename of another file meets.
TEST_F(ReservationTest, AnExistingFileIsNeverReplaced) {
    std::ofstream(Target()) << "theirs";
    AtomicFile early(Target(), OutputMode::NoReplace);
    EXPECT_EQ(CodeOf(early.Open()), std::errc::file_exists);

    fs::remove(Target());
    AtomicFile late(Target(), OutputMode::NoReplace);
    ASSERT_TRUE(late.Open());
    ASSERT_TRUE(late.Write(AsBytes("mine")));
    std::ofstream(Target()) << "theirs";
    EXPECT_EQ(CodeOf(late.Commit()), std::errc::file_exists);

    std::ofstream(Dir() / "moved") << "moved";
    EXPECT_EQ(CodeOf(RenameNoReplace(Dir() / "moved", Target())), std::errc::file_exists);
    EXPECT_EQ(ReadText(Target()), "theirs");
    EXPECT_EQ(ReadText(Dir() / "moved"), "moved");
    EXPECT_EQ(Names(), (std::set<std::string>{"out.crp", "moved"}));
}

// A writer racing for the target between the steps keeps what it made: the commit fails with
// file_exists and leaves nothing of its own.
TEST_F(ReservationTest, ARacingWriterKeepsTheName) {
    const fs::path target = Target();
    struct Case {
        const char* when;
        FileOperation step;  // the racer acts right after this step on...
        bool onTarget;       // ...the target (else on the reservation's note)
        std::function<void()> race;
    };
    const std::vector<Case> cases = {
        {"creates the name before the reservation", FileOperation::CreateTemporary, false,
         [&] { std::ofstream(target) << "theirs"; }},
        {"writes into the reservation", FileOperation::Write, true,
         [&] { std::ofstream(target, std::ios::app) << "theirs"; }},
        {"puts its file in the reservation's place", FileOperation::Write, true,
         [&] {
             std::ofstream(Dir() / "racer") << "theirs";
             fs::rename(Dir() / "racer", target);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.when);
        bool raced = false;
        {
            RecordedOperations recorded(std::nullopt, [&](FileOperation step, const fs::path& at) {
                if (!raced && step == c.step && (c.onTarget ? at == target : IsNote(at))) {
                    raced = true;
                    c.race();
                }
            });
            AtomicFile file(target, OutputMode::NoReplace);
            EXPECT_EQ(CodeOf(Write(file, "mine")), std::errc::file_exists);
        }
        EXPECT_TRUE(raced);
        EXPECT_NE(ReadText(target).find("theirs"), std::string::npos);
        EXPECT_EQ(Names(), std::set<std::string>{"out.crp"});
        fs::remove(target);
    }
}

// A writer killed at any step after it began reserving leaves a note (and maybe the
// reservation); the next write into the folder removes them and the name is free again.
TEST_F(ReservationTest, ACrashAfterTheReservationIsCleanedByTheNextRun) {
    const fs::path target = Target();
    struct Case {
        const char* when;
        FileOperation step;
        bool onTarget;
        std::size_t leftovers;  // temporary, note and, once made, the reservation
    };
    for (const Case c : {Case{"note made", FileOperation::CreateTemporary, false, 2},
                         Case{"name reserved, still empty", FileOperation::Reserve, true, 3},
                         Case{"reservation written", FileOperation::Write, true, 3}}) {
        SCOPED_TRACE(c.when);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RecordedOperations crash(std::nullopt, [&](FileOperation step, const fs::path& at) {
                if (step == c.step && (c.onTarget ? at == target : IsNote(at))) {
                    ::kill(::getpid(), SIGKILL);
                }
            });
            AtomicFile file(target, OutputMode::NoReplace);
            static_cast<void>(Write(file, "killed"));
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(Names().size(), c.leftovers);
        AtomicFile next(target, OutputMode::NoReplace);
        ASSERT_TRUE(Write(next, "next"));
        EXPECT_EQ(next.StaleRemoved().size(), c.leftovers);
        EXPECT_EQ(ReadText(target), "next");
        EXPECT_EQ(Names(), std::set<std::string>{"out.crp"});
        fs::remove(target);
    }
}

// What a note of an ended writer names is removed only when it is provably that writer's
// reservation; any other file of the name stays, and a note whose writer lives stays too.
TEST_F(ReservationTest, OnlyAProvenReservationIsRemoved) {
    // A process number beyond what systems give out: the writer has ended.
    const std::string noteName = ".out.crp.4294967293.0123456789abcdef.rsv";
    const fs::path note = Dir() / noteName;
    const std::string text = "quorvane reservation " + noteName + "\n";
    const auto hourAgo = fs::file_time_type::clock::now() - std::chrono::hours(1);
    struct Case {
        const char* target;
        std::string content;
        bool old;  // made an hour before the note
        bool noteLocked;
        bool removed;
    };
    for (const Case& c : {Case{"its reservation", text, false, false, true},
                          Case{"its reservation, empty", "", false, false, true},
                          Case{"a user's empty file", "", true, false, false},
                          Case{"the finished file", "the encoded file", false, false, false},
                          Case{"another note's reservation",
                               "quorvane reservation .out.crp.4294967293.fedcba9876543210.rsv\n",
                               false, false, false},
                          Case{"a live writer's reservation", text, false, true, false}}) {
        SCOPED_TRACE(c.target);
        std::ofstream(note, std::ios::binary) << "out.crp\n";
        std::ofstream(Target(), std::ios::binary) << c.content;
        if (c.old) {
            fs::last_write_time(Target(), hourAgo);
        }
        const int held = ::open(note.c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        if (c.noteLocked) {
            ASSERT_EQ(::flock(held, LOCK_EX), 0);
        }
        const std::vector<fs::path> removed = RemoveStaleTemporaries(Dir());
        ::close(held);
        const std::vector<fs::path> expected =
            c.removed ? std::vector<fs::path>{Target(), note}
                      : (c.noteLocked ? std::vector<fs::path>{} : std::vector<fs::path>{note});
        EXPECT_EQ(removed, expected);
        EXPECT_EQ(fs::exists(Target()), !c.removed);
        if (!c.removed) {
            EXPECT_EQ(ReadText(Target()), c.content);
        }
        fs::remove(Target());
        fs::remove(note);
    }
}

#endif

}  // namespace
}  // namespace quorvane
