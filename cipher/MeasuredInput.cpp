#include "cipher/MeasuredInput.h"

#include <algorithm>
#include <array>

#include "cipher/EncodedHeader.h"

namespace quorvane {

CodingResult MeasuredInput::Open(const std::filesystem::path& input) {
    if (!file_.OpenForReading(input) || !file_.Identify(opened_)) {
        return MakeResult(CodingStatus::InputUnreadable, file_.Error());
    }
    if (opened_.size / kGostBlockBytes >= kMaxBlockCount) {
        return MakeResult(CodingStatus::InputUnreadable,
                          std::make_error_code(std::errc::file_too_large));
    }
    // Size 0 says nothing about a pseudo-file's content: it is measured by reading it.
    fromMemory_ = opened_.size == 0;
    if (fromMemory_) {
        std::error_code error;
        if (!ReadToMeasure(error)) {
            return MakeResult(CodingStatus::InputUnreadable, error);
        }
    } else {
        file_.AdviseSequentialRead();
    }
    return MakeResult(CodingStatus::Done);
}

std::uint64_t MeasuredInput::Size() const {
    return fromMemory_ ? measured_.size() : opened_.size;
}

bool MeasuredInput::Read(std::span<std::uint8_t> bytes) {
    if (!fromMemory_) {
        return file_.ReadExactly(bytes);
    }
    std::copy_n(measured_.begin() + static_cast<std::ptrdiff_t>(offset_), bytes.size(),
                bytes.begin());
    offset_ += bytes.size();
    return true;
}

std::error_code MeasuredInput::Error() const {
    // A file that shrinks while it is read fails the exact reads: changed, not zeros.
    const std::error_code error = file_.Error();
    return error == MakeError(FileError::EndOfFile) ? MakeError(FileError::Changed) : error;
}

std::error_code MeasuredInput::Ended() {
    if (fromMemory_) {
        return {};
    }
    // After the last read the file must end where it was measured and be the same file with
    // the same size and times: a write meanwhile would otherwise be encoded in part.
    std::array<std::uint8_t, 1> beyond{};
    const std::int64_t got = file_.ReadSome(beyond);
    if (got < 0) {
        return file_.Error();
    }
    FileIdentity now;
    if (!file_.Identify(now)) {
        return file_.Error();
    }
    return got > 0 || !(now == opened_) ? MakeError(FileError::Changed) : std::error_code();
}

bool MeasuredInput::ReadToMeasure(std::error_code& error) {
    std::array<std::uint8_t, 64 << 10> chunk{};
    for (;;) {
        const std::int64_t got = file_.ReadSome(chunk);
        if (got < 0) {
            error = file_.Error();
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (measured_.size() + static_cast<std::size_t>(got) > kMeasuredInputLimit) {
            error = std::make_error_code(std::errc::file_too_large);
            return false;
        }
        measured_.insert(measured_.end(), chunk.begin(), chunk.begin() + got);
    }
}

}  // namespace quorvane
