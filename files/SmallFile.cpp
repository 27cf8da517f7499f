#include "files/SmallFile.h"

#include <array>
#include <system_error>
#include <utility>

#include "files/AtomicFile.h"
#include "files/PlatformFile.h"

namespace quorvane {

Status WriteFileAtomically(const std::filesystem::path& path, std::span<const std::uint8_t> bytes,
                           bool ownerOnly) {
    // The temporary file is owner-only from its creation; a secret stays so after the commit,
    // even when it replaces a file that was readable by others.
    AtomicFile file(path, OutputMode::Replace,
                    ownerOnly ? FilePrivacy::OwnerOnly : FilePrivacy::Normal);
    Status step = file.Open();
    if (step) {
        step = file.Write(bytes);
    }
    return step ? file.Commit() : step;
}

Result<std::vector<std::uint8_t>> ReadSmallFile(const std::filesystem::path& path,
                                                std::uint64_t maxBytes) {
    // Checked on the opened file: a pipe put in the file's place is refused, not waited on.
    PlatformFile file;
    if (Status opened = file.OpenForReading(path); !opened) {
        return opened.error();
    }
    std::vector<std::uint8_t> content;
    std::array<std::uint8_t, 4096> chunk{};
    for (;;) {
        const Result<std::size_t> got = file.ReadSome(chunk);
        if (!got) {
            return got.error();
        }
        if (*got == 0) {
            return content;
        }
        content.insert(content.end(), chunk.begin(),
                       chunk.begin() + static_cast<std::ptrdiff_t>(*got));
        if (content.size() > maxBytes) {
            return Failure(std::make_error_code(std::errc::file_too_large), path);
        }
    }
}

}  // namespace quorvane
