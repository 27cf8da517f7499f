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

// Tells the observer, if any, of a step the system carried out; its answer.
std::error_code Note(FileOperation operation, const std::filesystem::path& path) {
    std::shared_ptr<const FileOperationObserver> observer;
    {
        const std::lock_guard<std::mutex> lock(gObserverMutex);
        observer = gObserver;
    }
    return observer ? (*observer)(operation, path) : std::error_code();
}

// An exclusive creation the observer may fail: the file is then closed and removed again.
std::error_code Create(PlatformFile& file, const std::filesystem::path& path,
                       FileOperation operation) {
    if (!file.CreateExclusive(path)) {
        return file.Error();
    }
    const std::error_code noted = Note(operation, path);
    if (noted) {
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

std::error_code DoCreateTemporary(PlatformFile& file, const std::filesystem::path& path) {
    return Create(file, path, FileOperation::CreateTemporary);
}

std::error_code DoReserve(PlatformFile& file, const std::filesystem::path& target) {
    return Create(file, target, FileOperation::Reserve);
}

std::error_code DoWrite(PlatformFile& file, const std::filesystem::path& path,
                        std::span<const std::uint8_t> bytes) {
    if (!file.Write(bytes)) {
        return file.Error();
    }
    return Note(FileOperation::Write, path);
}

std::error_code DoSync(PlatformFile& file, const std::filesystem::path& path) {
    if (!file.Sync()) {
        return file.Error();
    }
    return Note(FileOperation::SyncFile, path);
}

std::error_code DoClose(PlatformFile& file, const std::filesystem::path& path) {
    if (!file.Close()) {
        return file.Error();
    }
    return Note(FileOperation::Close, path);
}

std::error_code DoRename(const std::filesystem::path& from, const std::filesystem::path& to,
                         bool replace) {
    if (const std::error_code error =
            replace ? RenameReplace(from, to) : RenameNoReplace(from, to)) {
        return error;
    }
    return Note(FileOperation::Rename, to);
}

std::error_code DoSyncFolder(const std::filesystem::path& folder) {
    if (const std::error_code error = SyncFolder(folder)) {
        return error;
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
std::error_code NotRemovableReason(const std::filesystem::path& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    switch (status.type()) {
        case std::filesystem::file_type::regular:
            return {};
        case std::filesystem::file_type::not_found:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        case std::filesystem::file_type::symlink:
            return std::make_error_code(std::errc::too_many_symbolic_link_levels);
        case std::filesystem::file_type::directory:
            return std::make_error_code(std::errc::is_a_directory);
        default:
            return error ? error : MakeError(FileError::NotRegularFile);
    }
}

// Removes the overwritten file and flushes its folder.
std::error_code RemoveAndSyncFolder(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::remove(path, error)) {
        return error ? error : std::make_error_code(std::errc::no_such_file_or_directory);
    }
    if (const std::error_code noted = Note(FileOperation::Remove, path)) {
        return noted;
    }
    return DoSyncFolder(path.parent_path().empty() ? std::filesystem::path(".")
                                                   : path.parent_path());
}

std::error_code Overwrite(const std::filesystem::path& path) {
    if (const std::error_code error = OverwriteWithZeros(path)) {
        return error;
    }
    return Note(FileOperation::Overwrite, path);
}

}  // namespace

std::error_code DoOverwriteAndRemove(const std::filesystem::path& path) {
    if (const std::error_code refused = NotRemovableReason(path)) {
        return refused;
    }
    // Moved aside first: where the name cannot go, nothing is destroyed.
    const std::filesystem::path aside = LeftoverName(path, LeftoverKind::Removal);
    if (const std::error_code error = RenameNoReplace(path, aside)) {
        // A rename by hard link whose second step failed leaves the removal name as a second
        // name of the file: that name goes, the file keeps its own.
        std::error_code ignored;
        if (std::filesystem::exists(std::filesystem::symlink_status(aside, ignored))) {
            std::filesystem::remove(aside, ignored);
        }
        return error;
    }
    if (const std::error_code noted = Note(FileOperation::Rename, aside)) {
        static_cast<void>(RenameNoReplace(aside, path));
        return noted;
    }
    if (const std::error_code error = Overwrite(aside)) {
        // The file gets its name back; where even that fails, the next clean-up finishes it.
        static_cast<void>(RenameNoReplace(aside, path));
        return error;
    }
    return RemoveAndSyncFolder(aside);
}

std::error_code DoRemoveLeftoverRemoval(const std::filesystem::path& path) {
    // A removal name that is a second name of a file (see above) is only a name: the file's
    // content is not ours to overwrite.
    if (LinkCount(path).value_or(1) > 1) {
        std::error_code removed;
        std::filesystem::remove(path, removed);
        return removed;
    }
    if (const std::error_code error = Overwrite(path)) {
        return error;
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
