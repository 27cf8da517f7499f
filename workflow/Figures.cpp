#include "workflow/Figures.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace quorvane {

namespace {

// NAN, INF and -INF for the values no notation covers; empty for finite values.
std::string NonFinite(double v) {
    if (std::isnan(v)) {
        return "NAN";
    }
    if (std::isinf(v)) {
        return v > 0 ? "INF" : "-INF";
    }
    return {};
}

}  // namespace

std::string FixedText(float value) {
    const double v = value;
    if (std::string special = NonFinite(v); !special.empty()) {
        return special;
    }
    char rounded[64];
    std::snprintf(rounded, sizeof rounded, "%.4e", v);  // 5 significant digits
    const double r = std::strtod(rounded, nullptr);
    if (std::fabs(r) >= 1e5) {
        std::string text(rounded);
        for (char& c : text) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        return text;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", r);
    return text;
}

std::string GeneralText(float value) {
    const double v = value;
    if (std::string special = NonFinite(v); !special.empty()) {
        return special;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

}  // namespace quorvane
