#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace quorvane {

// The few file calls the standard library lacks, behind one small interface so the rest of the
// code stays portable: creating a file only if its name is free (never through an existing link),
// writes that report every failure, and flushing a file to the storage device.
class PlatformFile final {
public:
    PlatformFile() = default;
    ~PlatformFile();
    PlatformFile(const PlatformFile&) = delete;
    PlatformFile& operator=(const PlatformFile&) = delete;

    // Creates a new file for writing; fails when anything of that name already exists.
    [[nodiscard]] bool CreateExclusive(const std::filesystem::path& path);
    // Opens an existing file (for example a device) for writing without creating or truncating.
    [[nodiscard]] bool OpenExisting(const std::filesystem::path& path);
    // Writes all bytes, retrying short writes; false on any error (disk full included).
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes);
    // Asks the system to start writing the given range to the device now, without waiting, so
    // that the final Sync has little left to do. Only a hint: does nothing where unsupported.
    void StartWriteback(std::uint64_t offset, std::uint64_t length);
    // Flushes the written data to the storage device.
    [[nodiscard]] bool Sync();
    // Closes the file; false when the close reports an error. Closing twice is harmless.
    [[nodiscard]] bool Close();
    [[nodiscard]] bool IsOpen() const { return handle_ >= 0; }

private:
    std::intptr_t handle_ = -1;
};

}  // namespace quorvane
