#pragma once

// The whole decode as either front end runs it, in one call: the encoded files, the owner
// named or not, where the key comes from, the output folder, and whether to delete the encoded
// files or only test the key. It owns the rules both front ends share (whose files they are,
// whether a key file belongs to that user, the passphrase of a protected user whose voice is
// judged) and runs the batch of Coding.h; the front ends translate its request and its outcome.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"
#include "workflow/Coding.h"
#include "workflow/FrontEnd.h"
#include "workflow/Users.h"

namespace quorvane {

enum class KeySource {
    Voice,       // a new recording of the owner
    KeyFile,     // the security key file saved at enrolment
    TypedLines,  // the lines typed into the security key dialog (DecodeSteps::AskKeyLines)
};

struct DecodeRequest {
    std::vector<std::filesystem::path> files;
    std::string name;           // the owner the user named; empty: found by the owner rule
    bool nameRequired = false;  // the window: the name box must hold the owner
    KeySource keySource = KeySource::Voice;
    std::span<const std::int16_t> recording;  // KeySource::Voice
    std::filesystem::path keyFile;            // KeySource::KeyFile
    std::filesystem::path outputFolder;       // empty: beside each file
    bool createOutputFolder = false;          // the command line: made when missing
    bool deleteEncoded = false;
    bool checkOnly = false;  // test the key on each file, write nothing
};

// What stopped the owner stage, so that a front end can say what the refusal concerns.
enum class OwnerRefusal {
    None,
    KeyFile,         // the key file holds no key (message names the file)
    File,            // the single file cannot be read or was not encoded (message names it)
    NoName,          // no owner found: kEnterNameFirstMessage
    KeyOfOtherUser,  // the key file names another user: KeyOfOtherUserMessage
};

struct DecodeOwnerResult : StepResult {
    OwnerRefusal refusal = OwnerRefusal::None;
    std::string name;         // the owner, when done
    bool fromFile = false;    // the owner was read from the single file (none was named)
    bool notEncoded = false;  // that file is no encoded file
    std::string keyName;      // the key file's user name, empty without one
    GostKey key{};            // the key file's key (KeySource::KeyFile)
    // Left-overs of interrupted runs removed beside the files first (RemoveLeftoversBeside), so
    // that a name such a run reserved is not read as a file that was not encoded.
    std::vector<std::filesystem::path> leftoversRemoved;
};

// The owner stage: removes the left-overs of interrupted runs beside the files, reads the key
// file (KeySource::KeyFile), then finds the owner by the
// owner rule: the name given, else the owner written in the single file, else the key
// file's user name. A key file that names a user other than the owner is refused.
[[nodiscard]] DecodeOwnerResult DecodeOwner(const DecodeRequest& request);

// Several files named outside the file dialog (on the program's command line), which the dialog
// would not have offered: each one that cannot be opened, or that is not an encoded file, is told
// as choosing it alone tells it, with its path, and left out. A single file is kept as it is:
// choosing it tells its own refusal.
[[nodiscard]] std::vector<std::filesystem::path> ChoosableEncodedFiles(
    const std::vector<std::filesystem::path>& files, FrontEnd& front);

// What a decode asks of its front end beyond FrontEnd: the window's verdict label, its security
// key dialog, its files dialog and its worker thread; the command line answers from its options.
class DecodeSteps {
public:
    // The files of a batch, where their outputs go, and whether they are deleted after it.
    struct Files {
        std::vector<std::filesystem::path> files;
        std::filesystem::path outputFolder;
        bool deleteEncoded = false;
    };

    virtual ~DecodeSteps() = default;
    // The voice was judged (accepted or not), before anything else is asked.
    virtual void ShowVerdict(const VoiceKeyResult& voice) = 0;
    // The lines typed for `name` into the security key dialog; nothing when it was cancelled.
    virtual std::optional<std::vector<std::string>> AskKeyLines(std::string_view name) = 0;
    // The files as the user confirms them for `owner`, from the request's (`proposed`); nothing
    // when the user cancelled.
    virtual std::optional<Files> ConfirmFiles(std::string_view owner, const Files& proposed) = 0;
    // Runs `work` with the front end of the batch (the window: on a worker thread); false,
    // running nothing, when it cannot run now (another batch runs).
    virtual bool RunBatch(const std::vector<std::filesystem::path>& files,
                          const std::function<void(BatchFrontEnd&)>& work) = 0;
};

enum class DecodeEnding {
    Refused,    // refused with DecodeOutcome::message; nothing was decoded
    Rejected,   // the voice was judged and rejected
    Cancelled,  // the user cancelled a dialog; nothing was done
    NotRun,     // another batch runs
    Checked,    // the key was tested on each file (checkOnly)
    Decoded,    // the batch ran
};

struct DecodeOutcome {
    DecodeEnding ending = DecodeEnding::Refused;
    std::string message;                        // Refused: what to show
    std::optional<Failure> cause;               // Refused: what failed beneath it, if anything
    OwnerRefusal refusal = OwnerRefusal::None;  // Refused at the owner stage: what it concerns
    std::string owner;
    DecodeSteps::Files files;    // the batch's files, as confirmed
    bool folderCreated = false;  // the output folder was missing and has been made
    BatchResult batch;           // Checked, Decoded
    // Everything asked was done: checked, the key is right for every file; decoded, every
    // file is, and every encoded file that was to go is deleted (or kept because no check
    // value proved its key).
    [[nodiscard]] bool Succeeded() const;
};

// How a decode ended, as a script or a summary needs it: everything asked was done; the voice
// was rejected, or part was done (a file failed or its key was not right, an encoded file that
// was to go stayed); nothing could be done (refused, cancelled, or an input that cannot be
// opened at all).
enum class DecodeVerdict { Succeeded, Rejected, Failed };
[[nodiscard]] DecodeVerdict VerdictOf(const DecodeOutcome& outcome);

// The whole decode: the owner (DecodeOwner; the window requires the name it shows), the
// passphrase of a protected owner whose voice is judged (UnlockUser), the key (the voice's
// verdict, shown at once; the typed lines; the key file's), the files and the output folder
// confirmed, the output folder made when asked, then the batch: DecodeFiles, or CheckKeyOnFiles
// with checkOnly. `front` answers the questions before the batch, `steps` the rest.
[[nodiscard]] DecodeOutcome Decode(const DecodeRequest& request, Users& users, FrontEnd& front,
                                   DecodeSteps& steps);

}  // namespace quorvane
