#include "speaker/UserList.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "speaker/ModelFile.h"
#include "speaker/SmallFile.h"

namespace quorvane {

namespace {

// Rows and components of each codebook that feed the key: the first eight filled
// codewords, and of each the first 21 of its 22 components.
constexpr std::int32_t kKeyRows = 8;
constexpr std::int32_t kKeyComponents = kCepstrumOrder - 1;
constexpr int kKeyWordRotation = 14;

// Largest key files read back; a real one is under 200 bytes.
constexpr std::uint64_t kMaxKeyFileBytes = 64 * 1024;

#ifdef _WIN32
constexpr std::string_view kLineEnd = "\r\n";
#else
constexpr std::string_view kLineEnd = "\n";
#endif

constexpr std::string_view kKeyFileNameLine = "Users name: ";
constexpr std::string_view kKeyFileKeyLine = "Your key:";

// White space as the first-token reader of speaker and encoded files sees it, and the
// control characters no file name may hold on the platforms the program runs on.
bool IsForbiddenNameByte(unsigned char c) {
    return c < 0x20 || c == ' ' || c == 0x7f ||
           kForbiddenNameSymbols.find(static_cast<char>(c)) != std::string_view::npos;
}

std::string_view Trim(std::string_view text) {
    const std::string_view blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

std::string SeveralFilesQuestion(std::int32_t fileCount) {
    return "Error. There were found " + std::to_string(fileCount) +
           " files representing this user (speaker).\nDo you want to delete them all?";
}

std::optional<std::string_view> CheckUserName(std::string_view name) {
    if (name.empty()) {
        return kEnterNameMessage;
    }
    for (const char c : name) {
        if (IsForbiddenNameByte(static_cast<unsigned char>(c))) {
            return kForbiddenSymbolsMessage;
        }
    }
    if (name.size() > kMaxUserNameLength) {
        return kNameTooLongMessage;
    }
    return std::nullopt;
}

std::optional<std::string_view> CheckNewUser(float trainedThreshold, std::string_view name,
                                             const UserList& users) {
    if (!(trainedThreshold > 0.0f)) {
        return kTrainingFirstMessage;
    }
    if (const auto problem = CheckUserName(name)) {
        return problem;
    }
    if (users.Find(name) != nullptr) {
        return kUserExistsMessage;
    }
    return std::nullopt;
}

const UserRecord* UserList::Find(std::string_view name) const {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [name](const UserRecord& r) { return r.name == name; });
    return found == records_.end() ? nullptr : &*found;
}

std::vector<std::string> UserList::Names() const {
    std::vector<std::string> names;
    names.reserve(records_.size());
    for (const UserRecord& record : records_) {
        names.push_back(record.name);
    }
    return names;
}

bool UserList::Remove(std::string_view name) {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [name](const UserRecord& r) { return r.name == name; });
    if (found == records_.end()) {
        return false;
    }
    records_.erase(found);
    return true;
}

std::int32_t UserList::Append(UserRecord record) {
    records_.push_back(std::move(record));
    return static_cast<std::int32_t>(records_.size());
}

std::int32_t AppendUser(UserList& users, std::span<const VoiceCodebook, 3> codebooks,
                        std::string_view name, float threshold) {
    UserRecord record;
    record.name = std::string(name);
    record.threshold = threshold;
    for (std::size_t i = 0; i < codebooks.size(); ++i) {
        const std::vector<float> rows = ExportCodewords(codebooks[i]);
        ImportCodewords(record.codebooks[i], rows, CountFilledCodewords(codebooks[i]),
                        codebooks[i].cepstrumOrder);
    }
    return users.Append(std::move(record));
}

// Why the multiplication is exact: the multiplier (k + 1) * kKeyWordStep + kKeyWordOffset
// is a whole number below 2^18 (at most 8 * 7919 + 104729 = 168081), and s[k] is a float32
// with a 24-bit significand. Their product needs at most 18 + 24 = 42 significant bits,
// which a double (53 bits) holds exactly, so the product is the exact real product on
// every IEEE platform, whatever the extended precision of the machine. The truncation of
// that exact value is then exact too. Products of 2^63 or more (only from absurd codeword
// values) and NaN give the integer 0x8000000000000000, whose low 32 bits are 0.
GostKey DeriveUserKey(std::span<const VoiceCodebook, 3> codebooks) {
    std::array<float, kKeyRows> sums{};
    for (const VoiceCodebook& codebook : codebooks) {
        if (CountFilledCodewords(codebook) < kKeyRows) {
            continue;
        }
        const std::vector<float> rows = ExportCodewords(codebook);
        const std::size_t stride = static_cast<std::size_t>(codebook.cepstrumOrder);
        const std::size_t components = std::min(static_cast<std::size_t>(kKeyComponents), stride);
        for (std::size_t r = 0; r < static_cast<std::size_t>(kKeyRows); ++r) {
            for (std::size_t i = 0; i < components; ++i) {
                const double root = std::sqrt(static_cast<double>(std::fabs(rows[r * stride + i])));
                // The root is taken in double, the running sum kept in float32.
                sums[r] = static_cast<float>(static_cast<double>(sums[r]) + root);
            }
        }
    }
    GostKey key{};
    for (std::size_t k = 0; k < key.size(); ++k) {
        const double multiplier = static_cast<double>(k + 1) * static_cast<double>(kKeyWordStep) +
                                  static_cast<double>(kKeyWordOffset);
        const double product = multiplier * static_cast<double>(sums[k]);
        constexpr double kTwoPow63 = 9223372036854775808.0;
        const std::int64_t whole = (std::fabs(product) < kTwoPow63)
                                       ? static_cast<std::int64_t>(product)
                                       : std::numeric_limits<std::int64_t>::min();
        const auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(whole));
        key[k] = std::rotl(low, kKeyWordRotation);
    }
    return key;
}

std::string FormatKeyFile(std::string_view name, const GostKey& key) {
    std::string text;
    text.append(kKeyFileNameLine).append(name).append(kLineEnd);
    text.append(kKeyFileKeyLine).append(kLineEnd);
    for (const std::uint32_t word : key) {
        text.append(std::to_string(static_cast<std::int32_t>(word))).append(kLineEnd);
    }
    return text;
}

bool WriteKeyFile(const std::filesystem::path& path, std::string_view name, const GostKey& key) {
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
    if (digits.empty() || digits.size() > 12 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::int64_t magnitude = 0;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size()) {
        return false;
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < std::numeric_limits<std::int32_t>::min() ||
        value > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
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
    std::vector<std::uint8_t> bytes;
    if (!ReadSmallFile(path, kMaxKeyFileBytes, bytes)) {
        return false;
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return ParseKeyFile(text, name, key);
}

}  // namespace quorvane
