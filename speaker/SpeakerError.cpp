#include "speaker/SpeakerError.h"

#include <string>

namespace quorvane {

namespace {

class SpeakerErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.speaker"; }
    std::string message(int value) const override {
        switch (static_cast<SpeakerError>(value)) {
            case SpeakerError::WrongPassphrase:
                return "wrong passphrase";
            case SpeakerError::Damaged:
                return "the model it holds is damaged";
            case SpeakerError::KeyNotDerived:
                return "the key cannot be derived from the passphrase";
            case SpeakerError::OtherUsersFile:
                return "the file holds another user";
            case SpeakerError::AlreadyStored:
                return "a speaker file of the user is there already";
            case SpeakerError::NotReadBack:
                return "it does not read back to the user's key";
            case SpeakerError::NotReadBackWithNewPassphrase:
                return "the new file does not read back to the user's key with the new "
                       "passphrase";
        }
        return "speaker file error";
    }
};

}  // namespace

const std::error_category& SpeakerErrorCategory() {
    static const SpeakerErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(SpeakerError error) {
    return {static_cast<int>(error), SpeakerErrorCategory()};
}

std::error_condition make_error_condition(SpeakerError error) {
    return {static_cast<int>(error), SpeakerErrorCategory()};
}

}  // namespace quorvane
