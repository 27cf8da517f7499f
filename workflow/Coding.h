#pragma once

// Encoding files for a registered user and decoding them again, after a voice
// verification or with the typed security key: the rules both front ends share (the
// owner of an encoded file, output names, the keys) and encoding and decoding as the two
// kinds of batch of workflow/Batch.h.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"
#include "speaker/UserList.h"
#include "workflow/Batch.h"
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

struct OutputFolderResult : StepResult {
    bool created = false;  // it was missing and has been created
    // The folders created for it, the outermost first (it is the last).
    std::vector<std::filesystem::path> made;
};
// The output folder a batch of the command line was given (-o DIR): when missing, it is created
// with every missing folder of its path, readable by its owner only, and the summary tells it
// (FolderCreatedText). Done at once for an existing folder or none (beside each input); refused
// with the path and the reason when it is no folder or cannot be created.
[[nodiscard]] OutputFolderResult PrepareOutputFolder(const std::filesystem::path& folder);
// After the batch: the folders PrepareOutputFolder created that are still empty (no output was
// written there) are removed again, innermost first, so that a batch that wrote nothing leaves
// no folder behind; one that holds anything stays, with the folders around it. Whether the
// output folder itself is still there (only then does the summary tell that it was created).
[[nodiscard]] bool KeepOutputFolderIfUsed(const OutputFolderResult& folder);

// The registered user the Encode page names, or nullptr with the refusal in `message`.
[[nodiscard]] const UserRecord* FindEncodingUser(const UserList& users, std::string_view name,
                                                 std::string& message);

// Encodes each input for `user` into EncodedOutputPath(outputFolder, input), in order, as
// RunBatch runs a batch: an existing output is replaced only when the front end agrees; an
// output that is the input itself, an input the batch has yet to read, or another output of
// the batch is refused, naming both files. With deleteOriginals the originals are deleted at the
// end of the batch, each only while its own ".crp" file is still the file the batch committed
// and the original is still the file it read, and never a symbolic link (FileOutcome::message
// says why one was kept).
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
// in order, with the output rules of EncodeFiles. The key is tested on a file before an
// existing output is asked to be replaced. A file whose check value refuses the key is not
// written, and its message says so first (ProvenCauseMessage). A
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
