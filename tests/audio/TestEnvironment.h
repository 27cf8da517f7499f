#pragma once

// Small helpers for the audio tests that reach the system's sound stack: temporary
// folders, environment variables, running a helper script. POSIX only, like the sound
// servers these tests talk to.

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace quorvane::audiotest {

// A fresh empty folder under the system's temporary folder, removed with its contents.
class TemporaryFolder final {
public:
    explicit TemporaryFolder(const std::string& stem) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::filesystem::path candidate =
                std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) {
                path_ = candidate;
                break;
            }
        }
    }
    ~TemporaryFolder() {
        if (!path_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets (or, with no value, removes) environment variables and puts them back afterwards.
class ScopedEnvironment final {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::optional<std::string>& value);

private:
    struct Saved {
        std::string name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved_;
};

// Runs a shell command line; true when it exits with status 0.
bool RunCommand(const std::string& commandLine);

// Quotes a path or word for the shell.
std::string ShellQuote(const std::string& text);

// Whether a program can be found on the search path.
bool HaveProgram(const std::string& name);

// This process's id, for helpers that must end with it.
long ProcessId();

}  // namespace quorvane::audiotest
