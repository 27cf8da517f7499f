#pragma once

// The text header of an encoded file (the whole layout is in cipher/EncodedFile.h):
//
//   marker LF blockCount LF padCount LF
//
// Its writing, its strict reading, and the reasons a header is refused.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cipher/Gost.h"
#include "files/PlatformFile.h"

namespace quorvane {

inline constexpr char kHeaderSeparator = '\n';
inline constexpr std::size_t kMaxMarkerLength = 999;  // longest owner token a reader accepts
inline constexpr int kMaxPadCount = 7;
// Largest block count a header may state: the data length must fit a signed 64-bit file offset.
inline constexpr std::uint64_t kMaxBlockCount = std::uint64_t{1} << 59;
inline constexpr std::size_t kMaxCountDigits = 20;
// The header is parsed from the first bytes of the file: the longest header (999-byte marker,
// 20 digits) with room for leading white space.
inline constexpr std::size_t kHeaderWindow = std::size_t{64} << 10;

// Why a header whose marker was read is refused; each names the field at fault.
enum class HeaderError {
    MissingLineEnd = 1,  // no LF right after the marker, the block count or the pad count
    BadBlockCount,       // the block count is not plain decimal digits
    BlockCountTooLarge,  // the block count is beyond kMaxBlockCount
    BadPadCount,         // the pad count is not one digit 0..7, or not 0 with no blocks
};
[[nodiscard]] const std::error_category& HeaderErrorCategory();
[[nodiscard]] std::error_code MakeError(HeaderError error);

struct EncodedHeader {
    std::string marker;
    std::uint64_t blockCount = 0;
    int padCount = 0;
    std::size_t length = 0;  // bytes from the start of the file to the cipher data
    [[nodiscard]] std::uint64_t DataBytes() const { return blockCount * kGostBlockBytes; }
    [[nodiscard]] std::uint64_t PlainBytes() const {
        return DataBytes() - static_cast<std::uint64_t>(padCount);
    }
};

// White space as the header's reader has always understood it (the C locale's isspace).
[[nodiscard]] bool IsHeaderSpace(int c);

// A marker is written as one token and must read back as the same token: 1..999 bytes, no
// white space, no NUL.
[[nodiscard]] bool IsWritableMarker(std::string_view marker);

// The header text for a marker and a plain length in blocks.
[[nodiscard]] std::string HeaderText(std::string_view marker, std::uint64_t blockCount,
                                     int padCount);

// Reads the first token of `bytes` (leading white space skipped, then up to the next white space
// or the end) into token; the offset just after it. 0, token empty, when there is none or it is
// longer than kMaxMarkerLength.
[[nodiscard]] std::size_t ReadHeaderToken(std::span<const std::uint8_t> bytes, std::string& token);

// Parses "marker LF blockCount LF padCount LF" strictly from the start of `bytes`: plain decimal
// digits, no sign, no overflow, padCount 0..7 and 0 when there are no blocks. header.marker
// holds the marker whenever one was read (empty otherwise); the result is empty when the whole
// header parses, else the reason the rest was refused (empty marker: no reason needed, the
// caller tells a missing or different marker itself).
[[nodiscard]] std::error_code ParseHeader(std::span<const std::uint8_t> bytes,
                                          EncodedHeader& header);

// Reads up to `limit` bytes from the current position of an open file of fileSize bytes (fewer
// when it ends earlier).
[[nodiscard]] Result<std::vector<std::uint8_t>> ReadPrefix(PlatformFile& file,
                                                           std::uint64_t fileSize,
                                                           std::size_t limit);

// Reads the first white-space-delimited token of a file (leading white space skipped), as the
// owner's name of an encoded file is read. False when the file cannot be read, holds no token,
// or the token is longer than kMaxMarkerLength.
[[nodiscard]] bool ReadMarker(const std::filesystem::path& input, std::string& token);

}  // namespace quorvane
