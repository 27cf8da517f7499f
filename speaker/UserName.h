#pragma once

// The rules a user's name must follow. A name is the first token of the user's speaker
// file and, with "cryptedfile" appended, of every file encoded for the user, so it can
// hold no white space; it also names the user's speaker file, so it can hold none of the
// symbols file names may not hold.

#include <cstddef>
#include <string_view>

namespace quorvane {

// Longest name a record holds (a 1000-byte zero-terminated field in the original layout,
// and the longest first token a speaker file may have).
inline constexpr std::size_t kMaxUserNameLength = 999;
// The symbols a name may not hold besides white space.
inline constexpr std::string_view kForbiddenNameSymbols = "\\/:*?\"<>|";

enum class NameProblem {
    None,
    Empty,
    ForbiddenSymbol,  // a blank, other white space or control character, or kForbiddenNameSymbols
    TooLong,          // more than kMaxUserNameLength bytes
};

// The checks of a name alone, in the order above. Dots and letters beyond ASCII are allowed.
[[nodiscard]] NameProblem CheckUserName(std::string_view name);

}  // namespace quorvane
