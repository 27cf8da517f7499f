#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace quorvane::fuzz {

namespace {

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(_getpid());
#else
    return static_cast<long>(getpid());
#endif
}

// The scratch folder once it exists: a failed property removes it before stopping the process,
// as the stop skips the removal at exit (libFuzzer keeps the failing input itself).
const std::filesystem::path* madeScratch = nullptr;

[[noreturn]] void Stop(std::string_view what) {
    std::fprintf(stderr, "Property failed: %.*s\n", static_cast<int>(what.size()), what.data());
    if (madeScratch != nullptr) {
        std::error_code error;
        std::filesystem::remove_all(*madeScratch, error);
    }
    std::abort();
}

// Owns the scratch folder: made on construction, removed at normal exit.
class Scratch final {
public:
    Scratch()
        : path_(std::filesystem::temp_directory_path() /
                ("quorvane-fuzz-" + std::to_string(ProcessId()))) {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        std::filesystem::create_directories(path_, error);
        if (error) {
            Stop("the scratch folder cannot be created");
        }
        madeScratch = &path_;
    }
    ~Scratch() {
        madeScratch = nullptr;
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace

const std::filesystem::path& ScratchFolder() {
    static const Scratch scratch;
    return scratch.Path();
}

std::vector<std::filesystem::path> ScratchEntries() {
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(ScratchFolder())) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    Require(static_cast<bool>(out), "an input file cannot be written");
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

void Require(bool holds, std::string_view what) {
    if (!holds) {
        Stop(what);
    }
}

}  // namespace quorvane::fuzz
