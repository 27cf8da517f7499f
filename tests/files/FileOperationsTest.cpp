// The steps of the file layer are the system calls themselves: a step the system refuses
// returns the system's reason and is not recorded, and a step that succeeds did what it says.
// A step that only recorded itself fails here.

#include "files/FileOperations.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/files/RecordedOperations.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using testing::AsBytes;
using testing::CodeOf;
using testing::ReadText;
using testing::RecordedOperations;
using testing::ScratchFolder;

TEST(FileOperations, AStepTheSystemRefusesFailsWithItsReasonAndIsNotRecorded) {
    const ScratchFolder scratch;
    const fs::path dir = scratch.Path();
    std::ofstream(dir / "taken") << "theirs";
    PlatformFile never;  // never opened: the system refuses every call on it
    PlatformFile file;
    struct Case {
        const char* step;
        std::function<Status()> run;
        std::errc reason;
    };
    std::vector<Case> cases = {
        {"create", [&] { return DoCreateTemporary(file, dir / "no-folder" / "t"); },
         std::errc::no_such_file_or_directory},
        {"reserve", [&] { return DoReserve(file, dir / "taken"); }, std::errc::file_exists},
        {"write", [&] { return DoWrite(never, dir / "t", AsBytes("x")); },
         std::errc::bad_file_descriptor},
        {"sync", [&] { return DoSync(never, dir / "t"); }, std::errc::bad_file_descriptor},
        {"rename", [&] { return DoRename(dir / "missing", dir / "to", false); },
         std::errc::no_such_file_or_directory},
        {"rename over", [&] { return DoRename(dir / "missing", dir / "taken", true); },
         std::errc::no_such_file_or_directory},
    };
#ifndef _WIN32
    // Windows has no folder to flush: its renames are written through.
    cases.push_back({"sync folder", [&] { return DoSyncFolder(dir / "no-folder"); },
                     std::errc::no_such_file_or_directory});
#endif
    for (const Case& c : cases) {
        const RecordedOperations recorded;
        const Status step = c.run();
        EXPECT_EQ(CodeOf(step), c.reason) << c.step;
        EXPECT_TRUE(recorded.steps.empty()) << c.step;
    }
    const RecordedOperations recorded;
    EXPECT_FALSE(DoRemove(dir / "missing"));
    EXPECT_FALSE(DoRemoveUnlocked(dir / "missing"));
    EXPECT_TRUE(recorded.steps.empty());
    EXPECT_EQ(ReadText(dir / "taken"), "theirs");
}

TEST(FileOperations, AStepThatSucceedsDidWhatItRecords) {
    const ScratchFolder scratch;
    const fs::path dir = scratch.Path();
    const RecordedOperations recorded;
    PlatformFile file;
    ASSERT_TRUE(DoCreateTemporary(file, dir / "t"));
    ASSERT_TRUE(DoWrite(file, dir / "t", AsBytes("content")));
    ASSERT_TRUE(DoSync(file, dir / "t"));
    ASSERT_TRUE(DoClose(file, dir / "t"));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadText(dir / "t"), "content");
    ASSERT_TRUE(DoRename(dir / "t", dir / "final", false));
    EXPECT_FALSE(fs::exists(dir / "t"));
    EXPECT_EQ(ReadText(dir / "final"), "content");
    ASSERT_TRUE(DoSyncFolder(dir));
    EXPECT_TRUE(DoRemove(dir / "final"));
    EXPECT_FALSE(fs::exists(dir / "final"));
    using enum FileOperation;
    EXPECT_EQ(recorded.steps, (std::vector<FileOperation>{CreateTemporary, Write, SyncFile, Close,
                                                          Rename, SyncFolder, Remove}));
}

// The observer fails a creation as the system would have: nothing stays of the file.
TEST(FileOperations, ACreationTheObserverFailsLeavesNothing) {
    const ScratchFolder scratch;
    for (const FileOperation step : {FileOperation::CreateTemporary, FileOperation::Reserve}) {
        const RecordedOperations recorded(step);
        PlatformFile file;
        const fs::path path = scratch.Path() / "t";
        const Status created =
            step == FileOperation::Reserve ? DoReserve(file, path) : DoCreateTemporary(file, path);
        EXPECT_EQ(CodeOf(created), std::errc::io_error);
        EXPECT_EQ(created.error().path(), path);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_FALSE(fs::exists(path));
    }
}

}  // namespace
}  // namespace quorvane
