#pragma once

// The registered users: their records, the checks and messages of adding and
// removing one, and the security key derived from a user's voice models.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "cipher/Gost.h"

namespace quorvane {

// A user's security key: the cipher key of the user's files, eight words, word 0 first.
using UserKey = GostKey;

// ---- Messages of adding and removing a user (shown by the caller) ----

inline constexpr std::string_view kTrainingFirstMessage = "You should perform training first!";
inline constexpr std::string_view kEnterNameMessage = "Enter your name!";
inline constexpr std::string_view kForbiddenSymbolsMessage =
    "You can not use symbols: \\ / : * ? \" < > | and \"Space\" symbols in the name";
inline constexpr std::string_view kNameTooLongMessage =
    "The name is too long: a name may have at most 999 characters";
inline constexpr std::string_view kUserExistsMessage =
    "User with such name already exists. Please select different name!";
inline constexpr std::string_view kUnableToAddUserMessage = "Unable to add user";

// The question after a user was added (Yes/No, question icon).
inline constexpr std::string_view kSecurityKeyCaption = "Security key generation";
inline constexpr std::string_view kSecurityKeyQuestion =
    "If you want program can save security key.\n"
    "This security key can be used if something\n"
    "happend with your voice. You will be able\n"
    "to decode your files using this key.\n"
    "Do you want to save it?";
// The save dialog for the key file: title, filter, and the suffix of the preset name.
inline constexpr std::string_view kKeyFileDialogTitle = "Saving security key";
inline constexpr std::string_view kKeyFileDialogFilter = "Security key files|*.txt|All files|*.*";
inline constexpr std::string_view kKeyFileNameSuffix = "_key.txt";
// Reported when the chosen key file cannot be written; the user stays added.
inline constexpr std::string_view kKeyFileNotSavedMessage = "Unable to save security key file: ";

inline constexpr std::string_view kNoRegisteredUsersMessage = "There are no registered users";
inline constexpr std::string_view kUserNotExistsMessage =
    "User with such name does not exist. Please check the name!";
// The warning before a removal (Yes/No, warning icon).
inline constexpr std::string_view kRemoveWarningCaption = "Warning";
inline constexpr std::string_view kRemoveWarningQuestion =
    "Deleting this user you will not be able\n"
    "to decode files, that were encoded using phrases of\n"
    "this user if you dont't have security key.\n"
    "\n"
    "Do you want to continue?";
// The question when several speaker files carry the user's name (Yes/No, error icon).
inline constexpr std::string_view kSeveralFilesCaption = "Error";
[[nodiscard]] std::string SeveralFilesQuestion(std::int32_t fileCount);

// ---- Names ----

// Longest name a record holds (a 1000-byte zero-terminated field in the original layout,
// and the longest first token a speaker file may have).
inline constexpr std::size_t kMaxUserNameLength = 999;
// The symbols a name may not hold besides white space (which would split the name
// where speaker and encoded files are told apart by their first token).
inline constexpr std::string_view kForbiddenNameSymbols = "\\/:*?\"<>|";

// The checks of a name alone, in order: empty (kEnterNameMessage), a blank or any
// other white space or one of kForbiddenNameSymbols (kForbiddenSymbolsMessage), more
// than kMaxUserNameLength bytes (kNameTooLongMessage). Returns the message to show,
// or nothing when the name is acceptable. Dots and non-ASCII letters are allowed.
[[nodiscard]] std::optional<std::string_view> CheckUserName(std::string_view name);

class UserList;

// All checks of "Add new user..." before anything is stored, in order: a threshold
// not above 0 (kTrainingFirstMessage), CheckUserName, a record of the list with
// exactly this name (kUserExistsMessage). Returns the message to show, or nothing.
[[nodiscard]] std::optional<std::string_view> CheckNewUser(float trainedThreshold,
                                                           std::string_view name,
                                                           const UserList& users);

// ---- Records and the list ----

// One registered user. The codebooks hold only filled codewords (as rebuilt by
// ImportCodewords), in the order of the phrase codebooks the user was added from.
struct UserRecord {
    std::string name;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
};

// The registered users in list order: loading order at start, then adding order.
// Names are compared byte for byte, case-sensitively. References and pointers to
// records stay valid until that record is removed.
class UserList final {
public:
    using const_iterator = std::list<UserRecord>::const_iterator;

    [[nodiscard]] bool empty() const { return records_.empty(); }
    [[nodiscard]] std::size_t size() const { return records_.size(); }
    [[nodiscard]] const_iterator begin() const { return records_.begin(); }
    [[nodiscard]] const_iterator end() const { return records_.end(); }

    // The first record whose name equals `name` exactly, or nullptr.
    [[nodiscard]] const UserRecord* Find(std::string_view name) const;
    // The names in list order (what the user boxes list).
    [[nodiscard]] std::vector<std::string> Names() const;
    // Removes the first record with exactly this name; false when there is none.
    bool Remove(std::string_view name);
    void Clear() { records_.clear(); }
    // Appends the record as it is; returns its 1-based position. AppendUser is the
    // usual way in.
    std::int32_t Append(UserRecord record);

private:
    std::list<UserRecord> records_;
};

// Appends a record built from copies of the filled codewords of `codebooks` (via
// ExportCodewords/ImportCodewords), the name and the threshold. Returns the new
// record's 1-based position. Does not check the name (see CheckNewUser).
std::int32_t AppendUser(UserList& users, std::span<const VoiceCodebook, 3> codebooks,
                        std::string_view name, float threshold);

// ---- The security key ----

// The two fixed constants of the key derivation (whole numbers, exact in float32).
// Frozen: every key ever saved depends on them; documented in docs/FORMAT.md.
inline constexpr float kKeyWordStep = 7919.0f;      // four decimal digits
inline constexpr float kKeyWordOffset = 104729.0f;  // six decimal digits

// The user's key from the three phrase codebooks (or a record's codebooks, which
// give the same key). A codebook with fewer than 8 filled codewords adds nothing.
// Computed exactly, so the key is the same on every platform and compiler.
[[nodiscard]] GostKey DeriveUserKey(std::span<const VoiceCodebook, 3> codebooks);

// ---- The key file ----

// The text of a key file: "Users name: " + name, "Your key:", then the eight words as
// signed decimal integers, each line ended by the platform's line end.
[[nodiscard]] std::string FormatKeyFile(std::string_view name, const GostKey& key);

// Writes FormatKeyFile atomically to `path`, replacing an existing file only when the
// whole new file was written; readable by the owner only where the platform allows.
[[nodiscard]] bool WriteKeyFile(const std::filesystem::path& path, std::string_view name,
                                const GostKey& key);

// Reads one key word as the key file holds it: a signed 32-bit decimal integer
// (optional minus sign, digits only, surrounding blanks ignored). False otherwise.
[[nodiscard]] bool ParseKeyWord(std::string_view text, std::uint32_t& word);

// Reads a key file as FormatKeyFile writes it (LF or CR LF line ends). The two
// heading lines are optional; the first eight further non-empty lines are the words.
// `name` receives the name of the "Users name: " line (empty without one).
// Returns false, leaving `key` unchanged, when eight valid words are not found.
[[nodiscard]] bool ParseKeyFile(std::string_view text, std::string& name, GostKey& key);

// Reads and parses a key file of at most 64 KiB; false when it cannot be read.
[[nodiscard]] bool ReadKeyFile(const std::filesystem::path& path, std::string& name, GostKey& key);

}  // namespace quorvane
