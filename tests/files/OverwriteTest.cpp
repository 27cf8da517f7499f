// Removing a file that held a secret: it is moved to a removal name beside it, its bytes are
// overwritten with zeros and flushed, and only then does the name go; checked through the file
// layer's recorded operations while the file still exists. A folder or file whose name cannot go
// refuses the move before anything is overwritten, and a removal a crash left is finished by the
// next clean-up.

#include "files/Overwrite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "files/FileOperations.h"
#include "files/PlatformFile.h"
#include "files/TemporaryName.h"
#include "tests/support/FileAttributes.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::ScratchFolder;

// Records the operations on files; the name a file was renamed to and what the file held at the
// moment of its Overwrite; fails the operation `failing` with "input/output error".
class Recorder {
public:
    explicit Recorder(std::optional<FileOperation> failing = std::nullopt) {
        SetFileOperationObserver([this, failing](FileOperation operation, const fs::path& path) {
            operations.push_back(operation);
            if (operation == FileOperation::Rename) {
                renamedTo = path;
            }
            if (operation == FileOperation::Overwrite) {
                heldAtOverwrite = ReadText(path);
            }
            return operation == failing ? std::make_error_code(std::errc::io_error)
                                        : std::error_code();
        });
    }
    ~Recorder() { SetFileOperationObserver({}); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<FileOperation> operations;
    fs::path renamedTo;
    std::string heldAtOverwrite;
};

std::vector<fs::path> Entries(const fs::path& folder) {
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        entries.push_back(entry.path());
    }
    return entries;
}

TEST(Overwrite, TheContentIsZeroedAndFlushedBeforeTheNameGoes) {
    const ScratchFolder folder;
    const fs::path file = folder.Path() / "anna.spk";
    const std::string secret(70000, 'm');  // more than one chunk of zeros
    std::ofstream(file, std::ios::binary) << secret;
    const Recorder recorder;
    ASSERT_TRUE(OverwriteAndRemove(file).has_value());
    EXPECT_EQ(recorder.operations,
              (std::vector<FileOperation>{FileOperation::Rename, FileOperation::Overwrite,
                                          FileOperation::Remove, FileOperation::SyncFolder}));
    std::uint64_t process = 0;
    EXPECT_EQ(recorder.renamedTo.parent_path(), folder.Path());
    EXPECT_TRUE(ParseLeftoverName(recorder.renamedTo, LeftoverKind::Removal, process));
    EXPECT_EQ(process, CurrentProcessId());
    EXPECT_EQ(recorder.heldAtOverwrite, std::string(secret.size(), '\0'));
    EXPECT_TRUE(Entries(folder.Path()).empty());
}

#ifndef _WIN32
// (Links and folders as POSIX reports them.)
TEST(Overwrite, AFailureOrSomethingElseThanAFileLeavesTheName) {
    const ScratchFolder folder;
    const fs::path file = folder.Path() / "anna.spk";
    std::ofstream(file) << "model";
    fs::create_symlink(file, folder.Path() / "link.spk");
    fs::create_directory(folder.Path() / "folder.spk");
    const struct {
        fs::path path;
        std::optional<FileOperation> failing;
        std::error_code reason;
    } cases[] = {
        {folder.Path() / "link.spk", std::nullopt,
         std::make_error_code(std::errc::too_many_symbolic_link_levels)},
        {folder.Path() / "folder.spk", std::nullopt,
         std::make_error_code(std::errc::is_a_directory)},
        {folder.Path() / "missing.spk", std::nullopt,
         std::make_error_code(std::errc::no_such_file_or_directory)},
        {file, FileOperation::Rename, std::make_error_code(std::errc::io_error)},
        {file, FileOperation::Overwrite, std::make_error_code(std::errc::io_error)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.string());
        const Recorder recorder(c.failing);
        const Status removed = OverwriteAndRemove(c.path);
        ASSERT_FALSE(removed.has_value());
        EXPECT_EQ(removed.error().code(), c.reason);
        EXPECT_EQ(removed.error().path(), c.path);
        EXPECT_EQ(fs::exists(fs::symlink_status(c.path)), c.path != folder.Path() / "missing.spk");
        // Only a regular file is moved aside, and a failure brings it back.
        EXPECT_EQ(recorder.operations.empty(), !c.failing.has_value());
        EXPECT_EQ(Entries(folder.Path()).size(), 3u);
    }
    EXPECT_EQ(fs::read_symlink(folder.Path() / "link.spk"), file);
}

// A file that may not be renamed, or a folder that lets no name go (immutable, append-only, as
// `chattr +i` and `chattr +a` make them), refuses the first step: nothing is overwritten.
TEST(Overwrite, WhereTheNameCannotGoNothingIsOverwritten) {
    using Kind = testing::FileAttribute::Kind;
    const struct {
        bool onFolder;
        Kind kind;
    } cases[] = {{false, Kind::Immutable}, {true, Kind::Immutable}, {true, Kind::AppendOnly}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.onFolder << static_cast<int>(c.kind));
        const ScratchFolder folder;
        const fs::path file = folder.Path() / "carl.spk";
        std::ofstream(file, std::ios::binary) << "model of carl";
        testing::FileAttribute attribute(c.onFolder ? folder.Path() : file, c.kind);
        if (!attribute.Set()) {
            GTEST_SKIP() << attribute.Why();
        }
        const Recorder recorder;
        const Status removed = OverwriteAndRemove(file);
        ASSERT_FALSE(removed.has_value());
        EXPECT_EQ(removed.error().code(), std::make_error_code(std::errc::operation_not_permitted));
        EXPECT_EQ(removed.error().path(), file);
        EXPECT_TRUE(recorder.operations.empty());
        EXPECT_EQ(ReadText(file), "model of carl");
        EXPECT_EQ(Entries(folder.Path()), std::vector<fs::path>{file});
    }
}

// A removal cut short after its move (a crash) leaves the file under its removal name: the next
// clean-up of the folder overwrites and removes it once its process has ended, never while it
// may be running.
TEST(Overwrite, ARemovalCutShortIsFinishedByTheNextCleanUp) {
    const ScratchFolder folder;
    const fs::path ended = folder.Path() / ".carl.spk.4294967293.0123456789abcdef.del";
    const fs::path running = LeftoverName(folder.Path() / "dora.spk", LeftoverKind::Removal);
    for (const fs::path& path : {ended, running}) {
        std::ofstream(path, std::ios::binary) << "a model";
    }
    const Recorder recorder;
    EXPECT_EQ(RemoveStaleTemporaries(folder.Path()), std::vector<fs::path>{ended});
    EXPECT_EQ(recorder.operations,
              (std::vector<FileOperation>{FileOperation::Overwrite, FileOperation::Remove,
                                          FileOperation::SyncFolder}));
    EXPECT_EQ(recorder.heldAtOverwrite, std::string(7, '\0'));
    EXPECT_EQ(Entries(folder.Path()), std::vector<fs::path>{running});
}
#endif

}  // namespace
}  // namespace quorvane
