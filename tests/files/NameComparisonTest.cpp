// How a folder's file system compares names, asked of the file system itself: on the scratch
// folder's (byte for byte on Linux, ignoring case on Windows) and on one that ignores letter
// case (exFAT, mounted for the test).

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "files/NameComparison.h"
#include "tests/support/CaseFoldingFolder.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// The names asked about, and which of them each folder takes for one.
const std::vector<fs::path> kNames = {fs::path(u8"Report.txt.crp"), fs::path(u8"report.TXT.crp"),
                                      fs::path(u8"\u00C9t\u00E9"),  fs::path(u8"\u00E9t\u00E9"),
                                      fs::path(u8"e\u0301t\u00E9"), fs::path(u8"Report.txt.crp"),
                                      fs::path(u8"other")};

void ExpectRules(const fs::path& folder, NameRules rules, const std::vector<std::size_t>& same) {
    EXPECT_EQ(ProbeNameRules(folder), rules);
    EXPECT_EQ(SameNames(folder, kNames), same);
    // Every probe is gone again (and nothing was made where nothing could be).
    std::error_code error;
    EXPECT_TRUE(fs::is_empty(folder, error) || !fs::exists(folder)) << error.message();
}

TEST(NameComparison, ScratchFolder) {
    const testing::ScratchFolder folder;
#ifdef _WIN32
    // NTFS ignores letter case (and so does Wine's view of a Linux folder).
    ExpectRules(folder.Path(), {true, false}, {0, 0, 2, 2, 4, 0, 6});
#else
    ExpectRules(folder.Path(), {false, false}, {0, 1, 2, 3, 4, 0, 6});
#endif
    // A folder where nothing can be created compares byte for byte.
    ExpectRules(folder.Path() / "missing", {false, false}, {0, 1, 2, 3, 4, 0, 6});
}

TEST(NameComparison, CaseFoldingFolder) {
    const testing::CaseFoldingFolder folder;
    if (folder.Path().empty()) {
        GTEST_SKIP() << folder.Reason();
    }
    // exFAT folds É to é, but keeps é apart from e with a combining accent.
    ExpectRules(folder.Path(), {true, false}, {0, 0, 2, 2, 4, 0, 6});
}

}  // namespace
}  // namespace quorvane
