#include "speaker/UserName.h"

namespace quorvane {

namespace {

// White space as the first-token reader of speaker and encoded files sees it, and the
// control characters no file name may hold on the platforms the program runs on.
bool IsForbiddenNameByte(unsigned char c) {
    return c < 0x20 || c == ' ' || c == 0x7f ||
           kForbiddenNameSymbols.find(static_cast<char>(c)) != std::string_view::npos;
}

}  // namespace

NameProblem CheckUserName(std::string_view name) {
    if (name.empty()) {
        return NameProblem::Empty;
    }
    for (const char c : name) {
        if (IsForbiddenNameByte(static_cast<unsigned char>(c))) {
            return NameProblem::ForbiddenSymbol;
        }
    }
    if (name.size() > kMaxUserNameLength) {
        return NameProblem::TooLong;
    }
    return NameProblem::None;
}

}  // namespace quorvane
