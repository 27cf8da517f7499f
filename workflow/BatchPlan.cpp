#include "workflow/BatchPlan.h"

#include <system_error>

#include "files/FileIdentity.h"
#include "files/NameComparison.h"

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
    [[nodiscard]] bool Exists(std::size_t i) const { return entries_[i].identity.has_value(); }
    [[nodiscard]] bool Same(std::size_t a, std::size_t b) const {
        const Entry& x = entries_[a];
        const Entry& y = entries_[b];
        if (x.identity && y.identity && x.identity->device == y.identity->device &&
            x.identity->index == y.identity->index) {
            return true;
        }
        return x.folder == y.folder && x.name == y.name;
    }

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
    std::vector<std::optional<OutputConflict>> conflicts(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        if (!out[i]) {
            continue;
        }
        for (std::size_t later = i + 1; later < inputs.size() && !conflicts[i]; ++later) {
            if (entries.Exists(in[later]) && entries.Same(*out[i], in[later])) {
                conflicts[i] = OutputConflict{later, true};
            }
        }
        for (std::size_t earlier = 0; earlier < i && !conflicts[i]; ++earlier) {
            if (out[earlier] && !conflicts[earlier] && entries.Same(*out[i], *out[earlier])) {
                conflicts[i] = OutputConflict{earlier, false};
            }
        }
    }
    return conflicts;
}

}  // namespace quorvane
