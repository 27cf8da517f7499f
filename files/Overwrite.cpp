#include "files/Overwrite.h"

#include "files/FileOperations.h"

namespace quorvane {

Status OverwriteAndRemove(const std::filesystem::path& path) {
    // The failure names the file whichever step failed (the folder's flush included).
    if (const Status removed = DoOverwriteAndRemove(path); !removed) {
        return removed.error().At(path);
    }
    return {};
}

}  // namespace quorvane
