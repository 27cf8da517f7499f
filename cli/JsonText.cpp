#include "cli/JsonText.h"

#include <cmath>
#include <cstdio>

namespace quorvane {

std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string JsonNumber(float value) {
    return std::isfinite(value) ? Number(value) : "null";
}

std::string JsonString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            quoted += escaped;
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string JsonBool(bool value) {
    return value ? "true" : "false";
}

std::string IntText(std::int32_t value) {
    return std::to_string(value);
}

}  // namespace quorvane
