#include "files/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <random>
#include <string>
#include <utility>

#include "files/FileOperations.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <stdio.h>
#include <stdlib.h>
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

// The line an interrupt (SIGINT) prints before the program ends with kInterruptedStatus;
// empty: the interrupt takes its default action like the other signals.
constexpr std::size_t kNoticeChars = 256;
char gInterruptNotice[kNoticeChars];
std::size_t gInterruptNoticeLength = 0;
constexpr int kInterruptedStatus = 130;  // 128 + SIGINT, as shells report an interrupted program
// A line without its end is open on the standard error (SetInterruptLineOpen).
volatile std::sig_atomic_t gLineOpen = 0;

extern "C" void TemporaryCleanupHandler(int signal) {
    UnlinkLiveTemporaries();
    if (signal == SIGINT && gInterruptNoticeLength > 0) {
#ifdef _WIN32
        if (gLineOpen != 0) {
            _write(2, "\n", 1);
        }
        _write(2, gInterruptNotice, static_cast<unsigned int>(gInterruptNoticeLength));
#else
        if (gLineOpen != 0) {
            static_cast<void>(::write(2, "\n", 1));
        }
        static_cast<void>(::write(2, gInterruptNotice, gInterruptNoticeLength));
#endif
        _exit(kInterruptedStatus);
    }
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
        // The writer's lock decides: a process identifier says nothing across process
        // namespaces (containers) and may be reused. The identifier only spares more: the files
        // of this process and of processes that may be running are left alone.
        std::uint64_t id = 0;
        if (!ParseTemporaryName(it->path(), id) || id == self || ProcessMayBeRunning(id)) {
            continue;
        }
        if (RemoveUnlockedFile(it->path())) {
            static_cast<void>(NoteFileOperation(FileOperation::Remove, it->path()));
            removed.push_back(it->path());
        }
    }
    return removed;
}

void SetInterruptLineOpen(bool open) {
    gLineOpen = open ? 1 : 0;
}

void InstallTemporaryCleanup(std::string_view interruptNotice) {
    gInterruptNoticeLength = 0;
    if (!interruptNotice.empty() && interruptNotice.size() < kNoticeChars) {
        interruptNotice.copy(gInterruptNotice, interruptNotice.size());
        gInterruptNotice[interruptNotice.size()] = '\n';
        gInterruptNoticeLength = interruptNotice.size() + 1;
    }
    // A signal ignored at start (nohup, a shell's background job) stays ignored.
#ifdef _WIN32
    for (const int signal : {SIGINT, SIGTERM}) {
        if (std::signal(signal, TemporaryCleanupHandler) == SIG_IGN) {
            std::signal(signal, SIG_IGN);
        }
    }
#else
    struct sigaction action {};
    action.sa_handler = TemporaryCleanupHandler;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
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
    // A pipe, a device or a socket is never written into, nor replaced: the output is always
    // a new file renamed into place.
    if (exists && !std::filesystem::is_regular_file(status)) {
        return Fail(MakeError(FileError::NotRegularFile));
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
            // Locked at once: the lock is what tells a clean-up in another process that the
            // file is alive. Lost to such a clean-up before the lock: try another name.
            if (!file_.LockExclusive()) {
                const std::error_code lockError = file_.Error();
                static_cast<void>(file_.Close());
                UnregisterTemporary(slot);
                if (lockError == std::errc::resource_unavailable_try_again ||
                    lockError == std::errc::operation_would_block ||
                    lockError == std::errc::interrupted ||
                    lockError == std::errc::no_such_file_or_directory) {
                    continue;  // the clean-up that holds or removed it takes the name away
                }
                std::filesystem::remove(candidate, ec);
                return Fail(lockError);
            }
            temporary_ = std::move(candidate);
            slot_ = slot;
            if (const std::error_code noted =
                    NoteFileOperation(FileOperation::CreateTemporary, temporary_)) {
                return Fail(noted);
            }
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
    if (const std::error_code noted = NoteFileOperation(FileOperation::Write, temporary_)) {
        return Fail(noted);
    }
    written_ += bytes.size();
    if (written_ - flushed_ >= kWritebackStep) {
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
    // Every step is checked, and the observer (tests) may fail any of them.
    const auto failed = [this](std::error_code error) {
        Fail(error);
        Discard();
        return false;
    };
    if (!file_.Sync()) {
        return failed(file_.Error());
    }
    if (const std::error_code noted = NoteFileOperation(FileOperation::SyncFile, temporary_)) {
        return failed(noted);
    }
    std::error_code ec;
    const std::filesystem::file_status old = std::filesystem::status(target_, ec);
    const bool replacing =
        !ec && std::filesystem::is_regular_file(old) && mode_ == OutputMode::Replace;
    // A secret is always owner-only; a replaced file keeps its own permissions; a new file gets
    // the usual ones.
    const bool permitted = privacy_ == FilePrivacy::Normal && replacing
                               ? file_.CopyPermissions(target_)
                               : file_.SetPermissions(privacy_);
    if (!permitted) {
        return failed(file_.Error());
    }
    // A close can report a write the system could not carry out: the data is then not trusted.
    if (!file_.Close()) {
        return failed(file_.Error());
    }
    if (const std::error_code noted = NoteFileOperation(FileOperation::Close, temporary_)) {
        return failed(noted);
    }
    // Still locked (the lock outlives the close): no clean-up elsewhere can take the file now.
    const std::error_code renamed = mode_ == OutputMode::NoReplace
                                        ? RenameNoReplace(temporary_, target_)
                                        : RenameReplace(temporary_, target_);
    if (renamed) {
        return failed(renamed);
    }
    UnregisterTemporary(slot_);
    slot_ = -1;
    temporary_.clear();
    file_.ReleaseLock();
    committed_ = true;
#ifdef _WIN32
    // Windows permissions are just the read-only attribute, and a read-only temporary file could
    // not be removed after a failed rename: the attribute goes on the target once it is in place.
    if (replacing && privacy_ == FilePrivacy::Normal) {
        std::filesystem::permissions(target_, old.permissions(),
                                     std::filesystem::perm_options::replace, ec);
    }
#endif
    // The new name reaches the device before Commit returns, so a caller may delete the source
    // of this file afterwards. Should it fail, the new content is in place but may not survive
    // a power loss: the commit reports the failure so that nothing is deleted on its strength.
    std::error_code synced = NoteFileOperation(FileOperation::Rename, target_);
    if (!synced) {
        synced = SyncFolder(target_.parent_path());
    }
    if (!synced) {
        synced = NoteFileOperation(FileOperation::SyncFolder, target_.parent_path());
    }
    if (synced) {
        error_ = synced;
        return false;
    }
    return true;
}

void AtomicFile::Discard() {
    static_cast<void>(file_.Close());
    if (!temporary_.empty()) {
        std::error_code ec;
        if (std::filesystem::remove(temporary_, ec)) {
            static_cast<void>(NoteFileOperation(FileOperation::Remove, temporary_));
        }
        temporary_.clear();
    }
    file_.ReleaseLock();
    UnregisterTemporary(slot_);
    slot_ = -1;
    failed_ = true;
}

}  // namespace quorvane
