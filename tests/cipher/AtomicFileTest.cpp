#include "cipher/AtomicFile.h"
#include "cipher/PlatformFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorvane {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

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
    fs::path dir_;
};

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

}  // namespace
}  // namespace quorvane
