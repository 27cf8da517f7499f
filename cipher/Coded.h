#pragma once

// What encoding or decoding a file did: the options the operations share, what a success reports
// (Coded), and the wording of a failure.
//
// A failure (files/Result.h) carries a code and names the file it concerns:
//   the input    it cannot be read (the system's reason; FileError::NotRegularFile for a pipe or
//                a device, file_too_large beyond what a header can state), it changed while it
//                was read (FileError::Changed), it was refused as an encoded file (CipherError:
//                NotEncoded or a HeaderError naming the field, Truncated, WrongKey, Damaged,
//                Unverified), or the caller cancelled its coding (CipherError::Cancelled);
//   the output   it cannot be written (the system's reason), it exists already and may not be
//                replaced (file_exists), it is the input itself (CipherError::SameFile), or the
//                marker cannot be written into its header (CipherError::BadMarker).
// Nothing of the output is left after a failure.

#include <filesystem>
#include <functional>
#include <string>

#include "files/AtomicFile.h"
#include "files/ByteProgress.h"
#include "files/Result.h"

namespace quorvane {

struct CodingOptions {
    OutputMode mode = OutputMode::Replace;
    ProgressFn progress;
    // Decoding: also decode a file that carries no check value (its key cannot be confirmed).
    bool allowUnverified = false;
    // Asked between chunks; true stops the file with CipherError::Cancelled, leaving nothing.
    std::function<bool()> cancelled = {};
    // Told of each left-over temporary file of an ended writer that was removed from the
    // output's folder before the output was written, whether the coding then succeeds or not.
    std::function<void(const std::filesystem::path& leftover)> leftoverRemoved = {};
};

// What a coding that succeeded reports (decoding and testing a key; an encoding reports nothing).
struct Coded {
    bool tagged = false;       // the file carries a trailer
    bool tagVerified = false;  // the file's own trailer verified the key (and, decoding, the data)
};

// Whether a failure is the input's own: it cannot be read, or changed while it was read (not a
// refusal of its content, which the CipherError codes tell).
[[nodiscard]] bool IsInputFailure(const Failure& failure, const std::filesystem::path& input);

// A one-line English reason for a failed coding of `input`, naming the system's reason where
// there is one ("cannot read the input file: no such file or directory", "wrong key or damaged
// file", "cannot write the output file: no space left on device", "is a folder").
[[nodiscard]] std::string DescribeFailure(const Failure& failure,
                                          const std::filesystem::path& input);

}  // namespace quorvane
