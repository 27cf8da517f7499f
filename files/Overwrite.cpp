#include "files/Overwrite.h"

#include "files/FileOperations.h"

namespace quorvane {

Status OverwriteAndRemove(const std::filesystem::path& path) {
    if (const std::error_code error = DoOverwriteAndRemove(path)) {
        return Failure(error, path);
    }
    return {};
}

}  // namespace quorvane
