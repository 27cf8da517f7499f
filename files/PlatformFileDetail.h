#pragma once

// What the platform implementations of PlatformFile share; not for use outside files/.

#include <cerrno>
#include <cstddef>
#include <system_error>

namespace quorvane::detail {

// Largest single read or write request; bigger spans are handled in pieces.
inline constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

// The C library's reason for the call that just failed (EIO when it left none).
inline std::error_code LastSystemError() {
    const int code = errno;
    return std::error_code(code != 0 ? code : EIO, std::generic_category());
}

// Whether files on the file system of the open descriptor keep their numbers (FileSystem.cpp;
// KeepsFileNumbers for a path).
[[nodiscard]] bool FileNumbersLast(int descriptor);

}  // namespace quorvane::detail
