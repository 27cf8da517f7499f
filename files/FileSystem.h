#pragma once

// What the file system under a path keeps and holds, where it differs from the disk file
// systems of Linux: FAT and exFAT (through the kernel or FUSE, on every SD card and most USB
// sticks), NTFS through FUSE, and FUSE file systems in general.

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quorvane {

// Whether files on the file system that holds `path` keep their number (inode) from one
// lookup to the next. FAT and exFAT have no numbers of their own: their drivers number a
// file while it is cached, and FUSE numbers a file anew once the kernel has forgotten it,
// so the same file can come back under another number. True where nothing says otherwise.
[[nodiscard]] bool KeepsFileNumbers(const std::filesystem::path& path);

// The largest file the file system under `folder` holds, where that is below what the
// program may write: 4 GiB less one byte on FAT. Nothing where there is no such limit or
// it cannot be told (the system's own refusal, EFBIG, then says it).
[[nodiscard]] std::optional<std::uint64_t> LargestFile(const std::filesystem::path& folder);

// Whether a file made owner-only in `folder` stays readable by its owner only. False on file
// systems without permissions, where the mount decides who may read (FAT and exFAT, NTFS
// through FUSE, some network file systems): they refuse to change a mode (ENOSYS, EPERM,
// ENOTSUP) or ignore it. True on Windows, where the folder's access list decides.
[[nodiscard]] bool KeepsOwnerOnly(const std::filesystem::path& folder);

}  // namespace quorvane
