#include "files/NameComparison.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "files/PlatformFile.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// The probes of one question, named ".<name>.<process>.<16 hex digits>.tmp" with one tag for
// all of them, so that two probes collide exactly when their names do; removed with the object.
class Probes final {
public:
    explicit Probes(fs::path folder) : folder_(std::move(folder)), tag_(Tag()) {}
    ~Probes() {
        for (const fs::path& probe : created_) {
            std::error_code ignored;
            fs::remove(probe, ignored);
        }
    }
    Probes(const Probes&) = delete;
    Probes& operator=(const Probes&) = delete;

    // Creates the probe of `name` holding `content`.
    Status Create(const fs::path& name, std::string_view content) {
        PlatformFile file;
        if (Status created = file.CreateExclusive(PathOf(name)); !created) {
            return created;
        }
        created_.push_back(PathOf(name));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(content.data());
        if (Status written = file.Write(std::span(bytes, content.size())); !written) {
            return written;
        }
        return file.Close();
    }
    // Whether the file system finds a probe under the name of `name`'s probe.
    [[nodiscard]] bool Exists(const fs::path& name) const {
        std::error_code error;
        return fs::exists(fs::symlink_status(PathOf(name), error));
    }
    // What the probe found under the name of `name`'s probe holds; nothing when unreadable.
    [[nodiscard]] std::optional<std::string> Read(const fs::path& name) const {
        PlatformFile file;
        std::array<std::uint8_t, 24> bytes{};
        if (!file.OpenForReading(PathOf(name))) {
            return std::nullopt;
        }
        const Result<std::size_t> count = file.ReadSome(bytes);
        if (!count) {
            return std::nullopt;
        }
        return std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(*count));
    }

private:
    [[nodiscard]] fs::path PathOf(const fs::path& name) const {
        fs::path leaf = ".";
        leaf += name.native();
        leaf += tag_;
        return folder_ / leaf;
    }
    // ".<process>.<16 hex digits>.tmp"
    static std::string Tag() {
        std::random_device random;
        const std::uint64_t bits = (std::uint64_t{random()} << 32) ^ random();
        static constexpr char kDigits[] = "0123456789abcdef";
        std::string hex(16, '0');
        for (std::size_t i = 0; i < hex.size(); ++i) {
            hex[i] = kDigits[(bits >> (4 * i)) & 0xFu];
        }
        return "." + std::to_string(CurrentProcessId()) + "." + hex + ".tmp";
    }

    fs::path folder_;
    std::string tag_;
    std::vector<fs::path> created_;
};

// The name with its ASCII letters in lower case: what every file system that ignores case
// takes for one name (the folding of other letters differs between them).
fs::path::string_type AsciiFolded(const fs::path& name) {
    fs::path::string_type text = name.native();
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<fs::path::value_type>(c - 'A' + 'a');
        }
    }
    return text;
}

}  // namespace

NameRules ProbeNameRules(const fs::path& folder) {
    Probes probes(folder);
    NameRules rules;
    // Letter case with ASCII letters, which every file system holds (fusefat refuses any other
    // character); normalisation with a probe of its own. A probe that cannot be made leaves its
    // question open, and the safe answer is taken: names are compared as if folded.
    rules.ignoresCase = !probes.Create(fs::path("Qz"), {}) || probes.Exists(fs::path("qZ"));
    rules.ignoresNormalisation =
        !probes.Create(fs::path(u8"\u00E9"), {}) || probes.Exists(fs::path(u8"e\u0301"));
    return rules;
}

std::vector<std::size_t> SameNames(const fs::path& folder, const std::vector<fs::path>& names) {
    std::vector<std::size_t> same(names.size());
    std::vector<std::size_t> distinct;  // the first of each run of byte-equal names
    std::unordered_map<fs::path::string_type, std::size_t> first;
    for (std::size_t i = 0; i < names.size(); ++i) {
        same[i] = first.try_emplace(names[i].native(), i).first->second;
        if (same[i] == i) {
            distinct.push_back(i);
        }
    }
    const NameRules rules = distinct.size() < 2 ? NameRules{} : ProbeNameRules(folder);
    if (!rules.ignoresCase && !rules.ignoresNormalisation) {
        return same;
    }
    Probes probes(folder);
    std::vector<bool> unasked(names.size(), false);  // its probe could not be made
    for (const std::size_t i : distinct) {
        const Status created = probes.Create(names[i], std::to_string(i));
        if (created) {
            continue;
        }
        if (created.error().code() != std::errc::file_exists) {
            unasked[i] = true;
            continue;
        }
        // The probe of an earlier name answers to this one: it holds that name's index.
        const std::optional<std::string> held = probes.Read(names[i]);
        std::size_t earlier = i;
        if (held &&
            std::from_chars(held->data(), held->data() + held->size(), earlier).ec == std::errc() &&
            earlier < i) {
            same[i] = same[earlier];
        }
    }
    // A name the file system could not be asked about (too long for a probe's name, a character
    // it refuses) is compared as if folded, so that the doubt refuses rather than replaces.
    if (rules.ignoresCase) {
        std::unordered_map<fs::path::string_type, std::size_t> folded;
        for (const std::size_t i : distinct) {
            const auto [found, added] = folded.try_emplace(AsciiFolded(names[i]), i);
            if (!added && same[i] == i && (unasked[i] || unasked[found->second])) {
                same[i] = same[found->second];
            }
        }
    }
    // Byte-equal names follow the first of them.
    for (std::size_t i = 0; i < same.size(); ++i) {
        same[i] = same[same[i]];
    }
    return same;
}

}  // namespace quorvane
