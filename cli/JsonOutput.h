#pragma once

// The commands' --json output: documents built as nlohmann::ordered_json (keys in the
// order given) and written in the layout scripts already read: one member of the outer
// object per line, everything inside a member on that line, except that the items of an
// array of arrays or objects start a line each. Floats keep the nine significant digits
// that give back every float32; members named in `fixedDecimals` are written with that
// many decimals instead.

#include <map>
#include <nlohmann/json.hpp>
#include <string>

namespace quorvane {

using JsonDocument = nlohmann::ordered_json;

struct JsonLayout {
    // Items of an array of arrays or objects: each on a line of its own ("[\n    {..},
    // \n    {..}]"), or the first right after the bracket ("[[..],\n    [..]]").
    bool firstItemOnItsOwnLine = false;
    std::map<std::string, int, std::less<>> fixedDecimals;
};

// A float32 for a document: its value, or null when it is not finite.
[[nodiscard]] JsonDocument JsonFloat(float value);

// The document as text, ending with a line end.
[[nodiscard]] std::string JsonText(const JsonDocument& document, const JsonLayout& layout);

}  // namespace quorvane
