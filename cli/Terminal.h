#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quorvane {

// True when the stream is an interactive terminal (not a file or a pipe), so that
// progress lines and questions make sense on it.
[[nodiscard]] bool IsTerminal(std::FILE* stream);

// The text with its control characters (C0, DEL and the C1 range) written as \xNN, so
// that names and markers read from files cannot send escape sequences to the terminal.
[[nodiscard]] std::string EscapeControls(std::string_view text);

// One line for the user, control characters escaped: an error on standard error
// ("quorvane-cli: LINE"), a note there ("quorvane-cli: note: LINE"), or a result on
// standard output (flushed at once, so that it keeps its order with the errors).
void PrintError(std::string_view line);
void PrintNote(std::string_view line);
void PrintLine(std::string_view line);

}  // namespace quorvane
