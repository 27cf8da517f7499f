#pragma once

// The input of an encoding, read as a stream whose length is checked: a regular file is
// measured (size, modification and change times, device and inode) when opened and again after
// the last read, and one more byte is asked for at the end; any difference fails the file with
// FileError::Changed. An input that reports size 0 (pseudo-files
// such as /proc/cpuinfo) is measured by reading it into memory, up to kMeasuredInputLimit.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <system_error>
#include <vector>

#include "cipher/EncodedWriter.h"
#include "files/PlatformFile.h"

namespace quorvane {

inline constexpr std::size_t kMeasuredInputLimit = std::size_t{64} << 20;

class MeasuredInput final : public PlainSource {
public:
    // Opens and measures the input; fails, naming it, with the reason it cannot be read
    // (file_too_large beyond what a header can state, or beyond kMeasuredInputLimit when read
    // to measure).
    [[nodiscard]] Status Open(const std::filesystem::path& input);

    [[nodiscard]] std::uint64_t Size() const override;
    [[nodiscard]] Status Read(std::span<std::uint8_t> bytes) override;
    [[nodiscard]] Status Ended() override;
    [[nodiscard]] std::filesystem::path Path() const override { return file_.Path(); }

private:
    [[nodiscard]] Status ReadToMeasure();

    PlatformFile file_;
    FileIdentity opened_;
    bool fromMemory_ = false;  // read whole when opened (its size said nothing)
    std::vector<std::uint8_t> measured_;
    std::size_t offset_ = 0;
};

}  // namespace quorvane
