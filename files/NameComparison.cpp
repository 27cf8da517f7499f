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

}  // namespace

NameRules ProbeNameRules(const fs::path& folder) {
    NameRules rules;
    Probes probes(folder);
    if (!probes.Create(fs::path(u8"Q\u00E9"), {})) {
        return rules;
    }
    rules.ignoresCase = probes.Exists(fs::path(u8"q\u00E9"));
    rules.ignoresNormalisation = probes.Exists(fs::path(u8"Qe\u0301"));
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
    for (const std::size_t i : distinct) {
        if (const Status created = probes.Create(names[i], std::to_string(i));
            created || created.error().code() != std::errc::file_exists) {
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
    // Byte-equal names follow the first of them.
    for (std::size_t i = 0; i < same.size(); ++i) {
        same[i] = same[same[i]];
    }
    return same;
}

}  // namespace quorvane
