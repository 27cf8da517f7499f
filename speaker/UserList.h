#pragma once

// The registered users: one record per user with the user's voice models, in list order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/VoiceCodebook.h"

namespace quorvane {

// One registered user. The codebooks hold only filled codewords (as rebuilt by
// ImportCodewords), in the order of the phrase codebooks the user was added from.
struct UserRecord {
    std::string name;
    std::array<VoiceCodebook, 3> codebooks;
    float threshold = 0.0f;
    // The user's protected speaker file (speaker/ProtectedFile.h); empty for an ordinary one.
    std::filesystem::path protectedFile;
    // The models are still locked behind the passphrase: codebooks empty, threshold 0. Nothing
    // may use the models (or derive the key) of a locked record.
    bool locked = false;
    // An ordinary speaker file of the user lies beside the protected one: a protection that was
    // interrupted between writing the protected file and removing the ordinary one.
    bool unprotectedCopy = false;
};

// Overwrites the record's codeword values with zeros (before the record is freed: the models
// give the user's key).
void WipeModels(UserRecord& record);

// The registered users in list order: loading order at start, then adding order.
// Names are compared byte for byte, case-sensitively. References and pointers to
// records stay valid until that record is removed.
class UserList final {
public:
    using const_iterator = std::list<UserRecord>::const_iterator;

    UserList() = default;
    UserList(const UserList&) = default;
    UserList& operator=(const UserList&) = default;
    UserList(UserList&&) = default;
    UserList& operator=(UserList&&) = default;
    // The users' models are the source of their keys: overwritten before they are freed.
    ~UserList();

    [[nodiscard]] bool empty() const { return records_.empty(); }
    [[nodiscard]] std::size_t size() const { return records_.size(); }
    [[nodiscard]] const_iterator begin() const { return records_.begin(); }
    [[nodiscard]] const_iterator end() const { return records_.end(); }

    // The first record whose name equals `name` exactly, or nullptr.
    [[nodiscard]] const UserRecord* Find(std::string_view name) const;
    // The same record, for changing it in place (unlocking, protecting).
    [[nodiscard]] UserRecord* FindToChange(std::string_view name);
    // The names in list order (what the user boxes list).
    [[nodiscard]] std::vector<std::string> Names() const;
    // Removes the first record with exactly this name; false when there is none.
    bool Remove(std::string_view name);
    void Clear();
    // Appends the record as it is; returns its 1-based position. AppendUser is the
    // usual way in.
    std::int32_t Append(UserRecord record);

private:
    std::list<UserRecord> records_;
};

// Appends a record built from copies of the filled codewords of `codebooks` (via
// ExportCodewords/ImportCodewords), the name and the threshold. Returns the new
// record's 1-based position. Does not check the name.
std::int32_t AppendUser(UserList& users, std::span<const VoiceCodebook, 3> codebooks,
                        std::string_view name, float threshold);

}  // namespace quorvane
