#include "tests/audio/TestEnvironment.h"

#include <stdlib.h>  // setenv, unsetenv
#include <unistd.h>  // getpid

#include <algorithm>

namespace quorvane::audiotest {

ScopedEnvironment::~ScopedEnvironment() {
    // Restore in reverse, so a variable set twice ends with its first saved value.
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->value) {
            setenv(it->name.c_str(), it->value->c_str(), 1);
        } else {
            unsetenv(it->name.c_str());
        }
    }
}

void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.push_back({name, old != nullptr ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
        setenv(name.c_str(), value->c_str(), 1);
    } else {
        unsetenv(name.c_str());
    }
}

bool RunCommand(const std::string& commandLine) {
    return std::system(commandLine.c_str()) == 0;
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    return quoted + "'";
}

bool HaveProgram(const std::string& name) {
    return RunCommand("command -v " + ShellQuote(name) + " >/dev/null 2>&1");
}

long ProcessId() {
    return static_cast<long>(getpid());
}

}  // namespace quorvane::audiotest
