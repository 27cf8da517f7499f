#pragma once

// What encoding or decoding a file did: the status, the system's reason where there is one, and
// the options the operations share.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "files/AtomicFile.h"
#include "files/ByteProgress.h"

namespace quorvane {

enum class CodingStatus {
    Done,             // output complete (decoding: plain data committed)
    InputUnreadable,  // cannot open/read the input (error holds why); also a folder, FIFO or device
                      // as input
    NotEncoded,       // marker mismatch, or a header that does not parse (error: a HeaderError
                      // naming the field when the marker matched)
    Truncated,        // fewer cipher bytes than the header promises
    WrongKeyOrDamaged,  // the trailer's key check or tag does not match (error:
                        // CipherError::WrongKey for the key check, CipherError::Damaged else)
    OutputExists,       // NoReplace and the target exists
    OutputUnwritable,   // cannot create/write/commit the output (error holds why); also output is a
                        // folder
    SameFile,      // output resolves to the input (std::filesystem::equivalent, links included)
    BadMarker,     // encoding: marker empty, too long or with white space
    Unverified,    // decoding: the file carries no check value and CodingOptions::allowUnverified
                   // was not given; nothing written
    InputChanged,  // the input changed while it was read (size, times or identity), or held
                   // more bytes than were measured; nothing written
    Cancelled      // CodingOptions::cancelled said stop; nothing of this file written
};

struct CodingOptions {
    OutputMode mode = OutputMode::Replace;
    ProgressFn progress;
    // Decoding: also decode a file that carries no check value (its key cannot be confirmed).
    bool allowUnverified = false;
    // Asked between chunks; true stops the file with CodingStatus::Cancelled, leaving nothing.
    std::function<bool()> cancelled = {};
};

struct CodingResult {
    CodingStatus status = CodingStatus::InputUnreadable;
    bool tagVerified = false;  // decoding: the file's own trailer verified the key
    bool tagged = false;       // decoding: the file carries a trailer
    std::error_code error;     // the system's reason for I/O failures
    std::vector<std::filesystem::path>
        staleRemoved;  // left-over temporaries removed from the output folder
    [[nodiscard]] bool ok() const { return status == CodingStatus::Done; }
};

// A result of a status and its reason.
[[nodiscard]] CodingResult MakeResult(CodingStatus status, std::error_code error = {});
// The status of a failed input: InputChanged for FileError::Changed, else InputUnreadable.
[[nodiscard]] CodingStatus InputStatus(const std::error_code& error);
// The status of a failed output: OutputExists for file_exists, else OutputUnwritable.
[[nodiscard]] CodingStatus OutputStatus(const std::error_code& error);

// A one-line English reason for a failed result, naming the system's reason where there is one
// ("wrong key or damaged file", "no space left on device", "permission denied", "is a folder").
[[nodiscard]] std::string DescribeFailure(const CodingResult& result);

}  // namespace quorvane
