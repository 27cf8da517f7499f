// The file helpers where the platforms differ: names beyond ASCII, a read-only target and a
// target another handle holds open. Expectations that hold only on Windows are marked.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "files/AtomicFile.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

using testing::AsBytes;
using testing::ReadText;

bool Replace(const fs::path& target, const std::string& content) {
    AtomicFile file(target);
    return file.Open() && file.Write(AsBytes(content)) && file.Commit();
}

class PlatformFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("quorvane-platform-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        RemoveFolder();
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override { RemoveFolder(); }
    void RemoveFolder() {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_, error)) {
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, error);
        }
        fs::remove_all(dir_, error);
    }
    // The names in the folder as UTF-8 bytes.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir_)) {
            const std::u8string name = entry.path().filename().u8string();
            names.emplace_back(name.begin(), name.end());
        }
        return names;
    }
    fs::path dir_;
};

TEST_F(PlatformFileTest, CommitReplacesAFileWhateverItsName) {
    // Windows names are UTF-16: these reach the system through std::filesystem::path intact.
    const std::u8string names[] = {u8"plain.txt", u8"Ærø_файл.txt", u8"日本語 ünïcødé.crp"};
    for (const std::u8string& name : names) {
        const std::string utf8(name.begin(), name.end());
        SCOPED_TRACE(utf8);
        const fs::path target = dir_ / fs::path(name);
        std::ofstream(target, std::ios::binary) << "old";
        ASSERT_EQ(ReadText(target), "old");
        ASSERT_TRUE(Replace(target, "new content"));
        EXPECT_EQ(ReadText(target), "new content");
        EXPECT_EQ(Names(), std::vector<std::string>{utf8});
        fs::remove(target);
    }
}

TEST_F(PlatformFileTest, ReadOnlyTarget) {
    const fs::path target = dir_ / "read-only.txt";
    std::ofstream(target, std::ios::binary) << "old";
    fs::permissions(target, fs::perms::owner_read, fs::perm_options::replace);
    const bool replaced = Replace(target, "new");
    EXPECT_EQ(ReadText(target), replaced ? "new" : "old");
#ifdef _WIN32
    // Windows refuses to rename over a read-only file (Wine allows it); either way the result
    // is whole, and a replaced file is read-only again.
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::owner_write, fs::perms::none);
#else
    // Replacing needs only the folder's permission; the new file keeps the old permissions.
    EXPECT_TRUE(replaced);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms::owner_read);
#endif
    EXPECT_EQ(Names(), std::vector<std::string>{"read-only.txt"});
}

TEST_F(PlatformFileTest, TargetHeldOpenByAnotherHandle) {
    for (const bool readOnly : {false, true}) {
        SCOPED_TRACE(readOnly ? "read-only" : "writable");
        const fs::path target = dir_ / "open.txt";
        std::ofstream(target, std::ios::binary) << "old";
        if (readOnly) {
            fs::permissions(target, fs::perms::owner_read, fs::perm_options::replace);
        }
        {
            std::ifstream reader(target, std::ios::binary);
            ASSERT_TRUE(reader.is_open());
            const bool replaced = Replace(target, "new");
#ifdef _WIN32
            // Windows does not replace a file that is open: a clean failure, the old file
            // intact and no temporary file left.
            EXPECT_FALSE(replaced);
            EXPECT_EQ(ReadText(target), "old");
#else
            // The reader keeps the old content; the name now holds the new file.
            EXPECT_TRUE(replaced);
            EXPECT_EQ(ReadText(target), "new");
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(reader),
                                  std::istreambuf_iterator<char>()),
                      "old");
#endif
            EXPECT_EQ(Names(), std::vector<std::string>{"open.txt"});
        }
        if (!readOnly) {
            // Once the other handle is closed, the same replacement succeeds.
            EXPECT_TRUE(Replace(target, "newer"));
            EXPECT_EQ(ReadText(target), "newer");
        }
        fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
        fs::remove(target);
    }
}

}  // namespace
}  // namespace quorvane
