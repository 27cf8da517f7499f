// What PlatformFile is on every platform: the program's own file errors and the reads built
// on ReadSome. The system calls are in PlatformFilePosix.cpp and PlatformFileWindows.cpp.

#include "files/PlatformFile.h"

#include <string>

#include "files/PlatformFileDetail.h"

namespace quorvane {

namespace {

class FileErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.file"; }
    std::string message(int value) const override {
        switch (static_cast<FileError>(value)) {
            case FileError::NotRegularFile:
                return "is not a regular file";
            case FileError::EndOfFile:
                return "file ends early";
            case FileError::Changed:
                return "changed while it was read";
            case FileError::NameNotHeld:
                return "the file system can not hold this name: it takes none of : ? * \" < > | "
                       "\\ and no dot or blank at the end";
            case FileError::TooLargeForFileSystem:
                return "FAT32 holds files up to 4 GiB";
        }
        return "file error";
    }
};

}  // namespace

const std::error_category& FileErrorCategory() {
    static const FileErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(FileError error) {
    return std::error_code(static_cast<int>(error), FileErrorCategory());
}

PlatformFile::~PlatformFile() {
    static_cast<void>(Close());
    ReleaseLock();
}

Failure PlatformFile::Fail() const {
    return Fail(detail::LastSystemError());
}

Status PlatformFile::ReadExactly(std::span<std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const Result<std::size_t> got = ReadSome(bytes);
        if (!got) {
            return got.error();
        }
        if (*got == 0) {
            return Fail(MakeError(FileError::EndOfFile));
        }
        bytes = bytes.subspan(*got);
    }
    return {};
}

std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path) {
    // Opened for reading only to ask the system about it: reading changes neither its content
    // nor its times, and a file that cannot be read counts as unknown.
    PlatformFile file;
    if (!file.OpenForReading(path)) {
        return std::nullopt;
    }
    Result<FileIdentity> identity = file.Identify();
    if (!identity) {
        return std::nullopt;
    }
    return *identity;
}

}  // namespace quorvane
