#pragma once

// Numbers and lists as the commands print them, in text and in JSON.

#include <cstdio>
#include <string>
#include <vector>

namespace quorvane {

// Nine significant digits give back every float32 exactly.
[[nodiscard]] inline std::string Number(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

// The items formatted one by one, with `separator` between them.
template <typename T, typename Format>
std::string Join(const std::vector<T>& items, const std::string& separator, Format format) {
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += format(items[i]);
    }
    return joined;
}

}  // namespace quorvane
