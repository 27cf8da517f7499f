#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "files/Secret.h"

namespace quorvane {

// True when the stream is an interactive terminal (not a file or a pipe), so that
// progress lines and questions make sense on it.
[[nodiscard]] bool IsTerminal(std::FILE* stream);

// The text with its control characters (C0, DEL and the C1 range) written as \xNN, so
// that names and markers read from files cannot send escape sequences to the terminal.
[[nodiscard]] std::string EscapeControls(std::string_view text);

// Reads one line from standard input, when it is a terminal, without showing what is typed
// (echo off, restored afterwards), after the prompt on standard error. The line end is not
// kept. False when standard input is no terminal or ends before a line.
[[nodiscard]] bool ReadHiddenLine(std::string_view prompt, SecretText& line);

// One line for the user, control characters escaped: an error on standard error
// ("quorvane-cli: LINE"), a note there ("quorvane-cli: note: LINE"), or a result on
// standard output (flushed at once, so that it keeps its order with the errors).
void PrintError(std::string_view line);
void PrintNote(std::string_view line);
void PrintLine(std::string_view line);

}  // namespace quorvane
