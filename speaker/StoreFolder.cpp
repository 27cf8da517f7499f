#include "speaker/StoreFolder.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace quorvane {

namespace {

// The file name as bytes, for the byte-order sort and the name tests.
std::string NameBytes(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

// The regular files of the folder whose names `take` accepts, in byte order of their names.
template <typename Take>
std::vector<std::filesystem::path> ListFiles(const std::filesystem::path& folder, Take take) {
    std::vector<std::pair<std::string, std::filesystem::path>> found;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) {
        return {};
    }
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) {
            break;
        }
        std::string name = NameBytes(it->path());
        std::error_code typeError;
        if (!take(name) || !it->is_regular_file(typeError)) {
            continue;
        }
        found.emplace_back(std::move(name), it->path());
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::filesystem::path> paths;
    paths.reserve(found.size());
    for (auto& entry : found) {
        paths.push_back(std::move(entry.second));
    }
    return paths;
}

}  // namespace

std::string AlreadyInListMessage(std::string_view name) {
    return "User " + std::string(name) + " already is in the list";
}

std::filesystem::path StoreFilePath(const std::filesystem::path& speakersDir, std::string_view name,
                                    std::string_view extension) {
    const std::string leaf = std::string(name) + std::string(extension);
    return speakersDir / std::u8string(leaf.begin(), leaf.end());
}

std::vector<std::filesystem::path> ListStoreFiles(const std::filesystem::path& speakersDir,
                                                  std::string_view extension) {
    return ListFiles(speakersDir,
                     [extension](const std::string& name) { return name.ends_with(extension); });
}

std::vector<std::filesystem::path> FindKeptFiles(const std::filesystem::path& speakersDir,
                                                 std::string_view name,
                                                 std::string_view extension) {
    const std::string prefix =
        std::string(name) + std::string(extension) + std::string(kKeptSpeakerFileInfix);
    return ListFiles(speakersDir, [&prefix](const std::string& leaf) {
        return leaf.size() > prefix.size() && leaf.starts_with(prefix) &&
               leaf.find_first_not_of("0123456789", prefix.size()) == std::string::npos;
    });
}

}  // namespace quorvane
