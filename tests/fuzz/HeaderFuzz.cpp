// Fuzzes the reading of an encoded file's header: ReadMarker, and the header check that
// DecodeToBuffer shares with DecodeFile, on arbitrary bytes in a file. A small reader of the
// header layout (cipher/EncodedFile.h), written here on its own, says what the program's
// readers must accept; they have to agree with it on every input.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "cipher/EncodedFile.h"
#include "tests/fuzz/FuzzSupport.h"

namespace quorvane::fuzz {
namespace {

// What a correct reader makes of a file.
struct ExpectedHeader {
    bool hasMarker = false;  // a first token of 1..kMaxMarkerLength bytes
    std::string marker;
    bool valid = false;  // a complete header with at least the promised cipher data
    std::uint64_t plainBytes = 0;
};

// White space of the C locale, which ends the first token.
bool IsBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

ExpectedHeader Expect(std::span<const std::uint8_t> bytes) {
    ExpectedHeader expected;
    std::size_t at = 0;
    while (at < bytes.size() && IsBlank(bytes[at])) {
        ++at;
    }
    const std::size_t tokenStart = at;
    while (at < bytes.size() && !IsBlank(bytes[at])) {
        ++at;
    }
    const std::size_t tokenLength = at - tokenStart;
    if (tokenLength == 0 || tokenLength > kMaxMarkerLength) {
        return expected;
    }
    expected.hasMarker = true;
    expected.marker.assign(bytes.begin() + static_cast<std::ptrdiff_t>(tokenStart),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at));
    const auto takeSeparator = [&] {
        return at < bytes.size() && bytes[at++] == static_cast<std::uint8_t>(kHeaderSeparator);
    };
    if (!takeSeparator()) {
        return expected;
    }
    // The block count: decimal digits of a 64-bit number (at most 20; leading zeros are read
    // as the original "%d" reader did). Any count beyond the file's length fails below, so
    // the value only needs to be exact up to that.
    const std::size_t digitsStart = at;
    std::uint64_t blockCount = 0;
    while (at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9') {
        blockCount = std::min<std::uint64_t>(blockCount * 10 + (bytes[at] - '0'), bytes.size());
        ++at;
    }
    const std::size_t digits = at - digitsStart;
    if (digits == 0 || digits > 20 || !takeSeparator()) {
        return expected;
    }
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '0' + kMaxPadCount) {
        return expected;
    }
    const int padCount = bytes[at++] - '0';
    if (!takeSeparator() || (blockCount == 0 && padCount != 0)) {
        return expected;
    }
    const std::uint64_t dataBytes = blockCount * kGostBlockBytes;
    expected.valid = bytes.size() - at >= dataBytes;
    expected.plainBytes = dataBytes - static_cast<std::uint64_t>(padCount);
    return expected;
}

}  // namespace
}  // namespace quorvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quorvane;
    using namespace quorvane::fuzz;
    const std::span<const std::uint8_t> bytes(data, size);
    const auto input = ScratchFolder() / "header.crp";
    WriteBytes(input, bytes);
    const ExpectedHeader expected = Expect(bytes);

    std::string marker = "unchanged";
    const bool markerRead = ReadMarker(input, marker);
    Require(markerRead == expected.hasMarker, "ReadMarker accepts exactly a first token");
    Require(marker == (expected.hasMarker ? expected.marker : std::string()),
            "ReadMarker gives the first token, or nothing");

    if (expected.hasMarker) {
        std::vector<std::uint8_t> plain(3, 0xAA);
        const int decoded =
            DecodeToBuffer(input, marker, kFuzzKey, FileSubstitutionTable, plain, size);
        Require(decoded == (expected.valid ? 1 : 0), "DecodeToBuffer accepts exactly a header");
        Require(plain.size() == (expected.valid ? expected.plainBytes : 0),
                "DecodeToBuffer gives the plain length the header states, or nothing");
        const int otherMarker =
            DecodeToBuffer(input, marker + "x", kFuzzKey, FileSubstitutionTable, plain, size);
        Require(otherMarker == 0 && plain.empty(), "another marker is refused");
        if (expected.valid && expected.plainBytes > 0) {
            const int overLimit = DecodeToBuffer(input, marker, kFuzzKey, FileSubstitutionTable,
                                                 plain, expected.plainBytes - 1);
            Require(overLimit == 0 && plain.empty(), "plain data over the limit is refused");
        }
    }
    std::filesystem::remove(input);
    return 0;
}
