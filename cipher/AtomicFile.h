#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

#include "cipher/PlatformFile.h"

namespace quorvane {

// Writes a file so that it appears complete or not at all. Open creates a uniquely named
// temporary file in the target's own folder (exclusively, so no other file or link can be
// taken over); Commit flushes and closes it and renames it over the target. Until Commit
// succeeds the target keeps its old content, and a failed or abandoned write removes the
// temporary file.
//
// A target that exists and is neither a regular file nor a folder (a device such as /dev/null,
// a pipe) cannot be replaced by renaming: it is written directly, every write checked.
class AtomicFile final {
public:
    explicit AtomicFile(std::filesystem::path target);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    [[nodiscard]] bool Open();
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes);
    [[nodiscard]] bool Commit();
    // Gives up: removes the temporary file. Called by the destructor unless Commit succeeded.
    void Discard();

    // The temporary file's path while one exists (empty otherwise); for tests.
    [[nodiscard]] const std::filesystem::path& TemporaryPath() const { return temporary_; }

private:
    std::filesystem::path target_;
    std::filesystem::path temporary_;
    PlatformFile file_;
    std::uint64_t written_ = 0;
    std::uint64_t flushed_ = 0;  // bytes already handed to the device's writeback
    bool direct_ = false;
    bool failed_ = false;
    bool committed_ = false;
};

}  // namespace quorvane
