#pragma once

// Records the steps of the file layer (files/FileOperations.h) while it lives; may fail one
// kind of step, or act at a step (a crash, a racing writer) through `at`.

#include <filesystem>
#include <functional>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "files/FileOperations.h"

namespace quorvane::testing {

class RecordedOperations {
public:
    using Action = std::function<void(FileOperation, const std::filesystem::path&)>;

    explicit RecordedOperations(std::optional<FileOperation> failing = std::nullopt,
                                Action at = {}) {
        SetFileOperationObserver([this, failing, at = std::move(at)](
                                     FileOperation operation, const std::filesystem::path& path) {
            steps.push_back(operation);
            paths.push_back(path);
            if (at) {
                at(operation, path);
            }
            return operation == failing ? std::make_error_code(std::errc::io_error)
                                        : std::error_code();
        });
    }
    ~RecordedOperations() { SetFileOperationObserver({}); }
    RecordedOperations(const RecordedOperations&) = delete;
    RecordedOperations& operator=(const RecordedOperations&) = delete;
    std::vector<FileOperation> steps;
    std::vector<std::filesystem::path> paths;
};

}  // namespace quorvane::testing
