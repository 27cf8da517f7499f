#include "cli/Terminal.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <termios.h>
#include <unistd.h>
#endif

namespace quorvane {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

bool ReadHiddenLine(std::string_view prompt, SecretText& line) {
    line.clear();
    if (!IsTerminal(stdin)) {
        return false;
    }
    std::fprintf(stderr, "%.*s", static_cast<int>(prompt.size()), prompt.data());
    std::fflush(stderr);
#ifdef _WIN32
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool changed =
        GetConsoleMode(input, &mode) && SetConsoleMode(input, mode & ~ENABLE_ECHO_INPUT);
#else
    termios saved{};
    bool changed = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (changed) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        changed = tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
#endif
    bool ended = false;
    for (;;) {
        const int c = std::fgetc(stdin);
        if (c == EOF) {
            ended = line.empty();
            break;
        }
        if (c == '\n') {
            break;
        }
        line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
#ifdef _WIN32
    if (changed) {
        SetConsoleMode(input, mode);
        std::fprintf(stderr, "\n");
    }
#else
    if (changed) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    }
#endif
    return !ended;
}

std::string EscapeControls(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // C1 controls are U+0080..U+009F, two bytes in UTF-8: C2 80..C2 9F.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F || c1) {
            const auto code = c1 ? static_cast<unsigned char>(text[++i]) : c;
            escaped += "\\x";
            escaped += kHex[code >> 4];
            escaped += kHex[code & 0x0F];
        } else {
            escaped += static_cast<char>(c);
        }
    }
    return escaped;
}

void PrintError(std::string_view line) {
    const std::string text = EscapeControls(line);
    std::fprintf(stderr, "quorvane-cli: %s\n", text.c_str());
}

void PrintNote(std::string_view line) {
    const std::string text = EscapeControls(line);
    std::fprintf(stderr, "quorvane-cli: note: %s\n", text.c_str());
}

void PrintLine(std::string_view line) {
    const std::string text = EscapeControls(line);
    std::fprintf(stdout, "%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace quorvane
