#include "files/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <utility>

#ifdef _WIN32
#include <io.h>
#include <stdio.h>
#else
#include <unistd.h>
#endif

namespace quorvane {

namespace {

using PathChar = std::filesystem::path::value_type;
using PathString = std::filesystem::path::string_type;

constexpr int kNameAttempts = 32;
// Characters of the target's name kept in the temporary name (name limits are near 255).
constexpr std::size_t kMaxNamePart = 128;
constexpr std::size_t kSuffixDigits = 16;
// Written data is pushed towards the device in steps of this size while the file grows, so the
// flush before the rename does not wait for the whole file at once.
constexpr std::uint64_t kWritebackStep = std::uint64_t{8} << 20;

// The registry of live temporary files. Fixed storage, so that a signal handler can walk it
// with no allocation and no lock: a slot is Free, Filling (being written by its owner) or Live.
constexpr int kRegistrySlots = 64;
constexpr std::size_t kRegistryPathChars = 4096;
enum SlotState : int { kFree = 0, kFilling = 1, kLive = 2 };
struct RegistrySlot {
    std::atomic<int> state{kFree};
    PathChar path[kRegistryPathChars];
};
RegistrySlot gRegistry[kRegistrySlots];

int RegisterTemporary(const std::filesystem::path& path) {
    const PathString& text = path.native();
    if (text.size() >= kRegistryPathChars) {
        return -1;
    }
    for (int i = 0; i < kRegistrySlots; ++i) {
        int expected = kFree;
        if (gRegistry[i].state.compare_exchange_strong(expected, kFilling)) {
            text.copy(gRegistry[i].path, text.size());
            gRegistry[i].path[text.size()] = PathChar{0};
            gRegistry[i].state.store(kLive);
            return i;
        }
    }
    return -1;  // more live files than slots: this one is still removed on every failure path
}

void UnregisterTemporary(int slot) {
    if (slot >= 0) {
        gRegistry[slot].state.store(kFree);
    }
}

// Async-signal-safe: only atomics and unlink.
void UnlinkLiveTemporaries() {
    for (auto& slot : gRegistry) {
        if (slot.state.load() == kLive) {
#ifdef _WIN32
            _wunlink(slot.path);
#else
            ::unlink(slot.path);
#endif
        }
    }
}

extern "C" void TemporaryCleanupHandler(int signal) {
    UnlinkLiveTemporaries();
    // The signal is blocked while its handler runs; it is delivered again, now with its
    // default action, as soon as the handler returns.
    std::signal(signal, SIG_DFL);
    std::raise(signal);
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
    } catch (...) {
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

bool ParseTemporaryName(const std::filesystem::path& name, std::uint64_t& processId) {
    // ".<name>.<pid>.<16 hex>.tmp"
    const PathString text = name.filename().native();
    static constexpr std::size_t kTail = 1 + kSuffixDigits + 4;  // ".<hex>.tmp"
    if (text.size() < 1 + 1 + 1 + 1 + kTail || text[0] != '.') {
        return false;
    }
    const std::size_t tail = text.size() - kTail;
    if (text[tail] != '.' ||
        text.compare(text.size() - 4, 4, PathString{'.', 't', 'm', 'p'}) != 0) {
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

std::vector<std::filesystem::path> RemoveStaleTemporaries(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> removed;
    std::error_code ec;
    const std::filesystem::path where = folder.empty() ? std::filesystem::path(".") : folder;
    std::filesystem::directory_iterator it(where, ec);
    if (ec) {
        return removed;
    }
    const std::uint64_t self = CurrentProcessId();
    for (; it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        std::uint64_t id = 0;
        if (!ParseTemporaryName(it->path(), id) || id == self || ProcessMayBeRunning(id)) {
            continue;
        }
        std::error_code typeError;
        if (!it->is_regular_file(typeError) || it->is_symlink(typeError)) {
            continue;
        }
        std::error_code removeError;
        if (std::filesystem::remove(it->path(), removeError)) {
            removed.push_back(it->path());
        }
    }
    return removed;
}

void InstallTemporaryCleanup() {
#ifdef _WIN32
    std::signal(SIGINT, TemporaryCleanupHandler);
    std::signal(SIGTERM, TemporaryCleanupHandler);
#else
    struct sigaction action {};
    action.sa_handler = TemporaryCleanupHandler;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
#endif
}

void RemoveLiveTemporaries() {
    UnlinkLiveTemporaries();
}

AtomicFile::AtomicFile(std::filesystem::path target, OutputMode mode, FilePrivacy privacy)
    : target_(std::move(target)), mode_(mode), privacy_(privacy) {}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        Discard();
    }
}

bool AtomicFile::Fail(std::error_code error) {
    if (!error_) {
        error_ = error ? error : std::make_error_code(std::errc::io_error);
    }
    failed_ = true;
    return false;
}

bool AtomicFile::Open() {
    std::error_code ec;
    // Replace what a link points to, not the link itself, as writing through it would.
    if (std::filesystem::is_symlink(target_, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (ec) {
            return Fail(ec);
        }
        target_ = resolved;
    }
    const auto status = std::filesystem::status(target_, ec);
    if (std::filesystem::is_directory(status)) {
        return Fail(std::make_error_code(std::errc::is_a_directory));
    }
    const bool exists = std::filesystem::exists(status);
    if (exists && mode_ == OutputMode::NoReplace) {
        return Fail(std::make_error_code(std::errc::file_exists));
    }
    if (exists && !std::filesystem::is_regular_file(status)) {
        direct_ = true;
        if (!file_.OpenExisting(target_)) {
            return Fail(file_.Error());
        }
        return true;
    }
    if (!target_.has_filename()) {
        return Fail(std::make_error_code(std::errc::is_a_directory));
    }
    const std::filesystem::path folder = target_.parent_path();
    staleRemoved_ = RemoveStaleTemporaries(folder);
    const std::string process = std::to_string(CurrentProcessId());
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        // Built from the native name so no character is lost; shortened so that a target near
        // the length limit still gets a temporary.
        std::filesystem::path name = ".";
        name += target_.filename().native().substr(0, kMaxNamePart);
        name += "." + process + "." + UniqueSuffix() + ".tmp";
        std::filesystem::path candidate = folder / name;
        // Registered before it exists, so a signal cannot fall between creation and entry.
        const int slot = RegisterTemporary(candidate);
        if (file_.CreateExclusive(candidate)) {
            temporary_ = std::move(candidate);
            slot_ = slot;
            return true;
        }
        UnregisterTemporary(slot);
        // A missing folder or a denied one fails every time; only a taken name is worth retrying.
        if (std::filesystem::exists(std::filesystem::symlink_status(candidate, ec))) {
            continue;
        }
        return Fail(file_.Error());
    }
    return Fail(std::make_error_code(std::errc::file_exists));
}

bool AtomicFile::Write(std::span<const std::uint8_t> bytes) {
    if (failed_ || !file_.IsOpen()) {
        return Fail(std::make_error_code(std::errc::bad_file_descriptor));
    }
    if (!file_.Write(bytes)) {
        return Fail(file_.Error());
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
        Fail(std::make_error_code(std::errc::bad_file_descriptor));
        Discard();
        return false;
    }
    if (!file_.Sync()) {
        Fail(file_.Error());
        Discard();
        return false;
    }
    std::filesystem::file_status old;
    bool replacing = false;
    if (!direct_) {
        std::error_code ec;
        old = std::filesystem::status(target_, ec);
        replacing = !ec && std::filesystem::is_regular_file(old) && mode_ == OutputMode::Replace;
        // A secret is always owner-only; a replaced file keeps its own permissions; a new file
        // gets the usual ones.
        bool permitted = true;
        if (privacy_ == FilePrivacy::Normal && !ec && std::filesystem::is_regular_file(old) &&
            mode_ == OutputMode::Replace) {
            permitted = file_.CopyPermissions(target_);
        } else {
            permitted = file_.SetPermissions(privacy_);
        }
        if (!permitted) {
            Fail(file_.Error());
            Discard();
            return false;
        }
    }
    if (!file_.Close()) {
        Fail(file_.Error());
        Discard();
        return false;
    }
    if (direct_) {
        committed_ = true;
        return true;
    }
    const std::error_code renamed = mode_ == OutputMode::NoReplace
                                        ? RenameNoReplace(temporary_, target_)
                                        : RenameReplace(temporary_, target_);
    if (renamed) {
        Fail(renamed);
        Discard();
        return false;
    }
    UnregisterTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
#ifdef _WIN32
    // Windows permissions are just the read-only attribute, and a read-only temporary file could
    // not be removed after a failed rename: the attribute goes on the target once it is in place.
    if (replacing && privacy_ == FilePrivacy::Normal) {
        std::error_code ec;
        std::filesystem::permissions(target_, old.permissions(),
                                     std::filesystem::perm_options::replace, ec);
    }
#else
    static_cast<void>(replacing);
#endif
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
    UnregisterTemporary(slot_);
    slot_ = -1;
    failed_ = true;
}

}  // namespace quorvane
