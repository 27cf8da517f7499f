#include "files/FileSystem.h"

#include "files/PlatformFileDetail.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "files/TemporaryName.h"
#endif
#ifdef __linux__
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#endif

namespace quorvane {

namespace {

#ifdef __linux__
// Types from statfs (linux/magic.h) of the file systems whose file numbers do not last.
constexpr long kFatType = 0x4d44;        // MSDOS_SUPER_MAGIC: vfat and msdos
constexpr long kExfatType = 0x2011BAB0;  // EXFAT_SUPER_MAGIC
constexpr long kFuseType = 0x65735546;   // FUSE_SUPER_MAGIC: every FUSE file system
constexpr std::uint64_t kFatLargestFile = 0xFFFFFFFFull;

bool NumbersLast(long type) {
    return type != kFatType && type != kExfatType && type != kFuseType;
}

// The type a mount of device `device` has in /proc/self/mountinfo ("fuse.fusefat"), or empty.
std::string MountType(dev_t device) {
    std::ifstream mounts("/proc/self/mountinfo");
    const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::string line;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id;
        std::string parent;
        std::string numbers;
        fields >> id >> parent >> numbers;
        const std::size_t separator = line.find(" - ");
        if (numbers != wanted || separator == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(separator + 3));
        std::string type;
        rest >> type;
        return type;
    }
    return {};
}
#endif

}  // namespace

namespace detail {

bool FileNumbersLast(int descriptor) {
#ifdef __linux__
    struct statfs info {};
    return ::fstatfs(descriptor, &info) != 0 || NumbersLast(static_cast<long>(info.f_type));
#else
    static_cast<void>(descriptor);
    return true;
#endif
}

}  // namespace detail

bool KeepsFileNumbers(const std::filesystem::path& path) {
#ifdef __linux__
    struct statfs info {};
    return ::statfs(path.c_str(), &info) != 0 || NumbersLast(static_cast<long>(info.f_type));
#else
    static_cast<void>(path);
    return true;
#endif
}

std::optional<std::uint64_t> LargestFile(const std::filesystem::path& folder) {
#ifdef __linux__
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    struct statfs info {};
    if (::statfs(where.c_str(), &info) != 0) {
        return std::nullopt;
    }
    const auto type = static_cast<long>(info.f_type);
    if (type == kFatType) {
        return kFatLargestFile;
    }
    // FUSE says which file system it serves only in the mount table.
    struct stat st {};
    if (type == kFuseType && ::stat(where.c_str(), &st) == 0) {
        const std::string mountType = MountType(st.st_dev);
        if (mountType == "fuse.fusefat" || mountType == "fuseblk.fusefat") {
            return kFatLargestFile;
        }
    }
    return std::nullopt;
#else
    static_cast<void>(folder);
    return std::nullopt;
#endif
}

bool KeepsOwnerOnly(const std::filesystem::path& folder) {
#ifdef _WIN32
    static_cast<void>(folder);
    return true;
#else
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return true;  // no folder: nothing in it to keep
    }
    if ((st.st_mode & 077) == 0) {
        return true;
    }
    // Open to others: either the file system has no permissions, or its owner opened this
    // folder while the files in it stay owner-only. A file of the kind the program writes
    // tells (named as a temporary, so that a crash leaves a left-over the next write removes).
    const std::filesystem::path probe =
        LeftoverName(folder / "permissions", LeftoverKind::Temporary);
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;  // a read-only folder, say: its own mode is all there is to go by
    }
    // Whether the change is refused or ignored, the mode the file then shows is the answer.
    static_cast<void>(::fchmod(fd, 0600));
    struct stat made {};
    const bool kept = ::fstat(fd, &made) == 0 && (made.st_mode & 077) == 0;
    ::close(fd);
    ::unlink(probe.c_str());
    return kept;
#endif
}

}  // namespace quorvane
