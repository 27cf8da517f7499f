#include "cipher/MeasuredInput.h"

#include <algorithm>
#include <array>

#include "cipher/EncodedHeader.h"

namespace quorvane {

Status MeasuredInput::Open(const std::filesystem::path& input) {
    if (Status opened = file_.OpenForReading(input); !opened) {
        return opened;
    }
    const Result<FileIdentity> identity = file_.Identify();
    if (!identity) {
        return identity.error();
    }
    opened_ = *identity;
    if (opened_.size / kGostBlockBytes >= kMaxBlockCount) {
        return Failure(std::make_error_code(std::errc::file_too_large), input);
    }
    // Size 0 says nothing about a pseudo-file's content: it is measured by reading it.
    fromMemory_ = opened_.size == 0;
    if (fromMemory_) {
        return ReadToMeasure();
    }
    file_.AdviseSequentialRead();
    return {};
}

std::uint64_t MeasuredInput::Size() const {
    return fromMemory_ ? measured_.size() : opened_.size;
}

Status MeasuredInput::Read(std::span<std::uint8_t> bytes) {
    if (!fromMemory_) {
        const Status read = file_.ReadExactly(bytes);
        // A file that shrinks while it is read fails the exact reads: changed, not zeros.
        if (!read && read.error().code() == MakeError(FileError::EndOfFile)) {
            return Failure(MakeError(FileError::Changed), read.error().path());
        }
        return read;
    }
    std::copy_n(measured_.begin() + static_cast<std::ptrdiff_t>(offset_), bytes.size(),
                bytes.begin());
    offset_ += bytes.size();
    return {};
}

Status MeasuredInput::Ended() {
    if (fromMemory_) {
        return {};
    }
    // After the last read the file must end where it was measured and be the same file with
    // the same size and times: a write meanwhile would otherwise be encoded in part.
    std::array<std::uint8_t, 1> beyond{};
    const Result<std::size_t> got = file_.ReadSome(beyond);
    if (!got) {
        return got.error();
    }
    const Result<FileIdentity> now = file_.Identify();
    if (!now) {
        return now.error();
    }
    if (*got > 0 || !(*now == opened_)) {
        return Failure(MakeError(FileError::Changed), file_.Path());
    }
    return {};
}

Status MeasuredInput::ReadToMeasure() {
    std::array<std::uint8_t, 64 << 10> chunk{};
    for (;;) {
        const Result<std::size_t> got = file_.ReadSome(chunk);
        if (!got) {
            return got.error();
        }
        if (*got == 0) {
            return {};
        }
        if (measured_.size() + *got > kMeasuredInputLimit) {
            return Failure(std::make_error_code(std::errc::file_too_large), file_.Path());
        }
        measured_.insert(measured_.end(), chunk.begin(),
                         chunk.begin() + static_cast<std::ptrdiff_t>(*got));
    }
}

}  // namespace quorvane
