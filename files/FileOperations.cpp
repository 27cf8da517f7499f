#include "files/FileOperations.h"

#include <memory>
#include <mutex>
#include <utility>

namespace quorvane {

namespace {

std::mutex gObserverMutex;
std::shared_ptr<const FileOperationObserver> gObserver;

}  // namespace

void SetFileOperationObserver(FileOperationObserver observer) {
    auto shared =
        observer ? std::make_shared<const FileOperationObserver>(std::move(observer)) : nullptr;
    const std::lock_guard<std::mutex> lock(gObserverMutex);
    gObserver = std::move(shared);
}

std::error_code NoteFileOperation(FileOperation operation, const std::filesystem::path& path) {
    std::shared_ptr<const FileOperationObserver> observer;
    {
        const std::lock_guard<std::mutex> lock(gObserverMutex);
        observer = gObserver;
    }
    return observer ? (*observer)(operation, path) : std::error_code();
}

}  // namespace quorvane
