#pragma once

// Linux file attributes for tests (what `chattr +i` and `chattr +a` set): a file or folder made
// immutable, or a folder made append-only (entries may be added, none renamed or removed), for
// the life of the object. Setting them needs root (CAP_LINUX_IMMUTABLE) and a file system that
// has them (ext4, tmpfs, btrfs, xfs); Set() says whether it worked, so that a test can skip
// elsewhere with the reason. The attribute is cleared again before the scratch folder goes.

#include <filesystem>
#include <string>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace quorvane::testing {

class FileAttribute {
public:
    enum class Kind { Immutable, AppendOnly };

    FileAttribute(std::filesystem::path path, Kind kind) : path_(std::move(path)), kind_(kind) {}
    ~FileAttribute() {
        if (set_) {
            static_cast<void>(Change(false));
        }
    }
    FileAttribute(const FileAttribute&) = delete;
    FileAttribute& operator=(const FileAttribute&) = delete;

    // Sets the attribute; false (with Why()) where it cannot be set here.
    [[nodiscard]] bool Set() {
        set_ = Change(true);
        return set_;
    }
    [[nodiscard]] std::string Why() const {
        return "the attribute can not be set on " + path_.string() +
               " (needs root and a file system with chattr attributes, such as ext4 or tmpfs)";
    }

private:
    bool Change(bool on) {
#ifdef __linux__
        const int fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        const int flag = kind_ == Kind::Immutable ? FS_IMMUTABLE_FL : FS_APPEND_FL;
        flags = on ? (flags | flag) : (flags & ~flag);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        ::close(fd);
        return done;
#else
        static_cast<void>(on);
        return false;
#endif
    }

    std::filesystem::path path_;
    Kind kind_;
    bool set_ = false;
};

}  // namespace quorvane::testing
