#include "files/TemporaryName.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <random>
#include <string_view>

#include "files/PlatformFile.h"

namespace quorvane {

namespace {

using PathChar = std::filesystem::path::value_type;
using PathString = std::filesystem::path::string_type;

// Characters of the target's name kept in the name (name limits are near 255).
constexpr std::size_t kMaxNamePart = 128;
constexpr std::size_t kSuffixDigits = 16;
constexpr std::size_t kKindChars = 4;  // ".tmp", ".rsv", ".del"

PathString KindText(LeftoverKind kind) {
    switch (kind) {
        case LeftoverKind::Temporary:
            return PathString{'.', 't', 'm', 'p'};
        case LeftoverKind::ReservationNote:
            return PathString{'.', 'r', 's', 'v'};
        case LeftoverKind::Removal:
            break;
    }
    return PathString{'.', 'd', 'e', 'l'};
}

// A name nobody else is likely to pick: random bits from the system, a clock reading and a
// process-wide counter. Uniqueness itself comes from the exclusive creation; this only makes
// collisions (and retries) rare.
std::string UniqueSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t bits = 0;
    try {
        std::random_device device;
        bits = (std::uint64_t{device()} << 32) ^ device();
    } catch (const std::exception&) {
        bits = 0;  // no system source of randomness: the clock and counter remain
    }
    bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    bits ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(kSuffixDigits, '0');
    for (std::size_t i = 0; i < kSuffixDigits; ++i) {
        text[i] = kDigits[(bits >> (4 * i)) & 0xFu];
    }
    return text;
}

bool IsHexDigit(PathChar c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}

}  // namespace

std::filesystem::path LeftoverName(const std::filesystem::path& target, LeftoverKind kind) {
    // Built from the native name so no character is lost; shortened so that a target near
    // the length limit still gets one.
    std::filesystem::path name = ".";
    name += target.filename().native().substr(0, kMaxNamePart);
    name += "." + std::to_string(CurrentProcessId()) + "." + UniqueSuffix();
    name += KindText(kind);
    return target.parent_path() / name;
}

bool ParseLeftoverName(const std::filesystem::path& name, LeftoverKind kind,
                       std::uint64_t& processId) {
    // ".<name>.<pid>.<16 hex>.tmp"
    const PathString text = name.filename().native();
    static constexpr std::size_t kTail = 1 + kSuffixDigits + kKindChars;  // ".<hex>.tmp"
    if (text.size() < 1 + 1 + 1 + 1 + kTail || text[0] != '.') {
        return false;
    }
    const std::size_t tail = text.size() - kTail;
    if (text[tail] != '.' ||
        text.compare(text.size() - kKindChars, kKindChars, KindText(kind)) != 0) {
        return false;
    }
    for (std::size_t i = tail + 1; i < tail + 1 + kSuffixDigits; ++i) {
        if (!IsHexDigit(text[i])) {
            return false;
        }
    }
    std::size_t dot = tail;
    std::uint64_t id = 0;
    std::size_t digits = 0;
    while (dot > 1 && text[dot - 1] >= '0' && text[dot - 1] <= '9') {
        --dot;
        ++digits;
    }
    if (digits == 0 || digits > 10 || dot < 2 || text[dot - 1] != '.') {
        return false;
    }
    for (std::size_t i = dot; i < tail; ++i) {
        id = id * 10 + static_cast<std::uint64_t>(text[i] - '0');
    }
    processId = id;
    return true;
}

bool IsLeftoverOf(const std::filesystem::path& leftover, const std::filesystem::path& target,
                  LeftoverKind kind) {
    std::uint64_t id = 0;
    if (leftover.parent_path() != target.parent_path() || !ParseLeftoverName(leftover, kind, id)) {
        return false;
    }
    // ".<name>.<pid>.<16 hex>" + kind: what follows the name is the process and the digits.
    PathString prefix{'.'};
    prefix += target.filename().native().substr(0, kMaxNamePart);
    const PathString text = leftover.filename().native();
    const std::size_t tail = std::to_string(id).size() + 1 + kSuffixDigits + kKindChars;
    return text.size() == prefix.size() + 1 + tail && text.starts_with(prefix) &&
           text[prefix.size()] == '.';
}

bool ParseTemporaryName(const std::filesystem::path& name, std::uint64_t& processId) {
    return ParseLeftoverName(name, LeftoverKind::Temporary, processId);
}

}  // namespace quorvane
