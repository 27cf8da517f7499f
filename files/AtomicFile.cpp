#include "files/AtomicFile.h"

#include <atomic>
#include <csignal>
#include <string>
#include <utility>

#include "files/FileOperations.h"
#include "files/FileSystem.h"
#include "files/Reservation.h"
#include "files/TemporaryName.h"

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

// Whether a refused creation or rename is the file system refusing the name itself: FAT and
// exFAT hold none of : ? * " < > | \ and no dot or blank at the end of a name, and say so
// with EINVAL (the kernel's drivers), EPERM (fusefat) or ENOENT (exfat-fuse).
bool RefusedName(const std::filesystem::path& target, const std::error_code& error) {
    if (error != std::errc::invalid_argument && error != std::errc::operation_not_permitted &&
        error != std::errc::no_such_file_or_directory &&
        error != std::errc::illegal_byte_sequence) {
        return false;
    }
    const PathString name = target.filename().native();
    bool refusable =
        !name.empty() && (name.back() == PathChar{'.'} || name.back() == PathChar{' '});
    for (const PathChar c : name) {
        for (const char held : {':', '?', '*', '"', '<', '>', '|', '\\'}) {
            refusable = refusable || c == static_cast<PathChar>(held);
        }
    }
    std::error_code ignored;
    return refusable && (error != std::errc::no_such_file_or_directory ||
                         std::filesystem::is_directory(target.parent_path(), ignored));
}

// The reason to give for a failed creation or rename of `target`'s files.
std::error_code NameOrSystemError(const std::filesystem::path& target,
                                  const std::error_code& error) {
    return RefusedName(target, error) ? MakeError(FileError::NameNotHeld) : error;
}

}  // namespace

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
        const std::filesystem::path& path = it->path();
        if (ParseTemporaryName(path, id)) {
            if (id != self && !ProcessMayBeRunning(id) && DoRemoveUnlocked(path)) {
                removed.push_back(path);
            }
        } else if (ParseLeftoverName(path, LeftoverKind::ReservationNote, id)) {
            if (id != self && !ProcessMayBeRunning(id)) {
                for (std::filesystem::path& gone : RemoveStaleReservation(path)) {
                    removed.push_back(std::move(gone));
                }
            }
        } else if (ParseLeftoverName(path, LeftoverKind::Removal, id)) {
            // A removal that did not finish: the file may still hold its secret.
            if (id != self && !ProcessMayBeRunning(id) && DoRemoveLeftoverRemoval(path)) {
                removed.push_back(path);
            }
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
    : named_(target), target_(std::move(target)), mode_(mode), privacy_(privacy) {}

AtomicFile::~AtomicFile() {
    if (!committed_) {
        Discard();
    }
}

Failure AtomicFile::Fail(std::error_code error) {
    if (!failure_) {
        failure_ = Failure(error ? error : std::make_error_code(std::errc::io_error), named_);
    }
    failed_ = true;
    return *failure_;
}

Status AtomicFile::Open() {
    std::error_code ec;
    // Replace what a link points to, not the link itself, as writing through it would.
    if (std::filesystem::is_symlink(target_, ec)) {
        const auto resolved = std::filesystem::weakly_canonical(target_, ec);
        if (ec) {
            return Fail(ec);
        }
        target_ = resolved;
    }
    if (!target_.has_filename()) {
        return Fail(std::make_error_code(std::errc::is_a_directory));
    }
    // Left-overs first: a reservation an ended writer left at the target's name is not a file
    // that stands in the way.
    const std::filesystem::path folder = target_.parent_path();
    staleRemoved_ = RemoveStaleTemporaries(folder);
    largest_ = LargestFile(folder);
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
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::filesystem::path candidate = LeftoverName(target_, LeftoverKind::Temporary);
        // Registered before it exists, so a signal cannot fall between creation and entry.
        const int slot = RegisterTemporary(candidate);
        const Status created = DoCreateTemporary(file_, candidate);
        if (created) {
            // Locked at once: the lock is what tells a clean-up in another process that the
            // file is alive. Lost to such a clean-up before the lock: try another name.
            if (const Status locked = file_.LockExclusive(); !locked) {
                const std::error_code lockError = locked.error().code();
                static_cast<void>(file_.Close());
                UnregisterTemporary(slot);
                if (lockError == std::errc::resource_unavailable_try_again ||
                    lockError == std::errc::operation_would_block ||
                    lockError == std::errc::interrupted ||
                    lockError == std::errc::no_such_file_or_directory) {
                    continue;  // the clean-up that holds or removed it takes the name away
                }
                DoRemove(candidate);
                return Fail(lockError);
            }
            temporary_ = std::move(candidate);
            slot_ = slot;
            return {};
        }
        UnregisterTemporary(slot);
        // A missing folder or a denied one fails every time; only a taken name is worth retrying.
        if (created.error().code() == std::errc::file_exists) {
            continue;
        }
        return Fail(NameOrSystemError(target_, created.error().code()));
    }
    return Fail(std::make_error_code(std::errc::file_exists));
}

Status AtomicFile::Expect(std::uint64_t totalBytes) {
    if (failed_ || !file_.IsOpen()) {
        return Fail(std::make_error_code(std::errc::bad_file_descriptor));
    }
    if (largest_ && totalBytes > *largest_) {
        return Fail(MakeError(FileError::TooLargeForFileSystem));
    }
    return {};
}

Status AtomicFile::Write(std::span<const std::uint8_t> bytes) {
    if (failed_ || !file_.IsOpen()) {
        return Fail(std::make_error_code(std::errc::bad_file_descriptor));
    }
    // Refused before the file system fails it part-way.
    if (largest_ && bytes.size() > *largest_ - written_) {
        return Fail(MakeError(FileError::TooLargeForFileSystem));
    }
    if (const Status written = DoWrite(file_, temporary_, bytes); !written) {
        const std::error_code error = written.error().code();
        return Fail(error == std::errc::file_too_large && largest_
                        ? MakeError(FileError::TooLargeForFileSystem)
                        : error);
    }
    written_ += bytes.size();
    if (written_ - flushed_ >= kWritebackStep) {
        file_.StartWriteback(flushed_, written_ - flushed_);
        flushed_ = written_;
    }
    return {};
}

Status AtomicFile::Commit() {
    // Every step is checked, and the observer (tests) may fail any of them.
    const auto failed = [this](std::error_code error) {
        const Failure failure = Fail(error);
        Discard();
        return failure;
    };
    if (failed_ || !file_.IsOpen()) {
        return failed(std::make_error_code(std::errc::bad_file_descriptor));
    }
    if (const Status synced = DoSync(file_, temporary_); !synced) {
        return failed(synced.error().code());
    }
    std::error_code ec;
    const std::filesystem::file_status old = std::filesystem::status(target_, ec);
    const bool replacing =
        !ec && std::filesystem::is_regular_file(old) && mode_ == OutputMode::Replace;
    // A secret is always owner-only; a replaced file keeps its own permissions; a new file gets
    // the usual ones.
    if (const Status permitted = privacy_ == FilePrivacy::Normal && replacing
                                     ? file_.CopyPermissions(target_)
                                     : file_.SetPermissions(privacy_);
        !permitted) {
        return failed(permitted.error().code());
    }
    // A close can report a write the system could not carry out: the data is then not trusted.
    if (const Status closed = DoClose(file_, temporary_); !closed) {
        return failed(closed.error().code());
    }
    // Still locked (the lock outlives the close): no clean-up elsewhere can take the file now.
    if (const Status renamed = DoRename(temporary_, target_, mode_ == OutputMode::Replace);
        !renamed) {
        return failed(renamed.error().code());
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
    if (const Status synced = DoSyncFolder(target_.parent_path()); !synced) {
        failure_ = Failure(synced.error().code(), named_);
        return *failure_;
    }
    return {};
}

void AtomicFile::Discard() {
    static_cast<void>(file_.Close());
    if (!temporary_.empty()) {
        DoRemove(temporary_);
        temporary_.clear();
    }
    file_.ReleaseLock();
    UnregisterTemporary(slot_);
    slot_ = -1;
    failed_ = true;
}

}  // namespace quorvane
