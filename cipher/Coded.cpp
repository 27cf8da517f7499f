#include "cipher/Coded.h"

#include <cctype>

#include "cipher/CipherError.h"

namespace quorvane {

namespace {

std::string Reason(const std::error_code& error) {
    if (error == std::errc::is_a_directory) {
        return "is a folder";
    }
    std::string text = error.message();
    // "No such file" reads "no such file" inside a sentence; "FAT32 ..." stays as it is.
    if (!text.empty() && (text.size() < 2 || !std::isupper(static_cast<unsigned char>(text[1])))) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

// The refusals of the format and of the operation, which name no reason of the system.
std::string DescribeRefusal(const std::error_code& code) {
    if (code.category() != CipherErrorCategory()) {
        // A damaged header of this owner: its HeaderError names the field at fault.
        return Reason(code);
    }
    switch (static_cast<CipherError>(code.value())) {
        case CipherError::NotEncoded:
            return "not an encoded file of this owner, or its header is damaged";
        case CipherError::Truncated:
            return "the encoded file is cut short";
        case CipherError::WrongKey:
        case CipherError::Damaged:
            return "wrong key or damaged file";
        case CipherError::Unverified:
            return "carries no check value (written by an earlier version, or the value was "
                   "removed): the key cannot be confirmed";
        case CipherError::SameFile:
            return "the output is the input file itself";
        case CipherError::BadMarker:
            return "the owner's name cannot be written into the file header";
        case CipherError::Cancelled:
            return "cancelled";
        case CipherError::TooLarge:
            break;
    }
    return code.message();
}

}  // namespace

bool IsInputFailure(const Failure& failure, const std::filesystem::path& input) {
    return failure.path() == input && failure.code() != CipherError::NotEncoded &&
           failure.code().category() != CipherErrorCategory();
}

std::string DescribeFailure(const Failure& failure, const std::filesystem::path& input) {
    const std::error_code& code = failure.code();
    if (code == CipherError::NotEncoded || code.category() == CipherErrorCategory()) {
        return DescribeRefusal(code);
    }
    if (failure.path() == input) {
        return code == MakeError(FileError::Changed)
                   ? "changed while it was read"
                   : "cannot read the input file: " + Reason(code);
    }
    return code == std::errc::file_exists ? "the output file exists already"
                                          : "cannot write the output file: " + Reason(code);
}

}  // namespace quorvane
