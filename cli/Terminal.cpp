#include "cli/Terminal.h"

#ifdef _WIN32
#include <io.h>
#else
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
