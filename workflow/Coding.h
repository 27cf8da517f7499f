#pragma once

// Encoding files for a registered user and decoding them again, after a voice
// verification or with the typed security key: the rules both front ends share (the
// owner of an encoded file, output names, when a file may be replaced or deleted) and
// the batches themselves.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"
#include "speaker/UserList.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"

namespace quorvane {

// ---- Names ----

// The owner's marker in an encoded file is the name followed by this text.
inline constexpr std::string_view kMarkerSuffix = "cryptedfile";
// Longest first token taken as an encoded file's owner: a name of at most 900
// characters and the suffix. Longer tokens are "not encoded".
inline constexpr std::size_t kMaxOwnerTokenLength = 911;
// Encoding appends this to a file's name; decoding drops the last four characters,
// whatever they are.
inline constexpr std::string_view kEncodedExtension = ".crp";
inline constexpr std::size_t kDroppedNameCharacters = 4;

// name + "cryptedfile"
[[nodiscard]] std::string EncodedMarker(std::string_view name);

// Why `input` cannot be opened as the input of a command, in the words every command uses
// for it ("no such file", "is a folder", "not a regular file", "permission denied"); empty when
// it can be opened. A pipe or a device is refused without waiting for it.
[[nodiscard]] std::string InputReason(const std::filesystem::path& input);

struct OwnerResult : StepResult {
    std::string name;         // the owner, when done
    bool notEncoded = false;  // refused because the file is no encoded file
};
// The owner of an encoded file from its first token: "cryptedfile" somewhere in a token
// of 11 to 911 bytes, the name being the token less its last 11 bytes. A file that
// cannot be opened is refused with InputProblemMessage, anything else that does not fit
// with NotEncodedMessage.
[[nodiscard]] OwnerResult OwnerOfEncodedFile(const std::filesystem::path& file);

// folder / (input's file name + ".crp"); with an empty folder, beside the input.
[[nodiscard]] std::filesystem::path EncodedOutputPath(const std::filesystem::path& folder,
                                                      const std::filesystem::path& input);
// folder / (input's file name less its last four characters); with an empty folder,
// beside the input. Nothing for a file name of four characters or fewer.
[[nodiscard]] std::optional<std::filesystem::path> DecodedOutputPath(
    const std::filesystem::path& folder, const std::filesystem::path& input);

// ---- Batches ----

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
    // value proved its key: a failed removal, or one kept because it is a symbolic link or
    // because it or its output changed.
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

struct OutputFolderResult : StepResult {
    bool created = false;  // it was missing and has been created
};
// The output folder a batch of the command line was given (-o DIR): when missing, it is created
// with every missing folder of its path, readable by its owner only, and the summary tells it
// (FolderCreatedText). Done at once for an existing folder or none (beside each input); refused
// with the path and the reason when it is no folder or cannot be created.
[[nodiscard]] OutputFolderResult PrepareOutputFolder(const std::filesystem::path& folder);

// The registered user the Encode page names, or nullptr with the refusal in `message`.
[[nodiscard]] const UserRecord* FindEncodingUser(const UserList& users, std::string_view name,
                                                 std::string& message);

// Encodes each input for `user` into EncodedOutputPath(outputFolder, input), in order,
// stepping the front end's bar once per file. An existing output is replaced only when
// the front end agrees; an output that is the input itself, or that an earlier file of
// the same batch wrote (two inputs of one name into one folder), is refused, naming both
// inputs. With deleteOriginals the originals are deleted at the end of the batch, each only
// while its own ".crp" file is still the file the batch committed and the original is still
// the file it read (FileOutcome::message says why one was kept).
BatchResult EncodeFiles(const UserRecord& user, const std::vector<std::filesystem::path>& inputs,
                        const std::filesystem::path& outputFolder, bool deleteOriginals,
                        BatchFrontEnd& front);

struct VoiceKeyResult : StepResult {  // done: accepted, with the key
    VerifyResult verdict;             // the recording's verification; done once it was judged
    std::string verdictText;          // "Result:Positive" or "Result: Negative" once judged
    GostKey key{};                    // the user's key, when accepted
};
// The voice path of decoding: the registered user `name`, a recording, its verdict; on
// acceptance the key derived from the user's stored models.
[[nodiscard]] VoiceKeyResult KeyFromVoice(const UserList& users, std::string_view name,
                                          std::span<const std::int16_t> recording, FrontEnd& front);

struct TypedKeyResult : StepResult {
    GostKey key{};
};
// The key path: the lines typed into the security key dialog. Fewer than eight lines
// are refused; lines after the eighth are ignored; a line that is no key number ends
// it with NotValidIntegerMessage.
[[nodiscard]] TypedKeyResult KeyFromLines(const std::vector<std::string>& lines);

// The message refusing a key file of `keyName` for the files of `owner`; nothing when the
// key file names no user or names the owner.
[[nodiscard]] std::optional<std::string> KeyOfAnotherUser(std::string_view keyName,
                                                          std::string_view owner);

struct KeyFileResult : TypedKeyResult {
    std::string keyName;  // the name of the file's "Users name: " line, empty without one
};
// A security key file (as "Add new user..." saves it) read for the key path: refused with
// a clear message when it holds no eight key numbers, or when it names a user other than
// `name` (not checked when `name` is empty).
[[nodiscard]] KeyFileResult KeyFromFile(const std::filesystem::path& file, std::string_view name);

// Decodes each input as a file of `name` into DecodedOutputPath(outputFolder, input),
// in order, stepping the bar once per file, with the output rules of EncodeFiles. A file
// whose check value refuses the key is not written, and its message gives the reason. A
// file without a check value is decoded only when the front end allows it
// (FrontEnd::AllowUnverified, asked once per batch when the first such file is met). With
// deleteEncoded the encoded files are deleted at the end of the batch, as EncodeFiles
// deletes originals, and only those whose own check value proved the key; files without
// one are kept and told once at the end.
BatchResult DecodeFiles(std::string_view name, const GostKey& key,
                        const std::vector<std::filesystem::path>& inputs,
                        const std::filesystem::path& outputFolder, bool deleteEncoded,
                        BatchFrontEnd& front);

// Tests the key on each file without writing anything: Done when the file's check value
// proves the key, Skipped for a file without one (its key cannot be tested), Failed
// otherwise (wrong key or damaged file, another owner, unreadable), with the message told.
BatchResult CheckKeyOnFiles(std::string_view name, const GostKey& key,
                            const std::vector<std::filesystem::path>& inputs, BatchFrontEnd& front);

}  // namespace quorvane
