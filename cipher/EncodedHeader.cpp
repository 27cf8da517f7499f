#include "cipher/EncodedHeader.h"

#include <algorithm>
#include <new>

#include "cipher/CipherError.h"

namespace quorvane {

namespace {

class HeaderErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.header"; }
    std::string message(int value) const override {
        switch (static_cast<HeaderError>(value)) {
            case HeaderError::MissingLineEnd:
                return "the header's line ends are damaged";
            case HeaderError::BadBlockCount:
                return "the header's block count is not a number";
            case HeaderError::BlockCountTooLarge:
                return "the header's block count is too large";
            case HeaderError::BadPadCount:
                return "the header's pad count is damaged";
        }
        return "the header is damaged";
    }
    // A damaged header is one way of not being an encoded file of the owner.
    std::error_condition default_error_condition(int) const noexcept override {
        return make_error_condition(CipherError::NotEncoded);
    }
};

}  // namespace

const std::error_category& HeaderErrorCategory() {
    static const HeaderErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(HeaderError error) {
    return std::error_code(static_cast<int>(error), HeaderErrorCategory());
}

bool IsHeaderSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsWritableMarker(std::string_view marker) {
    if (marker.empty() || marker.size() > kMaxMarkerLength) {
        return false;
    }
    return std::none_of(marker.begin(), marker.end(), [](char c) {
        return c == '\0' || IsHeaderSpace(static_cast<unsigned char>(c));
    });
}

std::string HeaderText(std::string_view marker, std::uint64_t blockCount, int padCount) {
    std::string text(marker);
    text += kHeaderSeparator;
    text += std::to_string(blockCount);
    text += kHeaderSeparator;
    text += std::to_string(padCount);
    text += kHeaderSeparator;
    return text;
}

std::size_t ReadHeaderToken(std::span<const std::uint8_t> bytes, std::string& token) {
    token.clear();
    std::size_t at = 0;
    while (at < bytes.size() && IsHeaderSpace(bytes[at])) {
        ++at;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !IsHeaderSpace(bytes[at])) {
        if (at - start == kMaxMarkerLength) {
            return 0;
        }
        ++at;
    }
    if (at == start) {
        return 0;
    }
    token.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return at;
}

std::error_code ParseHeader(std::span<const std::uint8_t> bytes, EncodedHeader& header) {
    std::size_t at = ReadHeaderToken(bytes, header.marker);
    if (at == 0) {
        return MakeError(HeaderError::MissingLineEnd);  // no marker: the caller refuses it
    }
    const auto lineEnd = [&] { return at < bytes.size() && bytes[at++] == kHeaderSeparator; };
    if (!lineEnd()) {
        return MakeError(HeaderError::MissingLineEnd);
    }
    std::uint64_t count = 0;
    std::size_t digits = 0;
    for (; at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9'; ++at) {
        if (++digits > kMaxCountDigits) {
            return MakeError(HeaderError::BlockCountTooLarge);
        }
        count = count * 10 + static_cast<std::uint64_t>(bytes[at] - '0');
        if (count > kMaxBlockCount) {
            return MakeError(HeaderError::BlockCountTooLarge);
        }
    }
    // Digits up to the line end, nothing else (no sign, no blank, no fraction).
    if (digits == 0 || !lineEnd()) {
        return MakeError(HeaderError::BadBlockCount);
    }
    if (at >= bytes.size() || bytes[at] < '0' || bytes[at] > '0' + kMaxPadCount) {
        return MakeError(HeaderError::BadPadCount);
    }
    const int pad = bytes[at++] - '0';
    if (!lineEnd()) {
        return MakeError(HeaderError::MissingLineEnd);
    }
    if (count == 0 && pad != 0) {
        return MakeError(HeaderError::BadPadCount);
    }
    header.blockCount = count;
    header.padCount = pad;
    header.length = at;
    return {};
}

Result<std::vector<std::uint8_t>> ReadPrefix(PlatformFile& file, std::uint64_t fileSize,
                                             std::size_t limit) {
    std::vector<std::uint8_t> prefix(
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, limit)));
    std::size_t got = 0;
    while (got < prefix.size()) {
        const Result<std::size_t> n = file.ReadSome(std::span(prefix).subspan(got));
        if (!n) {
            return n.error();
        }
        if (*n == 0) {
            break;
        }
        got += *n;
    }
    prefix.resize(got);
    return prefix;
}

bool ReadMarker(const std::filesystem::path& input, std::string& token) {
    token.clear();
    try {
        PlatformFile file;
        if (!file.OpenForReading(input)) {
            return false;
        }
        const Result<std::uint64_t> size = file.Size();
        const Result<std::vector<std::uint8_t>> prefix =
            size ? ReadPrefix(file, *size, kHeaderWindow) : size.error();
        return prefix && ReadHeaderToken(*prefix, token) != 0;
    } catch (const std::bad_alloc&) {  // the header window or the token
        token.clear();
        return false;
    }
}

}  // namespace quorvane
