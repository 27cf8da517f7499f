#pragma once

// Runs the built quorvane-cli as a user would, from a shell, and keeps what it said.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "tests/support/TestFiles.h"

#ifndef QUORVANE_CLI_EXE
#error "QUORVANE_CLI_EXE must name the built quorvane-cli"
#endif

namespace quorvane::testing {

struct CliRun {
    int exitCode = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs quorvane-cli with `arguments` (already quoted as needed); its output and errors
// pass through stdout.txt and stderr.txt in `folder`. `input`, when given, feeds its
// standard input (through stdin.txt there).
inline CliRun RunCli(const std::filesystem::path& folder, const std::string& arguments,
                     const std::optional<std::string>& input = std::nullopt) {
    const std::filesystem::path out = folder / "stdout.txt";
    const std::filesystem::path err = folder / "stderr.txt";
    std::string command = std::string("\"") + QUORVANE_CLI_EXE + "\" " + arguments;
    if (input.has_value()) {
        const std::filesystem::path in = folder / "stdin.txt";
        std::ofstream(in, std::ios::binary) << *input;
        command += " < " + Quoted(in);
    }
    command += " > " + Quoted(out) + " 2> " + Quoted(err);
    CliRun run;
    const int status = std::system(command.c_str());
#ifdef _WIN32
    run.exitCode = status;
#else
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    run.out = ReadText(out);
    run.err = ReadText(err);
    return run;
}

}  // namespace quorvane::testing
