#pragma once

// Why a user's models could not be unlocked or stored, as a code of its own category for
// Result<T>'s Failure (files/Result.h). A protected file refused before any key is derived
// fails with its ProtectedFileError (speaker/ProtectedFile.h), a refusal of the encoded format
// with its CipherError, and a failure of the system with the system's code. The values are also
// conditions, so `failure.code() == SpeakerError::WrongPassphrase` reads as it says.

#include <system_error>
#include <type_traits>

namespace quorvane {

enum class SpeakerError {
    WrongPassphrase = 1,  // the protected file's key check refused the passphrase's key
    Damaged,              // the file carries no check value where one is required, or its model
                          // does not parse
    KeyNotDerived,        // the key could not be derived from the passphrase
    OtherUsersFile,       // the file of that path holds another user: never replaced
    AlreadyStored,        // a loadable file of the user is there already (of either form, unless
                          // the form allows the other), or one appeared while this one was
                          // written (another enrolment of the name)
    NotReadBack,          // the file written does not read back to the user's key
    NotReadBackWithNewPassphrase,  // ... with the passphrase it was written under
};

[[nodiscard]] const std::error_category& SpeakerErrorCategory();
[[nodiscard]] std::error_code MakeError(SpeakerError error);
[[nodiscard]] std::error_condition make_error_condition(SpeakerError error);  // NOLINT: std name

}  // namespace quorvane

template <>
struct std::is_error_condition_enum<quorvane::SpeakerError> : std::true_type {};
