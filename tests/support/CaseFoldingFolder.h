#pragma once

// A folder whose file system ignores letter case, for the tests that need one: the folder that
// QUORVANE_CASE_FOLDING_DIR names, when it is set, else on Windows a scratch folder (NTFS ignores
// case), else a small exFAT image that the test formats and mounts (as root, with exfatprogs and
// exfat-fuse, through a loop device), unmounted and removed with the object. Where neither can be
// had, Path() is empty and Reason() says why, for the test to skip with.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "tests/support/TestFiles.h"

namespace quorvane::testing {

class CaseFoldingFolder {
public:
    CaseFoldingFolder() {
        if (const char* given = std::getenv("QUORVANE_CASE_FOLDING_DIR"); given != nullptr) {
            path_ = std::filesystem::path(given) / scratch_.Path().filename();
            std::filesystem::create_directories(path_);
            return;
        }
#ifdef _WIN32
        // NTFS ignores letter case.
        path_ = scratch_.Path() / "work";
        std::filesystem::create_directories(path_);
#else
        if (::geteuid() != 0) {
            reason_ = "mounting an exFAT image needs root (or set QUORVANE_CASE_FOLDING_DIR)";
            return;
        }
        const std::filesystem::path image = scratch_.Path() / "exfat.img";
        const std::filesystem::path mount = scratch_.Path() / "mnt";
        std::filesystem::create_directories(mount);
        const std::string quiet = " > /dev/null 2>&1";
        if (!Run("truncate -s 8M " + Quoted(image) + " && mkfs.exfat " + Quoted(image) + quiet)) {
            reason_ = "mkfs.exfat (exfatprogs) could not make an image";
            return;
        }
        const std::filesystem::path device = scratch_.Path() / "device";
        if (!Run("losetup -f --show " + Quoted(image) + " > " + Quoted(device) + " 2> /dev/null")) {
            reason_ = "no loop device for the exFAT image";
            return;
        }
        device_ = ReadText(device);
        while (!device_.empty() && device_.back() == '\n') {
            device_.pop_back();
        }
        if (!Run("mount.exfat-fuse " + device_ + " " + Quoted(mount) + quiet)) {
            reason_ = "mount.exfat-fuse (exfat-fuse, /dev/fuse) could not mount the image";
            return;
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
