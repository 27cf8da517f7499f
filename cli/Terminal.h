#pragma once

#include <cstdio>

namespace quorvane {

// True when the stream is an interactive terminal (not a file or a pipe), so that
// progress lines and questions make sense on it.
[[nodiscard]] bool IsTerminal(std::FILE* stream);

}  // namespace quorvane
