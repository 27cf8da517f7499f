// quorvane-cli: the program's analysis, enrolment, verification and file
// encoding, driven from sound files on the command line.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/Commands.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The folder of the running executable, where the program keeps "Speakers".
std::filesystem::path ExecutableFolder(const char* argv0) {
    std::error_code code;
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length > 0 && length < buffer.size()) {
        buffer.resize(length);
        return std::filesystem::path(buffer).parent_path();
    }
#else
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", code);
    if (!code && !self.empty()) {
        return self.parent_path();
    }
#endif
    const std::filesystem::path fallback = std::filesystem::absolute(argv0 ? argv0 : "", code);
    return code ? std::filesystem::current_path(code) : fallback.parent_path();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Quorvane on the command line: voice models from sound files.", "quorvane-cli"};
    app.require_subcommand(1);
    // Global options such as --speakers are taken after the command too.
    app.fallthrough();

    quorvane::CliContext context;
    context.speakersDir = ExecutableFolder(argc > 0 ? argv[0] : nullptr) / "Speakers";
    app.add_option("--speakers", context.speakersDir,
                   "Folder of the speaker files (default: \"Speakers\" beside the executable)")
        ->capture_default_str();

    quorvane::RegisterInspectCommands(app, context);
    quorvane::RegisterUserCommands(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvane-cli: %s\n", e.what());
        return quorvane::kExitError;
    }
    return context.exitCode;
}
