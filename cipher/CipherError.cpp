#include "cipher/CipherError.h"

#include <string>

namespace quorvane {

namespace {

class CipherErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.cipher"; }
    std::string message(int value) const override {
        switch (static_cast<CipherError>(value)) {
            case CipherError::NotEncoded:
                return "not an encoded file of this owner, or its header is damaged";
            case CipherError::Truncated:
                return "the encoded file is cut short";
            case CipherError::WrongKey:
                return "wrong key";
            case CipherError::Damaged:
                return "damaged file";
            case CipherError::Unverified:
                return "carries no check value: the key cannot be confirmed";
            case CipherError::TooLarge:
                return "the decoded content is too large";
            case CipherError::SameFile:
                return "the output is the input file itself";
            case CipherError::BadMarker:
                return "the marker cannot be written into a header";
            case CipherError::Cancelled:
                return "cancelled";
        }
        return "cannot decode";
    }
};

}  // namespace

const std::error_category& CipherErrorCategory() {
    static const CipherErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(CipherError error) {
    return {static_cast<int>(error), CipherErrorCategory()};
}

std::error_condition make_error_condition(CipherError error) {
    return {static_cast<int>(error), CipherErrorCategory()};
}

}  // namespace quorvane
