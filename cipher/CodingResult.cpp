#include "cipher/CodingResult.h"

#include <cctype>

namespace quorvane {

namespace {

std::string Reason(const std::error_code& error) {
    if (!error) {
        return {};
    }
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

}  // namespace

CodingResult MakeResult(CodingStatus status, std::error_code error) {
    CodingResult result;
    result.status = status;
    result.error = error;
    return result;
}

CodingStatus InputStatus(const std::error_code& error) {
    return error == MakeError(FileError::Changed) ? CodingStatus::InputChanged
                                                  : CodingStatus::InputUnreadable;
}

CodingStatus OutputStatus(const std::error_code& error) {
    return error == std::errc::file_exists ? CodingStatus::OutputExists
                                           : CodingStatus::OutputUnwritable;
}

std::string DescribeFailure(const CodingResult& result) {
    const std::string reason = Reason(result.error);
    const auto with = [&](const std::string& what) {
        return reason.empty() ? what : what + ": " + reason;
    };
    switch (result.status) {
        case CodingStatus::Done:
            return {};
        case CodingStatus::InputUnreadable:
            return with("cannot read the input file");
        case CodingStatus::NotEncoded:
            // A header with this owner's marker names the field at fault.
            return reason.empty() ? "not an encoded file of this owner, or its header is damaged"
                                  : reason;
        case CodingStatus::Truncated:
            return "the encoded file is cut short";
        case CodingStatus::WrongKeyOrDamaged:
            return "wrong key or damaged file";
        case CodingStatus::OutputExists:
            return "the output file exists already";
        case CodingStatus::OutputUnwritable:
            return with("cannot write the output file");
        case CodingStatus::SameFile:
            return "the output is the input file itself";
        case CodingStatus::BadMarker:
            return "the owner's name cannot be written into the file header";
        case CodingStatus::Unverified:
            return "carries no check value (written by an earlier version, or the value was "
                   "removed): the key cannot be confirmed";
        case CodingStatus::InputChanged:
            return "changed while it was read";
        case CodingStatus::Cancelled:
            return "cancelled";
    }
    return "failed";
}

}  // namespace quorvane
