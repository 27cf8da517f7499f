#pragma once

// Which file a path names, and what it held when last looked at: enough to tell, at the end of a
// batch, whether an output is still the very file the batch committed and an input still the
// file it read.

#include <cstdint>

namespace quorvane {

// What tells one state of a file from another: where it lives (device and file number; on
// Windows the volume serial and file index), its size, and its modification and change times
// (Windows: the last write time for both). A file that was written or replaced between two
// readings differs.
//
// FAT, exFAT and FUSE file systems number a file anew once the system has forgotten it, and
// keep times to one or two seconds: there the number is left out of the comparison, since the
// same file may come back under another, and a sample of the content (the first and last
// 4 KiB) stands in for it, so that a file replaced by another of the same size within the
// same two seconds still differs.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t index = 0;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds (Windows: 100-ns units)
    std::int64_t changed = 0;
    bool indexLasts = true;    // false: the file system's numbers do not last
    std::uint64_t sample = 0;  // where !indexLasts: a hash of the first and last 4 KiB

    // The same state of the same file; the index counts only where both sides' numbers last.
    [[nodiscard]] bool operator==(const FileIdentity& other) const;
};

// Whether two identities are of one file: the same device and number where numbers last;
// elsewhere, having nothing better, the same state.
[[nodiscard]] bool SameFile(const FileIdentity& a, const FileIdentity& b);

}  // namespace quorvane
