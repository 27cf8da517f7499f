#pragma once

// The names of the short-lived files this folder's writers put beside a target, and how a
// clean-up recognises them when their writer has ended: ".<target name>.<process id>.<16 hex
// digits>" and then ".tmp" for a temporary file (AtomicFile), ".rsv" for the note of a
// reservation (a no-replace rename on a file system without RENAME_NOREPLACE and hard links,
// Reservation.h) or ".del" for a file being overwritten and removed (Overwrite.h). The process id
// tells a clean-up whose file it is; the hex digits make the name unguessable.

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvane {

enum class LeftoverKind {
    Temporary,        // ".tmp": the content of a file being written
    ReservationNote,  // ".rsv": names the target a no-replace rename reserved
    Removal,          // ".del": a file that held a secret, moved aside to be overwritten
};

// A fresh name of that kind for a file beside `target` (in the same folder), made by this
// process; it holds at most the first 128 characters of the target's name.
[[nodiscard]] std::filesystem::path LeftoverName(const std::filesystem::path& target,
                                                 LeftoverKind kind);

// Whether a file name has the form of a left-over of that kind, and which process made it.
[[nodiscard]] bool ParseLeftoverName(const std::filesystem::path& name, LeftoverKind kind,
                                     std::uint64_t& processId);

// Whether `leftover` is a left-over of that kind made for `target`: in its folder, with the form
// above and the start of its name.
[[nodiscard]] bool IsLeftoverOf(const std::filesystem::path& leftover,
                                const std::filesystem::path& target, LeftoverKind kind);

// Whether a file name has the form of this program's temporary files, and which process made
// it. For the clean-up of left-overs; exposed for tests.
[[nodiscard]] bool ParseTemporaryName(const std::filesystem::path& name, std::uint64_t& processId);

}  // namespace quorvane
