// Small whole files (key files, model files): owner-only writes under any name.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "files/SmallFile.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

TEST(SmallFile, OwnerOnlyWriteReplacesAFileWhateverItsName) {
    const testing::ScratchFolder folder;
    const std::u8string names[] = {u8"anna_key.txt", u8"Ærø_файл_key.txt"};
    const std::vector<std::uint8_t> bytes = {'k', 'e', 'y', 0, 0xff, '\r', '\n'};
    for (const std::u8string& name : names) {
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const fs::path path = folder.Path() / fs::path(name);
        std::ofstream(path, std::ios::binary) << "an older and longer content";
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read,
                        fs::perm_options::replace);
        ASSERT_TRUE(WriteFileAtomically(path, bytes, true));
        const Result<std::vector<std::uint8_t>> back = ReadSmallFile(path, 1024);
        ASSERT_TRUE(back);
        EXPECT_EQ(*back, bytes);
        const fs::perms perms = fs::status(path).permissions();
#ifdef _WIN32
        // Windows has no owner/group/other bits: the file keeps the access list it inherits
        // from its folder (a user's own folders are private to that user), and the request
        // must not have made it read-only.
        EXPECT_NE(perms & fs::perms::owner_write, fs::perms::none);
#else
        EXPECT_EQ(perms & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
#endif
        EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()),
                  1);
        fs::remove(path);
    }
}

// A file that cannot be read whole within the limit fails with its reason, naming the file.
TEST(SmallFile, AFileThatCanNotBeReadWholeFailsWithItsReason) {
    const testing::ScratchFolder folder;
    const fs::path exact = folder.Path() / "exact";
    const fs::path larger = folder.Path() / "larger";
    std::ofstream(exact, std::ios::binary) << std::string(8, 'x');
    std::ofstream(larger, std::ios::binary) << std::string(9, 'x');
    const struct {
        fs::path path;
        std::error_code code;
    } cases[] = {
        {exact, {}},
        {larger, std::make_error_code(std::errc::file_too_large)},
        {folder.Path() / "missing", std::make_error_code(std::errc::no_such_file_or_directory)},
        {folder.Path(), std::make_error_code(std::errc::is_a_directory)},
    };
    for (const auto& c : cases) {
        const Result<std::vector<std::uint8_t>> read = ReadSmallFile(c.path, 8);
        EXPECT_EQ(testing::CodeOf(read), c.code) << c.path;
        if (!read) {
            EXPECT_EQ(read.error().path(), c.path);
        }
    }
}

}  // namespace
}  // namespace quorvane
