// Removing a file that held a secret: its bytes are overwritten with zeros and flushed before the
// name goes, checked through the file layer's recorded operations while the file still exists.

#include "files/Overwrite.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "files/FileOperations.h"
#include "files/PlatformFile.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ReadText;
using testing::ScratchFolder;

// Records the operations on files; what the file held at the moment of its Overwrite; fails the
// operation `failing` with "input/output error".
class Recorder {
public:
    explicit Recorder(std::optional<FileOperation> failing = std::nullopt) {
        SetFileOperationObserver([this, failing](FileOperation operation, const fs::path& path) {
            operations.push_back(operation);
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
    std::string heldAtOverwrite;
};

TEST(Overwrite, TheContentIsZeroedAndFlushedBeforeTheNameGoes) {
    const ScratchFolder folder;
    const fs::path file = folder.Path() / "anna.spk";
    const std::string secret(70000, 'm');  // more than one chunk of zeros
    std::ofstream(file, std::ios::binary) << secret;
    const Recorder recorder;
    ASSERT_TRUE(OverwriteAndRemove(file).has_value());
    EXPECT_EQ(recorder.operations,
              (std::vector<FileOperation>{FileOperation::Overwrite, FileOperation::Remove,
                                          FileOperation::SyncFolder}));
    EXPECT_EQ(recorder.heldAtOverwrite, std::string(secret.size(), '\0'));
    EXPECT_FALSE(fs::exists(file));
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
    }
    EXPECT_EQ(fs::read_symlink(folder.Path() / "link.spk"), file);
}
#endif

}  // namespace
}  // namespace quorvane
