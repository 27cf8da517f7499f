#include "workflow/BatchPlan.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <system_error>
#include <utility>

#include "files/FileIdentity.h"
#include "files/NameComparison.h"
#include "files/PlatformFile.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// A path of the batch as the comparison sees it.
struct Entry {
    std::optional<FileIdentity> identity;  // the file it names, when that exists
    std::size_t folder = 0;                // among the batch's folders
    std::size_t name = 0;                  // the first of the names its folder takes for one
};

class Entries final {
public:
    // Adds `path` (an output when `written`); its index.
    std::size_t Add(const fs::path& path, bool written) {
        std::error_code error;
        const fs::path absolute = fs::absolute(path, error).lexically_normal();
        Entry entry;
        entry.name = entries_.size();
        entry.identity = IdentityOf(path);
        entry.folder = FolderIndex(absolute.parent_path());
        written_[entry.folder] = written_[entry.folder] || written;
        entries_.push_back(entry);
        names_.push_back(absolute.filename());
        return entries_.size() - 1;
    }
    // Compares the names of each folder that is written to as its file system does; in the
    // others no name of the batch can take another's place.
    void CompareNames() {
        for (std::size_t folder = 0; folder < folders_.size(); ++folder) {
            if (!written_[folder]) {
                continue;
            }
            std::vector<std::size_t> members;
            std::vector<fs::path> names;
            for (std::size_t i = 0; i < entries_.size(); ++i) {
                if (entries_[i].folder == folder) {
                    members.push_back(i);
                    names.push_back(names_[i]);
                }
            }
            const std::vector<std::size_t> same = SameNames(folders_[folder], names);
            for (std::size_t m = 0; m < members.size(); ++m) {
                entries_[members[m]].name = members[same[m]];
            }
        }
    }
    [[nodiscard]] const Entry& operator[](std::size_t i) const { return entries_[i]; }

private:
    // One folder under two spellings (a link to it, another case of its name where that is
    // the same folder) is one folder.
    std::size_t FolderIndex(const fs::path& folder) {
        for (std::size_t i = 0; i < folders_.size(); ++i) {
            std::error_code error;
            if (folders_[i] == folder || fs::equivalent(folders_[i], folder, error)) {
                return i;
            }
        }
        folders_.push_back(folder);
        written_.push_back(false);
        return folders_.size() - 1;
    }

    std::vector<Entry> entries_;
    std::vector<fs::path> names_;
    std::vector<fs::path> folders_;
    std::vector<bool> written_;  // per folder: an output of the batch goes there
};

}  // namespace

namespace {

// The files and names of a batch's paths, each with the paths that have it, in order.
class Index final {
public:
    void Add(const Entry& entry, std::size_t path) {
        if (entry.identity) {
            byFile_[{entry.identity->device, entry.identity->index}].push_back(path);
        }
        byName_[{entry.folder, entry.name}].push_back(path);
    }
    // The first path from `from` on that is the same file as `entry`, if any.
    [[nodiscard]] std::optional<std::size_t> FirstFrom(const Entry& entry, std::size_t from) const {
        std::optional<std::size_t> first;
        if (entry.identity) {
            first = FirstIn(byFile_, {entry.identity->device, entry.identity->index}, from);
        }
        const std::optional<std::size_t> named = FirstIn(byName_, {entry.folder, entry.name}, from);
        return first && named ? std::min(*first, *named) : first ? first : named;
    }

private:
    using FileKey = std::pair<std::uint64_t, std::uint64_t>;  // device, index
    using NameKey = std::pair<std::size_t, std::size_t>;      // folder, name
    template <typename Key>
    static std::optional<std::size_t> FirstIn(const std::map<Key, std::vector<std::size_t>>& map,
                                              const Key& key, std::size_t from) {
        const auto found = map.find(key);
        if (found == map.end()) {
            return std::nullopt;
        }
        const auto next = std::lower_bound(found->second.begin(), found->second.end(), from);
        return next == found->second.end() ? std::nullopt : std::optional(*next);
    }
    std::map<FileKey, std::vector<std::size_t>> byFile_;
    std::map<NameKey, std::vector<std::size_t>> byName_;
};

}  // namespace

std::vector<std::optional<OutputConflict>> PlanOutputs(
    const std::vector<fs::path>& inputs, const std::vector<std::optional<fs::path>>& outputs) {
    Entries entries;
    std::vector<std::size_t> in;
    std::vector<std::optional<std::size_t>> out;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        in.push_back(entries.Add(inputs[i], false));
        out.push_back(outputs[i] ? std::optional(entries.Add(*outputs[i], true)) : std::nullopt);
    }
    entries.CompareNames();
    // The inputs that exist, by file and by name; an input that does not exist conflicts with
    // nothing (its file fails on its own).
    Index existingInputs;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (entries[in[i]].identity) {
            existingInputs.Add(entries[in[i]], i);
        }
    }
    Index earlierOutputs;  // the outputs planned so far that are not refused
    std::vector<std::optional<OutputConflict>> conflicts(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!out[i]) {
            continue;
        }
        const Entry& output = entries[*out[i]];
        if (const std::optional<std::size_t> later = existingInputs.FirstFrom(output, i + 1)) {
            conflicts[i] = OutputConflict{*later, true};
        } else if (const std::optional<std::size_t> earlier = earlierOutputs.FirstFrom(output, 0)) {
            conflicts[i] = OutputConflict{*earlier, false};
        } else {
            earlierOutputs.Add(output, i);
        }
    }
    return conflicts;
}

}  // namespace quorvane
