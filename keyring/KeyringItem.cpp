#include "keyring/KeyringItem.h"

#include <system_error>

#include "files/PathText.h"

namespace quorvane {

std::filesystem::path KeyringItemPath(const std::filesystem::path& speakerFile) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(speakerFile, error);
    if (error) {
        return speakerFile.lexically_normal();
    }
    std::filesystem::path resolved = std::filesystem::weakly_canonical(absolute, error);
    if (error) {
        return absolute.lexically_normal();
    }
    return resolved;
}

std::string KeyringItemLabel(std::string_view userName, const std::filesystem::path& itemPath) {
    std::string label = "Quorvane passphrase of ";
    label += userName;
    label += " (";
    label += PathText(itemPath.parent_path());
    label += ")";
    return label;
}

}  // namespace quorvane
