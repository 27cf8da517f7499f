// What tells one state of a file from another, where file numbers last (disk file systems)
// and where they do not (FAT, exFAT, FUSE: the number may change while the file stays).

#include "files/FileIdentity.h"

#include <gtest/gtest.h>

namespace quorvane {
namespace {

TEST(FileIdentity, TheNumberCountsOnlyWhereItLasts) {
    const FileIdentity base{.device = 7, .index = 100, .size = 64, .modified = 2, .changed = 2};
    FileIdentity renumbered = base;
    renumbered.index = 101;
    FileIdentity rewritten = base;
    rewritten.modified = rewritten.changed = 4;
    struct Case {
        const char* what;
        bool lasts;
        FileIdentity other;
        std::uint64_t otherSample;
        bool equal;
        bool same;
    };
    for (const Case& c : {
             Case{"the very state", true, base, 0, true, true},
             Case{"another file in the same state", true, renumbered, 0, false, false},
             Case{"the file written again", true, rewritten, 0, false, true},
             Case{"renumbered by the file system", false, renumbered, 0, true, true},
             Case{"replaced within the same two seconds", false, base, 1, false, false},
             Case{"written again, numbers not lasting", false, rewritten, 0, false, false},
         }) {
        FileIdentity a = base;
        FileIdentity b = c.other;
        a.indexLasts = b.indexLasts = c.lasts;
        b.sample = c.otherSample;
        EXPECT_EQ(a == b, c.equal) << c.what;
        EXPECT_EQ(SameFile(a, b), c.same) << c.what;
    }
}

}  // namespace
}  // namespace quorvane
