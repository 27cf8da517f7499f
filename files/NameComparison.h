#pragma once

// How a folder's file system compares file names, found by asking it rather than assumed: byte
// for byte (ext4, xfs, tmpfs), without regard to letter case (FAT, exFAT, NTFS, a casefold
// folder of ext4), or as Unicode-normalised text (an APFS volume, ZFS with normalisation). A
// batch needs it to tell whether two names it is about to create are one file there; the device
// and inode of a file say so only once it exists, and FUSE file systems such as exFAT give one
// file another inode number under each spelling of its name.

#include <cstddef>
#include <filesystem>
#include <vector>

namespace quorvane {

// Whether the file system of `folder` takes names that differ only in letter case ("Qz" and
// "qZ") for one name, and names that differ only in the Unicode normalisation of a letter (é
// as one character, and e followed by a combining accent). Found with a probe for each
// question: an empty owner-only file of a temporary name (".<name>.<process>.<16 hex
// digits>.tmp", the form of the temporaries of files/AtomicFile.h, so that one left by a crash
// is cleaned up like them) is created in the folder, the other spelling is looked up, and the
// probe is removed. Letter case is asked with ASCII letters, which every file system holds
// (FAT through fusefat refuses every other character). Where a probe cannot be made (a folder
// that is missing or cannot be written, a file system that refuses é), the question stays open
// and the answer is the safe one, true: a name wrongly taken for another refuses a file of a
// batch, a name wrongly told apart from another lets a batch replace it.
struct NameRules {
    bool ignoresCase = false;
    bool ignoresNormalisation = false;
    [[nodiscard]] bool operator==(const NameRules&) const = default;
};
[[nodiscard]] NameRules ProbeNameRules(const std::filesystem::path& folder);

// For each of `names` (file names without a folder), the index of the first of them that the
// file system of `folder` takes for the same name: its own index when there is none. Names equal
// byte for byte are one name everywhere. Where ProbeNameRules answers that the file system
// ignores case or normalisation, it compares the others itself: each name is created in the
// folder as a probe of the temporary form above holding its index, and a name whose probe cannot
// be created because one of an earlier name is there already is that name. Every probe is
// removed before this returns. A name whose probe cannot be made for another reason (too long
// for the probe's name, a character the file system refuses) is compared, where case is
// ignored, with its ASCII letters folded to lower case: the doubt refuses rather than replaces.
// (Other letters and normalisation are not compared without the file system; where it refuses
// them, as fusefat does, their writes fail on their own.)
[[nodiscard]] std::vector<std::size_t> SameNames(const std::filesystem::path& folder,
                                                 const std::vector<std::filesystem::path>& names);

}  // namespace quorvane
