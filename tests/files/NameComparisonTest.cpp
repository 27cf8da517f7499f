// How a folder's file system compares names, asked of the file system itself: on the scratch
// folder's (byte for byte on Linux, ignoring case on Windows), on a folder where nothing can be
// made (the safe answer), and on ones that ignore letter case (exFAT, and FAT32 through fusefat,
// which refuses every name that is not ASCII, mounted for the test).

#include <gtest/gtest.h>

#include <cstddef>
#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>
#include <vector>

#include "files/NameComparison.h"
#include "tests/support/CaseFoldingFolder.h"
#include "tests/support/TestFiles.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;

// The names asked about, and which of them each folder takes for one. The last two are too
// long for a probe's name (255 bytes), though not for a file's.
const std::vector<fs::path> kNames = {
    fs::path(u8"Report.txt.crp"), fs::path(u8"report.TXT.crp"),    fs::path(u8"\u00C9t\u00E9"),
    fs::path(u8"\u00E9t\u00E9"),  fs::path(u8"e\u0301t\u00E9"),    fs::path(u8"Report.txt.crp"),
    fs::path(u8"other"),          fs::path(std::string(240, 'N')), fs::path(std::string(240, 'n'))};

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
    ExpectRules(folder.Path(), {true, false}, {0, 0, 2, 2, 4, 0, 6, 7, 7});
#else
    ExpectRules(folder.Path(), {false, false}, {0, 1, 2, 3, 4, 0, 6, 7, 8});
#endif
    // Where nothing can be made the file system cannot be asked: names are taken as folded,
    // their ASCII letters compared without regard to case.
    ExpectRules(folder.Path() / "missing", {true, true}, {0, 0, 2, 3, 4, 0, 6, 7, 7});
}

TEST(NameComparison, CaseFoldingFolders) {
    struct Case {
        testing::FoldingFileSystem kind;
        NameRules rules;
        std::vector<std::size_t> same;
    };
    const Case cases[] = {
        // exFAT folds É to é, but keeps é apart from e with a combining accent.
        {testing::FoldingFileSystem::Exfat, {true, false}, {0, 0, 2, 2, 4, 0, 6, 7, 7}},
#ifdef _WIN32
        // Windows (and Wine) name FAT's files in Unicode: as exFAT.
        {testing::FoldingFileSystem::Fat32, {true, false}, {0, 0, 2, 2, 4, 0, 6, 7, 7}},
#else
        // fusefat refuses é, so its normalisation is taken as folded; the names it refuses are
        // compared by their ASCII letters.
        {testing::FoldingFileSystem::Fat32, {true, true}, {0, 0, 2, 3, 4, 0, 6, 7, 7}},
#endif
    };
    for (const Case& c : cases) {
        const testing::CaseFoldingFolder folder(c.kind);
        if (folder.Path().empty()) {
            std::cout << "[ SKIPPED  ] " << folder.Reason() << "\n";
            continue;
        }
        SCOPED_TRACE(folder.Path());
        ExpectRules(folder.Path(), c.rules, c.same);
    }
}

}  // namespace
}  // namespace quorvane
