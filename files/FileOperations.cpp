#include "files/FileOperations.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <utility>

#include "files/TemporaryName.h"

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

namespace {

// Why `path` is not renamed to be overwritten: it is missing, or no regular file (a link is
// never followed, a folder or device never emptied).
Status NotRemovableReason(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    switch (status.type()) {
        case std::filesystem::file_type::regular:
            return {};
        case std::filesystem::file_type::not_found:
            return Failure(std::make_error_code(std::errc::no_such_file_or_directory), path);
        case std::filesystem::file_type::symlink:
            return Failure(std::make_error_code(std::errc::too_many_symbolic_link_levels), path);
        case std::filesystem::file_type::directory:
            return Failure(std::make_error_code(std::errc::is_a_directory), path);
        default:
            return Failure(error ? error : MakeError(FileError::NotRegularFile), path);
    }
}

// Removes the overwritten file and flushes its folder.
Status RemoveAndSyncFolder(const std::filesystem::path& path) {
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

Status Overwrite(const std::filesystem::path& path) {
    if (Status overwritten = OverwriteWithZeros(path); !overwritten) {
        return overwritten;
    }
    return Note(FileOperation::Overwrite, path);
}

}  // namespace

Status DoOverwriteAndRemove(const std::filesystem::path& path) {
    if (Status refused = NotRemovableReason(path); !refused) {
        return refused;
    }
    // Moved aside first: where the name cannot go, nothing is destroyed.
    const std::filesystem::path aside = LeftoverName(path, LeftoverKind::Removal);
    if (Status renamed = RenameNoReplace(path, aside); !renamed) {
        // A rename by hard link whose second step failed leaves the removal name as a second
        // name of the file: that name goes, the file keeps its own.
        std::error_code ignored;
        if (std::filesystem::exists(std::filesystem::symlink_status(aside, ignored))) {
            std::filesystem::remove(aside, ignored);
        }
        return Failure(renamed.error().code(), path);
    }
    if (Status noted = Note(FileOperation::Rename, aside); !noted) {
        static_cast<void>(RenameNoReplace(aside, path));
        return noted;
    }
    if (Status overwritten = Overwrite(aside); !overwritten) {
        // The file gets its name back; where even that fails, the next clean-up finishes it.
        static_cast<void>(RenameNoReplace(aside, path));
        return Failure(overwritten.error().code(), path);
    }
    return RemoveAndSyncFolder(aside);
}

Status DoRemoveLeftoverRemoval(const std::filesystem::path& path) {
    // A removal name that is a second name of a file (see above) is only a name: the file's
    // content is not ours to overwrite.
    if (LinkCount(path).value_or(1) > 1) {
        std::error_code removed;
        std::filesystem::remove(path, removed);
        if (removed) {
            return Failure(removed, path);
        }
        return {};
    }
    if (Status overwritten = Overwrite(path); !overwritten) {
        return overwritten;
    }
    return RemoveAndSyncFolder(path);
}

bool DoRemoveUnlocked(const std::filesystem::path& path) {
    if (!RemoveUnlockedFile(path)) {
        return false;
    }
    static_cast<void>(Note(FileOperation::Remove, path));
    return true;
}

}  // namespace quorvane
