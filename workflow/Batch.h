#pragma once

// A batch of files, as encoding and decoding run it: the steps every file takes whatever its
// coding (its input opened, its output planned with the others', the question before an
// existing output is replaced, its failure told), the deletion of the sources at the end, and
// what the batch did, for a summary and an exit code.

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/EncodedFile.h"
#include "workflow/FrontEnd.h"

namespace quorvane {

// Why `input` cannot be opened as the input of a command, in the words every command uses
// for it ("no such file", "is a folder", "not a regular file", "permission denied"); empty when
// it can be opened. A pipe or a device is refused without waiting for it.
[[nodiscard]] std::string InputReason(const std::filesystem::path& input);

// Removes what interrupted runs left in the folders of `paths` (RemoveStaleTemporaries of
// files/AtomicFile.h): their temporary files, and the names they reserved on FAT and exFAT,
// which would otherwise be read as an input ("not encoded") or taken for an existing output.
// Each folder is looked at once. Returns what was removed.
[[nodiscard]] std::vector<std::filesystem::path> RemoveLeftoversBeside(
    const std::vector<std::filesystem::path>& paths);
// Tells the front end what RemoveLeftoversBeside (or a write) removed, each once: a name a run
// had reserved as such (the note that named it is part of it), any other as a temporary file.
void TellLeftovers(const std::vector<std::filesystem::path>& removed, BatchFrontEnd& front);

enum class FileStatus {
    Done,     // the output is complete
    Failed,   // nothing was written for this file
    Skipped,  // the output exists and was not to be replaced
};

struct FileOutcome {
    std::filesystem::path input;
    std::filesystem::path output;
    FileStatus status = FileStatus::Failed;
    bool inputDeleted = false;   // the original (encoding) or the encoded file (decoding)
    bool inputKept = false;      // decoding: kept because its key was not confirmed
    bool inputUnusable = false;  // the input could not be opened (missing, a folder, ...)
    std::string message;         // the system's message for a failure, empty otherwise
    std::string reason;          // what the system reported, empty when nothing
};

struct BatchResult {
    std::vector<FileOutcome> files;
    bool cancelled = false;      // cancelled at a replace question or by the user's Cancel
    bool stopped = false;        // cancelled by the user's Cancel
    bool deletionAsked = false;  // the sources of the files done were to be deleted
    [[nodiscard]] int Count(FileStatus status) const;
    // Decoding: the encoded files kept because no check value proved their key.
    [[nodiscard]] int KeptCount() const;
    // The sources of the files done that were to be deleted and were not, for whatever reason.
    [[nodiscard]] std::vector<std::filesystem::path> SourcesKept() const;
    // An input could not be opened at all (FileOutcome::inputUnusable).
    [[nodiscard]] bool InputsUnusable() const;
    // Every one of the `total` files given was done, and the batch was not cancelled.
    [[nodiscard]] bool AllDone(std::size_t total) const;
    // A source that was to be deleted stayed, other than an encoded file kept because no check
    // value proved its key: a failed removal, or one kept because it is a symbolic link or has
    // other names (hard links), or because it or its output changed.
    [[nodiscard]] bool RemovalsFailed() const;
};

// What a batch did, in one line: "3 of 3 files encoded into FOLDER" (or "decoded"),
// then "; 1 failed", "; 1 not replaced", "; cancelled" and RemovalSummary as they apply; a batch
// the user stopped says how far it came (CancelledAfterText), then RemovalSummary.
// `total` is the number of files the batch was given; the folder is shown without a final
// separator.
[[nodiscard]] std::string BatchSummary(const BatchResult& batch, std::size_t total, bool encoding,
                                       const std::filesystem::path& folder);
// What became of the sources a batch was to delete: "; 2 originals deleted" (decoding: "encoded
// files"), then ", 1 kept" and, withNames, ": " and their paths; empty when none was to go.
[[nodiscard]] std::string RemovalSummary(const BatchResult& batch, bool encoding, bool withNames);

// What tells an encoding batch from a decoding one; the steps around them are the same.
struct BatchKind {
    std::function<std::optional<std::filesystem::path>(const std::filesystem::path& input)>
        outputFor;
    std::function<Result<Coded>(const std::filesystem::path& input,
                                const std::filesystem::path& output, const CodingOptions& options)>
        code;
    // The reason a failed file is given (cipher/Coded.h's DescribeFailure, or better words).
    std::function<std::string(const std::filesystem::path& input, const Failure& failure)>
        reasonFor;
    std::function<std::string(std::string_view input)> failedMessage;
    std::function<std::string(std::string_view input)> notRemovedMessage;
    bool encoding = true;
    bool deleteInputs = false;
    bool deleteOnlyWhenProved = false;  // decoding: the file's own check value proved the key
    // Decoding: the key tested on the file's key check alone (CheckEncodedKey).
    std::function<Result<Coded>(const std::filesystem::path& input)> checkKey;
};

// Codes each input in order into kind.outputFor(input), stepping the front end's bar once per
// file: first removes the left-overs of interrupted runs beside the inputs and the outputs
// (RemoveLeftoversBeside), then refuses an input that cannot be opened and an output that would
// take the place of another file of the batch (PlanOutputs, before anything is written), tests a
// decoding's key on the file (kind.checkKey) before it asks to replace an existing output, asks
// before replacing one and once whether files without a check value may be decoded, and tells each
// failure. With kind.deleteInputs the sources of the files done are deleted at the end, each only
// while its output still holds what the batch wrote and it is still the file that was read (a
// symbolic link never, nor the file it points to, nor a file with other names).
BatchResult RunBatch(const std::vector<std::filesystem::path>& inputs, const BatchKind& kind,
                     BatchFrontEnd& front);

}  // namespace quorvane
