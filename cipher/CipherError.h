#pragma once

// Why an encoded file was refused, or its coding stopped, as a code of its own category for
// Result<T>'s Failure (files/Result.h); the failures of the system keep the system's codes. The
// values are also conditions: a header that names the expected owner but has a damaged field
// fails with its HeaderError (cipher/EncodedHeader.h), which compares equal to
// CipherError::NotEncoded while its message still names the field.

#include <system_error>
#include <type_traits>

namespace quorvane {

enum class CipherError {
    NotEncoded = 1,  // another owner's marker, no marker, or a header that does not parse
    Truncated,       // fewer cipher bytes than the header states
    WrongKey,        // the trailer's key check refuses the key (a damaged header or key check
                     // reads the same: the check cannot tell them apart)
    Damaged,         // the key check passed but the trailer's layout or the file tag does not
    Unverified,      // no trailer, and the caller did not allow decoding without one
    TooLarge,        // the plain data is longer than the caller's limit
    SameFile,        // the output names the input file itself (a link or a second name included)
    BadMarker,       // encoding: the marker is empty, too long or holds white space
    Cancelled,       // the caller asked to stop; nothing of the file was written
};

[[nodiscard]] const std::error_category& CipherErrorCategory();
[[nodiscard]] std::error_code MakeError(CipherError error);
[[nodiscard]] std::error_condition make_error_condition(CipherError error);  // NOLINT: std name

}  // namespace quorvane

template <>
struct std::is_error_condition_enum<quorvane::CipherError> : std::true_type {};
