#pragma once

// Files for tests: a scratch folder removed with its object, a path quoted for the
// shell, a text's bytes, a file's whole content and the code of a failed step.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "files/Result.h"

namespace quorvane::testing {

// The code of a failed step; empty for a success.
template <typename T>
std::error_code CodeOf(const Result<T>& result) {
    return result ? std::error_code() : result.error().code();
}

// A folder of its own under the system's temporary folder, removed with the object.
class ScratchFolder {
public:
    ScratchFolder() {
        static std::atomic<int> serial{0};
        std::random_device random;
        const std::string name =
            "quorvane-test-" + std::to_string(random()) + "-" + std::to_string(serial.fetch_add(1));
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The path in single quotes, for a shell command line.
inline std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

// A text's bytes, for the byte-span interfaces.
inline std::span<const std::uint8_t> AsBytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The whole file as text; empty when it cannot be read.
inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The whole file as bytes; empty when it cannot be read.
inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace quorvane::testing
