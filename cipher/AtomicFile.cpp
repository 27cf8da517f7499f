#include "cipher/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <system_error>
#include <utility>

namespace quorvane {

namespace {

constexpr int kNameAttempts = 32;
// Characters of the target's name kept in the temporary name (name limits are near 255).
constexpr std::size_t kMaxNamePart = 128;
// Written data is pushed towards the device in steps of this size while the file grows, so the
// flush before the rename does not wait for the whole file at once.
constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;

// A name nobody else is likely to pick: random bits from the system, a clock reading and a
// process-wide counter. Uniqueness itself comes from the exclusive creation; this only makes
// collisions (and retries) rare.
std::string UniqueSuffix() {
    static std::atomic<std::uint64_t> counter{0};
    std::uint64_t bits = 0;
    try {
        std::random_device device;
        bits = (std::uint64_t{device()} << 32) ^ device();
    } catch (...) {
        bits = 0;  // no system source of randomness: the clock and counter remain
    }
    bits ^= static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    bits ^= (counter.fetch_add(1) + 1) * 0x9E3779B97F4A7C15ull;
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 0; i < 16; ++i) {
        text[i] = kDigits[(bits >> (4 * i)) & 0xFu];
    }
    return text;
}

}  // namespace

AtomicFile::AtomicFile(std::filesystem::path target) : target_(std::move(target)) {}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        Discard();
    }
}

bool AtomicFile::Open() {
    std::error_code ec;
    // Replace what a link points to, not the link itself, as writing through it would.
    if (std::filesystem::is_symlink(target_, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (ec) {
            return false;
        }
        target_ = resolved;
    }
    const auto status = std::filesystem::status(target_, ec);
    if (std::filesystem::is_directory(status)) {
        return false;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        direct_ = true;
        return file_.OpenExisting(target_);
    }
    if (!target_.has_filename()) {
        return false;
    }
    const std::filesystem::path folder = target_.parent_path();
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // ".<name>.<16 hex digits>.tmp", built from the native name so no character is lost.
        // The name is shortened so that a target near the length limit still gets a temporary.
        std::filesystem::path name = ".";
        name += target_.filename().native().substr(0, kMaxNamePart);
        name += "." + UniqueSuffix() + ".tmp";
        std::filesystem::path candidate = folder / name;
        if (file_.CreateExclusive(candidate)) {
            temporary_ = std::move(candidate);
            return true;
        }
        // A missing folder or a denied one fails every time; only a taken name is worth retrying.
        if (std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
            continue;
        }
        return false;
    }
    return false;
}

bool AtomicFile::Write(std::span<const std::uint8_t> bytes) {
    if (failed_ || !file_.IsOpen()) {
        failed_ = true;
        return false;
    }
    if (!file_.Write(bytes)) {
        failed_ = true;
        return false;
    }
    written_ += bytes.size();
    if (!direct_ && written_ - flushed_ >= kWritebackStep) {
        file_.StartWriteback(flushed_, written_ - flushed_);
        flushed_ = written_;
    }
    return true;
}

bool AtomicFile::Commit() {
    if (failed_ || !file_.IsOpen()) {
        Discard();
        return false;
    }
    const bool synced = file_.Sync();
    const bool closed = file_.Close();
    if (!synced || !closed) {
        Discard();
        return false;
    }
    if (direct_) {
        committed_ = true;
        return true;
    }
    std::error_code ec;
    // Keep the permissions of a file being replaced (an owner-only file stays owner-only).
    const auto old = std::filesystem::status(target_, ec);
#ifndef _WIN32
    if (!ec && std::filesystem::is_regular_file(old)) {
        std::filesystem::permissions(temporary_, old.permissions(),
                                     std::filesystem::perm_options::replace, ec);
    }
#endif
    std::filesystem::rename(temporary_, target_, ec);
    if (ec) {
        Discard();
        return false;
    }
#ifdef _WIN32
    // Windows permissions are just the read-only attribute, and a read-only temporary file could
    // not be removed after a failed rename: the attribute goes on the target once it is in place.
    if (std::filesystem::is_regular_file(old)) {
        std::filesystem::permissions(target_, old.permissions(),
                                     std::filesystem::perm_options::replace, ec);
    }
#endif
    temporary_.clear();
    committed_ = true;
    return true;
}

void AtomicFile::Discard() {
    static_cast<void>(file_.Close());
    if (!temporary_.empty()) {
        std::error_code ec;
        std::filesystem::remove(temporary_, ec);
        temporary_.clear();
    }
    failed_ = true;
}

}  // namespace quorvane
