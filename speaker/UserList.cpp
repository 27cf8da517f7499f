#include "speaker/UserList.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "files/Secret.h"
#include "speaker/ModelFile.h"

namespace quorvane {

const UserRecord* UserList::Find(std::string_view name) const {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [name](const UserRecord& r) { return r.name == name; });
    return found == records_.end() ? nullptr : &*found;
}

UserRecord* UserList::FindToChange(std::string_view name) {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [name](const UserRecord& r) { return r.name == name; });
    return found == records_.end() ? nullptr : &*found;
}

std::vector<std::string> UserList::Names() const {
    std::vector<std::string> names;
    names.reserve(records_.size());
    for (const UserRecord& record : records_) {
        names.push_back(record.name);
    }
    return names;
}

void WipeModels(UserRecord& record) {
    for (VoiceCodebook& book : record.codebooks) {
        if (book.codewords) {
            for (Codeword& entry : *book.codewords) {
                WipeMemory(entry.values.data(), entry.values.size() * sizeof(float));
            }
        }
    }
    WipeMemory(&record.threshold, sizeof(record.threshold));
}

UserList::~UserList() {
    Clear();
}

void UserList::Clear() {
    for (UserRecord& record : records_) {
        WipeModels(record);
    }
    records_.clear();
}

bool UserList::Remove(std::string_view name) {
    const auto found = std::find_if(records_.begin(), records_.end(),
                                    [name](const UserRecord& r) { return r.name == name; });
    if (found == records_.end()) {
        return false;
    }
    WipeModels(*found);
    records_.erase(found);
    return true;
}

std::int32_t UserList::Append(UserRecord record) {
    records_.push_back(std::move(record));
    return static_cast<std::int32_t>(records_.size());
}

std::int32_t AppendUser(UserList& users, std::span<const VoiceCodebook, 3> codebooks,
                        std::string_view name, float threshold) {
    UserRecord record;
    record.name = std::string(name);
    record.threshold = threshold;
    for (std::size_t i = 0; i < codebooks.size(); ++i) {
        const std::vector<float> rows = ExportCodewords(codebooks[i]);
        ImportCodewords(record.codebooks[i], rows, CountFilledCodewords(codebooks[i]),
                        codebooks[i].cepstrumOrder);
    }
    return users.Append(std::move(record));
}

}  // namespace quorvane
