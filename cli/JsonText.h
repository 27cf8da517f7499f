#pragma once

// Numbers and texts as the commands' --json output writes them.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

// Nine significant digits give back every float32 exactly.
[[nodiscard]] std::string Number(float value);
// Number, or null for a value that is not finite.
[[nodiscard]] std::string JsonNumber(float value);
// A JSON string: quotes and backslashes escaped, control characters as \u00NN.
[[nodiscard]] std::string JsonString(const std::string& text);
[[nodiscard]] std::string JsonBool(bool value);
[[nodiscard]] std::string IntText(std::int32_t value);

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
