#pragma once

// How the workflows write their figures (thresholds and distances).

#include <string>

namespace quorvane {

// General notation with up to 15 significant digits ("0.5", "0.100000001490116"), as
// "Train system..." shows the threshold.
[[nodiscard]] std::string GeneralText(float value);

// Fixed notation as the verification figures show them: the value rounded to 5
// significant digits, then written with 4 digits after the decimal point (0.5 gives
// "0.5000", 123.456789 gives "123.4600"). Values whose integer part needs more than 5
// digits switch to exponent notation.
[[nodiscard]] std::string FixedText(float value);

}  // namespace quorvane
