#include "files/FileOperations.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

namespace quorvane {

namespace {

std::mutex gObserverMutex;
std::shared_ptr<const FileOperationObserver> gObserver;
std::atomic<bool> gReservationForced{false};

// Tells the observer, if any, of a step the system carried out; its answer, as a failure of
// the step at `path`.
Status Note(FileOperation operation, const std::filesystem::path& path) {
    std::shared_ptr<const FileOperationObserver> observer;
    {
        const std::lock_guard<std::mutex> lock(gObserverMutex);
        observer = gObserver;
    }
    if (const std::error_code refused =
            observer ? (*observer)(operation, path) : std::error_code()) {
        return Failure(refused, path);
    }
    return {};
}

// An exclusive creation the observer may fail: the file is then closed and removed again.
Status Create(PlatformFile& file, const std::filesystem::path& path, FileOperation operation) {
    if (Status created = file.CreateExclusive(path); !created) {
        return created;
    }
    Status noted = Note(operation, path);
    if (!noted) {
        static_cast<void>(file.Close());
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    return noted;
}

}  // namespace

void SetFileOperationObserver(FileOperationObserver observer) {
    auto shared =
        observer ? std::make_shared<const FileOperationObserver>(std::move(observer)) : nullptr;
    const std::lock_guard<std::mutex> lock(gObserverMutex);
    gObserver = std::move(shared);
}

void ForceRenameByReservation(bool forced) {
    gReservationForced.store(forced);
}

bool RenameByReservationForced() {
    return gReservationForced.load();
}

Status DoCreateTemporary(PlatformFile& file, const std::filesystem::path& path) {
    return Create(file, path, FileOperation::CreateTemporary);
}

Status DoReserve(PlatformFile& file, const std::filesystem::path& target) {
    return Create(file, target, FileOperation::Reserve);
}

Status DoWrite(PlatformFile& file, const std::filesystem::path& path,
               std::span<const std::uint8_t> bytes) {
    if (Status written = file.Write(bytes); !written) {
        return written;
    }
    return Note(FileOperation::Write, path);
}

Status DoSync(PlatformFile& file, const std::filesystem::path& path) {
    if (Status synced = file.Sync(); !synced) {
        return synced;
    }
    return Note(FileOperation::SyncFile, path);
}

Status DoClose(PlatformFile& file, const std::filesystem::path& path) {
    if (Status closed = file.Close(); !closed) {
        return closed;
    }
    return Note(FileOperation::Close, path);
}

Status DoRename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace) {
    if (Status renamed = replace ? RenameReplace(from, to) : RenameNoReplace(from, to); !renamed) {
        return renamed;
    }
    return Note(FileOperation::Rename, to);
}

Status DoSyncFolder(const std::filesystem::path& folder) {
    if (Status synced = SyncFolder(folder); !synced) {
        return synced;
    }
    return Note(FileOperation::SyncFolder, folder);
}

bool DoRemove(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::remove(path, error)) {
        return false;
    }
    static_cast<void>(Note(FileOperation::Remove, path));
    return true;
}

Status DoOverwriteAndRemove(const std::filesystem::path& path) {
    if (Status overwritten = OverwriteWithZeros(path); !overwritten) {
        return overwritten;
    }
    if (Status noted = Note(FileOperation::Overwrite, path); !noted) {
        return noted;
    }
    std::error_code error;
    if (!std::filesystem::remove(path, error)) {
        return Failure(error ? error : std::make_error_code(std::errc::no_such_file_or_directory),
                       path);
    }
    if (Status noted = Note(FileOperation::Remove, path); !noted) {
        return noted;
    }
    return DoSyncFolder(path.parent_path().empty() ? std::filesystem::path(".")
                                                   : path.parent_path());
}

bool DoRemoveUnlocked(const std::filesystem::path& path) {
    if (!RemoveUnlockedFile(path)) {
        return false;
    }
    static_cast<void>(Note(FileOperation::Remove, path));
    return true;
}

}  // namespace quorvane
