#pragma once

// A rename that never replaces a file, on file systems that have neither RENAME_NOREPLACE nor
// hard links (FAT and exFAT through FUSE, which answer EINVAL and then EPERM or ENOSYS). The
// free target name is reserved by an exclusive creation, and the finished file is renamed
// over that reservation, which only this program made:
//
//   1. a note beside the target (".<target>.<pid>.<hex>.rsv", TemporaryName.h), created
//      exclusively and locked while its writer lives, names the target;
//   2. the target name is created exclusively (O_EXCL: fails when anything has the name, a
//      file a racing writer made meanwhile or a user's empty file alike), locked, and given
//      a text naming the note;
//   3. the reservation must still be that file, with that text: a writer that wrote into it
//      or put another file in its place meanwhile keeps it, and the rename fails with
//      file_exists;
//   4. the file is renamed over the reservation, and the note removed.
//
// A writer that ends at any step leaves a note; the next clean-up of the folder
// (RemoveStaleTemporaries), once the note's lock is free and its process gone, removes the
// reservation the note names if it is provably this note's (its text names the note; or,
// for an end between the creation and the text, it is empty and was made within seconds of
// the note), then the note. A file of the target's name that is not provably the
// reservation is never touched.
//
// What no file system call can close: a program that opens the reservation without O_EXCL
// between step 3 and the rename (microseconds) writes into a file the rename then replaces.

#include <filesystem>
#include <vector>

#include "files/Result.h"

namespace quorvane {

// Renames `from` to `to` (the same folder's file system) as above: file_exists when `to`
// exists or appeared meanwhile, the system's reason for any other failure; `from` stays then.
[[nodiscard]] Status RenameByReservation(const std::filesystem::path& from,
                                         const std::filesystem::path& to);

// Given the note of a writer that has ended, removes its reservation when provably its own,
// then the note; returns what it removed. Nothing when the note's lock is held.
std::vector<std::filesystem::path> RemoveStaleReservation(const std::filesystem::path& note);

}  // namespace quorvane
