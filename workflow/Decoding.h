#pragma once

// A decode request as either front end makes it: the encoded files, the owner named or
// not, where the key comes from, the output folder, and whether to delete the encoded
// files or only check the key. It owns the rules both front ends share before the batch
// runs (whose files they are, whether a key file belongs to that user) and runs the batch
// of Coding.h.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/Gost.h"
#include "speaker/UserList.h"
#include "workflow/Coding.h"
#include "workflow/FrontEnd.h"

namespace quorvane {

enum class KeySource {
    Voice,       // a new recording of the owner
    KeyFile,     // the security key file saved at enrolment
    TypedLines,  // the lines typed into the security key dialog
};

struct DecodeRequest {
    std::vector<std::filesystem::path> files;
    std::string name;  // the owner the user named; empty: found by the owner rule
    KeySource keySource = KeySource::Voice;
    std::span<const std::int16_t> recording;  // KeySource::Voice
    std::filesystem::path keyFile;            // KeySource::KeyFile
    std::vector<std::string> keyLines;        // KeySource::TypedLines
    std::filesystem::path outputFolder;       // empty: beside each file
    bool deleteEncoded = false;
    bool checkOnly = false;  // test the key on each file, write nothing
};

// What stopped the owner stage, so that a front end can say what the refusal concerns.
enum class OwnerRefusal {
    None,
    KeyFile,         // the key file holds no key (message names the file)
    File,            // the single file cannot be read or was not encoded
    NoName,          // no owner found: kEnterNameFirstMessage
    KeyOfOtherUser,  // the key file names another user: KeyOfOtherUserMessage
};

struct DecodeOwnerResult : StepResult {
    OwnerRefusal refusal = OwnerRefusal::None;
    std::string name;       // the owner, when done
    bool fromFile = false;  // the owner was read from the single file (none was named)
    std::string keyName;    // the key file's user name, empty without one
    GostKey key{};          // the key file's key (KeySource::KeyFile)
};

// The owner stage: reads the key file (KeySource::KeyFile), then finds the owner by the
// owner rule: the name given, else the owner written in the single file, else the key
// file's user name. A key file that names a user other than the owner is refused.
[[nodiscard]] DecodeOwnerResult DecodeOwner(const DecodeRequest& request);

// Several files named outside the file dialog (on the program's command line), which the dialog
// would not have offered: each one that cannot be opened, or that is not an encoded file, is told
// as choosing it alone tells it, with its path, and left out. A single file is kept as it is:
// choosing it tells its own refusal.
[[nodiscard]] std::vector<std::filesystem::path> ChoosableEncodedFiles(
    const std::vector<std::filesystem::path>& files, FrontEnd& front);

// The key stage for the owner: the voice verdict (KeyFromVoice), the typed lines
// (KeyFromLines), or the key file's key read by the owner stage.
[[nodiscard]] VoiceKeyResult DecodeKey(const DecodeRequest& request, const DecodeOwnerResult& owner,
                                       const UserList& users, FrontEnd& front);

// The batch: CheckKeyOnFiles with checkOnly, else DecodeFiles into the output folder.
BatchResult RunDecodeRequest(const DecodeRequest& request, std::string_view owner,
                             const GostKey& key, BatchFrontEnd& front);

}  // namespace quorvane
