#include "speaker/KeyFile.h"

#include <array>
#include <limits>
#include <span>
#include <utility>
#include <vector>

#include "files/SmallFile.h"

namespace quorvane {

namespace {

// Largest key files read back; a real one is under 200 bytes.
constexpr std::uint64_t kMaxKeyFileBytes = 64 * 1024;

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

constexpr std::string_view kKeyFileNameLine = "Users name: ";
constexpr std::string_view kKeyFileKeyLine = "Your key:";

// The UTF-8 forms of the Unicode blanks a pasted number may carry: no-break space,
// next line, ogham space, the en quad to hair space range, line and paragraph
// separators, narrow no-break space, medium mathematical space, ideographic space
// and the zero-width no-break space (byte order mark).
constexpr std::array<std::string_view, 20> kUnicodeBlanks = {
    "\xC2\xA0",     "\xC2\x85",     "\xE1\x9A\x80", "\xE2\x80\x80", "\xE2\x80\x81",
    "\xE2\x80\x82", "\xE2\x80\x83", "\xE2\x80\x84", "\xE2\x80\x85", "\xE2\x80\x86",
    "\xE2\x80\x87", "\xE2\x80\x88", "\xE2\x80\x89", "\xE2\x80\x8A", "\xE2\x80\xA8",
    "\xE2\x80\xA9", "\xE2\x80\xAF", "\xE2\x81\x9F", "\xE3\x80\x80", "\xEF\xBB\xBF"};

bool IsAsciiBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Removes the blanks (ASCII white space and kUnicodeBlanks) at both ends.
std::string_view Trim(std::string_view text) {
    bool changed = true;
    while (changed && !text.empty()) {
        changed = false;
        if (IsAsciiBlank(text.front())) {
            text.remove_prefix(1);
            changed = true;
        } else if (IsAsciiBlank(text.back())) {
            text.remove_suffix(1);
            changed = true;
        }
        for (const std::string_view blank : kUnicodeBlanks) {
            if (text.starts_with(blank)) {
                text.remove_prefix(blank.size());
                changed = true;
            }
            if (text.ends_with(blank)) {
                text.remove_suffix(blank.size());
                changed = true;
            }
        }
    }
    return text;
}

}  // namespace

std::string FormatKeyFile(std::string_view name, const GostKey& key) {
    std::string text;
    text.append(kKeyFileNameLine).append(name).append(kLineEnd);
    text.append(kKeyFileKeyLine).append(kLineEnd);
    for (const std::uint32_t word : key) {
        text.append(std::to_string(static_cast<std::int32_t>(word))).append(kLineEnd);
    }
    return text;
}

Status WriteKeyFile(const std::filesystem::path& path, std::string_view name, const GostKey& key) {
    const std::string text = FormatKeyFile(name, key);
    const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
    return WriteFileAtomically(path, std::span<const std::uint8_t>(data, text.size()), true);
}

bool ParseKeyWord(std::string_view text, std::uint32_t& word) {
    std::string_view digits = Trim(text);
    bool negative = false;
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) {
        negative = digits.front() == '-';
        digits.remove_prefix(1);
    }
    if (digits.empty()) {
        return false;
    }
    // Accumulated digit by digit with a bound, so any number of leading zeros is read and
    // any overlong number refused.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > kLimit) {
            return false;
        }
    }
    if (!negative && magnitude == kLimit) {
        return false;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    word = static_cast<std::uint32_t>(static_cast<std::int32_t>(value));
    return true;
}

bool ParseKeyFile(std::string_view text, std::string& name, GostKey& key) {
    std::string foundName;
    GostKey words{};
    std::size_t wordCount = 0;
    bool headingsDone = false;
    while (!text.empty() && wordCount < words.size()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = Trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty()) {
            continue;
        }
        if (!headingsDone && wordCount == 0) {
            if (line.starts_with(Trim(kKeyFileNameLine)) && foundName.empty()) {
                foundName = std::string(Trim(line.substr(Trim(kKeyFileNameLine).size())));
                continue;
            }
            if (line == kKeyFileKeyLine) {
                headingsDone = true;
                continue;
            }
        }
        if (!ParseKeyWord(line, words[wordCount])) {
            return false;
        }
        ++wordCount;
    }
    if (wordCount != words.size()) {
        return false;
    }
    name = std::move(foundName);
    key = words;
    return true;
}

bool ReadKeyFile(const std::filesystem::path& path, std::string& name, GostKey& key) {
    const Result<std::vector<std::uint8_t>> bytes = ReadSmallFile(path, kMaxKeyFileBytes);
    if (!bytes) {
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes->data()), bytes->size());
    return ParseKeyFile(text, name, key);
}

}  // namespace quorvane
