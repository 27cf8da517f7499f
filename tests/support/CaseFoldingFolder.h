#pragma once

// A folder whose file system ignores letter case, for the tests that need one: the folder that
// QUORVANE_CASE_FOLDING_DIR names, when it is set, else on Windows a scratch folder (NTFS ignores
// case), else a small image that the test formats and mounts as root: exFAT (exfatprogs and
// exfat-fuse, through a loop device) or FAT32 (dosfstools and fusefat, which holds ASCII names
// only), unmounted and removed with the object. Where none can be had, Path() is empty and
// Reason() says why, for the test to skip with.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/support/TestFiles.h"

namespace quorvane::testing {

enum class FoldingFileSystem { Exfat, Fat32 };

class CaseFoldingFolder {
public:
    explicit CaseFoldingFolder(FoldingFileSystem kind = FoldingFileSystem::Exfat) {
        if (const char* given = std::getenv("QUORVANE_CASE_FOLDING_DIR"); given != nullptr) {
            path_ = std::filesystem::path(given) / scratch_.Path().filename();
            std::filesystem::create_directories(path_);
            return;
        }
#ifdef _WIN32
        // NTFS ignores letter case.
        static_cast<void>(kind);
        path_ = scratch_.Path() / "work";
        std::filesystem::create_directories(path_);
#else
        const bool fat = kind == FoldingFileSystem::Fat32;
        const std::string what = fat ? "a FAT32 image" : "an exFAT image";
        if (::geteuid() != 0) {
            reason_ = "mounting " + what + " needs root (or set QUORVANE_CASE_FOLDING_DIR)";
            return;
        }
        const std::filesystem::path image = scratch_.Path() / "image";
        const std::filesystem::path mount = scratch_.Path() / "mnt";
        std::filesystem::create_directories(mount);
        const std::string quiet = " > /dev/null 2>&1";
        // FAT32 takes at least 65525 clusters: 40 MiB of 512-byte clusters, sparse.
        const std::string make =
            fat ? "truncate -s 40M " + Quoted(image) + " && mkfs.vfat -F 32 -s 1 " + Quoted(image)
                : "truncate -s 8M " + Quoted(image) + " && mkfs.exfat " + Quoted(image);
        if (!Run(make + quiet)) {
            reason_ = fat ? "mkfs.vfat (dosfstools) could not make " + what
                          : "mkfs.exfat (exfatprogs) could not make " + what;
            return;
        }
        if (fat) {
            if (!Run("fusefat -o rw+ " + Quoted(image) + " " + Quoted(mount) + quiet)) {
                reason_ = "fusefat (fusefat, /dev/fuse) could not mount " + what;
                return;
            }
        } else {
            const std::filesystem::path device = scratch_.Path() / "device";
            if (!Run("losetup -f --show " + Quoted(image) + " > " + Quoted(device) +
                     " 2> /dev/null")) {
                reason_ = "no loop device for " + what;
                return;
            }
            device_ = ReadText(device);
            while (!device_.empty() && device_.back() == '\n') {
                device_.pop_back();
            }
            if (!Run("mount.exfat-fuse " + device_ + " " + Quoted(mount) + quiet)) {
                reason_ = "mount.exfat-fuse (exfat-fuse, /dev/fuse) could not mount " + what;
                return;
            }
        }
        mount_ = mount;
        path_ = mount / "work";
        std::filesystem::create_directories(path_);
#endif
    }
    ~CaseFoldingFolder() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
        if (!mount_.empty()) {
            Run("umount " + Quoted(mount_) + " > /dev/null 2>&1");
        }
        if (!device_.empty()) {
            Run("losetup -d " + device_ + " > /dev/null 2>&1");
        }
    }
    CaseFoldingFolder(const CaseFoldingFolder&) = delete;
    CaseFoldingFolder& operator=(const CaseFoldingFolder&) = delete;

    // The folder; empty when none could be had.
    [[nodiscard]] const std::filesystem::path& Path() const {
        return path_;
    }
    // Why there is none.
    [[nodiscard]] const std::string& Reason() const {
        return reason_;
    }

private:
    static bool Run(const std::string& command) {
        return std::system(command.c_str()) == 0;
    }

    ScratchFolder scratch_;
    std::filesystem::path path_;
    std::filesystem::path mount_;
    std::string device_;
    std::string reason_;
};

}  // namespace quorvane::testing
