#pragma once

// Which file a path names, and what it held when last looked at: enough to tell, at the end of a
// batch, whether an output is still the very file the batch committed and an input still the
// file it read. (A platform helper kept beside the batches until the file helpers take it.)

#include <cstdint>
#include <filesystem>
#include <optional>

namespace quorvane {

struct FileIdentity {
    std::uint64_t device = 0;  // the volume
    std::uint64_t index = 0;   // the file on that volume (inode, file index)
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // last write, in the platform's finest unit
    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file `path` names (links followed); nothing when there is none or it cannot
// be asked.
[[nodiscard]] std::optional<FileIdentity> IdentityOf(const std::filesystem::path& path);

}  // namespace quorvane
