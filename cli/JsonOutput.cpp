#include "cli/JsonOutput.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "cli/Text.h"

namespace quorvane {

namespace {

constexpr std::string_view kItemBreak = "\n    ";

class Writer {
public:
    explicit Writer(const JsonLayout& layout) : layout_(layout) {}

    std::string Document(const JsonDocument& document) const {
        std::string out = "{";
        bool first = true;
        for (const auto& [key, value] : document.items()) {
            out += first ? "\n  " : ",\n  ";
            out += Key(key) + Value(value, key);
            first = false;
        }
        return out + "\n}\n";
    }

private:
    static std::string Key(const std::string& key) { return JsonDocument(key).dump() + ": "; }

    std::string Value(const JsonDocument& value, std::string_view key) const {
        if (value.is_object()) {
            std::string out = "{";
            bool first = true;
            for (const auto& [name, item] : value.items()) {
                out += (first ? "" : ", ") + Key(name) + Value(item, name);
                first = false;
            }
            return out + "}";
        }
        if (value.is_array()) {
            return Array(value, key);
        }
        if (value.is_number_float()) {
            return Float(value.get<double>(), key);
        }
        return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    }

    std::string Array(const JsonDocument& array, std::string_view key) const {
        std::string out = "[";
        for (std::size_t i = 0; i < array.size(); ++i) {
            const JsonDocument& item = array[i];
            if (item.is_structured()) {
                out += (i > 0 ? "," : "") +
                       std::string(i > 0 || layout_.firstItemOnItsOwnLine ? kItemBreak : "");
            } else if (i > 0) {
                out += item.is_string() ? ", " : ",";
            }
            out += Value(item, key);
        }
        return out + "]";
    }

    std::string Float(double value, std::string_view key) const {
        char text[48];
        if (const auto fixed = layout_.fixedDecimals.find(key);
            fixed != layout_.fixedDecimals.end()) {
            std::snprintf(text, sizeof text, "%.*f", fixed->second, value);
            return text;
        }
        return Number(static_cast<float>(value));
    }

    const JsonLayout& layout_;
};

}  // namespace

JsonDocument JsonFloat(float value) {
    return std::isfinite(value) ? JsonDocument(static_cast<double>(value)) : JsonDocument(nullptr);
}

std::string JsonText(const JsonDocument& document, const JsonLayout& layout) {
    return Writer(layout).Document(document);
}

}  // namespace quorvane
