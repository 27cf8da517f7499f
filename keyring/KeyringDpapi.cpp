#include <windows.h>
// After windows.h, which it needs:
#include <dpapi.h>
#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "files/PathText.h"
#include "files/SmallFile.h"
#include "keyring/Keyring.h"
#include "keyring/KeyringItem.h"

// The Windows backend: the passphrase protected by DPAPI for the current user, one file per
// protected file in %APPDATA%\Quorvane\Keyring, named by the SHA-256 of the entry (64 hex
// digits and ".dpapi"). An item is the entry as four lines (the program's id, the protected
// file's path, the user's name, the file's salt) followed by the protected passphrase. Only the
// same user on the same machine (or with the same roaming profile) can unprotect it. The entry is
// part of the protection's extra entropy, so an item copied to another file's name does not
// unprotect for that file.

namespace quorvane {

namespace {

// An item holds one protected passphrase: a few hundred bytes.
constexpr std::uint64_t kLargestItem = 64 * 1024;
constexpr const char* kEntropyPrefix = "org.quorvane.Quorvane.Passphrase\n";

void InitialiseGcrypt() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) {
            return;  // set up already, by the program or another part of it
        }
        if (gcry_check_version(GCRYPT_VERSION) != nullptr) {
            // Only hashing is used, of paths that are no secret.
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
}

// The folder of the items; empty when the user has no data folder.
std::filesystem::path KeyringFolder() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (appData == nullptr || appData[0] == L'\0') {
        return {};
    }
    return std::filesystem::path(appData) / L"Quorvane" / L"Keyring";
}

// The entry as the item states it: the program's id, the path, the user, the salt, one a line.
std::string EntryText(const KeyringEntry& entry) {
    return std::string(kKeyringApplicationId) + "\n" + PathText(KeyringItemPath(entry.file)) +
           "\n" + entry.user + "\n" + entry.salt + "\n";
}

std::filesystem::path ItemFile(const std::filesystem::path& folder, const std::string& entryText) {
    InitialiseGcrypt();
    std::array<unsigned char, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), entryText.data(), entryText.size());
    constexpr const char* kHex = "0123456789abcdef";
    std::string name;
    for (const unsigned char byte : digest) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0f];
    }
    return folder / (name + ".dpapi");
}

std::vector<BYTE> Entropy(const std::string& entryText) {
    const std::string text = kEntropyPrefix + entryText;
    return std::vector<BYTE>(text.begin(), text.end());
}

// Splits an item into its entry text and entry and the protected bytes after it; false when it
// is no item of this version.
bool ParseItem(const std::vector<std::uint8_t>& item, std::string& entryText, KeyringEntry& entry,
               std::vector<BYTE>& protectedBytes) {
    std::array<std::string, 4> lines;
    std::size_t at = 0;
    for (std::string& line : lines) {
        const auto end = std::find(item.begin() + static_cast<std::ptrdiff_t>(at), item.end(),
                                   std::uint8_t{'\n'});
        if (end == item.end()) {
            return false;
        }
        line.assign(item.begin() + static_cast<std::ptrdiff_t>(at), end);
        at = static_cast<std::size_t>(end - item.begin()) + 1;
    }
    if (lines[0] != kKeyringApplicationId) {
        return false;
    }
    entryText.assign(item.begin(), item.begin() + static_cast<std::ptrdiff_t>(at));
    entry.file = std::filesystem::path(std::u8string(lines[1].begin(), lines[1].end()));
    entry.user = lines[2];
    entry.salt = lines[3];
    protectedBytes.assign(item.begin() + static_cast<std::ptrdiff_t>(at), item.end());
    return true;
}

std::wstring WideText(const std::string& text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end())).wstring();
}

DATA_BLOB Blob(std::vector<BYTE>& bytes) {
    return DATA_BLOB{static_cast<DWORD>(bytes.size()), bytes.data()};
}

// Frees the output of a DPAPI call, wiping it first when it holds a secret.
class LocalBlob final {
public:
    explicit LocalBlob(bool secret) : secret_(secret) {}
    ~LocalBlob() {
        if (blob_.pbData != nullptr) {
            if (secret_) {
                SecureZeroMemory(blob_.pbData, blob_.cbData);
            }
            LocalFree(blob_.pbData);
        }
    }
    LocalBlob(const LocalBlob&) = delete;
    LocalBlob& operator=(const LocalBlob&) = delete;
    [[nodiscard]] DATA_BLOB* Out() { return &blob_; }
    [[nodiscard]] const DATA_BLOB& Get() const { return blob_; }

private:
    DATA_BLOB blob_{0, nullptr};
    bool secret_;
};

}  // namespace

KeyringStatus RememberPassphrase(const KeyringEntry& entry, std::span<const char> passphrase) {
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    const std::string entryText = EntryText(entry);
    const std::wstring label = WideText(KeyringItemLabel(entry.user, KeyringItemPath(entry.file)));
    SecretBytes plain(passphrase.begin(), passphrase.end());
    DATA_BLOB input{static_cast<DWORD>(plain.size()), plain.data()};
    std::vector<BYTE> entropyBytes = Entropy(entryText);
    DATA_BLOB entropy = Blob(entropyBytes);
    LocalBlob output(false);
    if (!CryptProtectData(&input, label.c_str(), &entropy, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, output.Out())) {
        return KeyringStatus::Failed;
    }
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        return KeyringStatus::Failed;
    }
    std::vector<std::uint8_t> item(entryText.begin(), entryText.end());
    item.insert(item.end(), output.Get().pbData, output.Get().pbData + output.Get().cbData);
    if (!WriteFileAtomically(ItemFile(folder, entryText), item, true)) {
        return KeyringStatus::Failed;
    }
    return KeyringStatus::Done;
}

KeyringStatus RecallPassphrase(const KeyringEntry& entry, SecretText& passphrase) {
    passphrase.clear();
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    const std::string entryText = EntryText(entry);
    const std::filesystem::path file = ItemFile(folder, entryText);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return error ? KeyringStatus::Failed : KeyringStatus::NotFound;
    }
    std::vector<std::uint8_t> stored;
    std::string storedText;
    KeyringEntry storedEntry;
    std::vector<BYTE> protectedBytes;
    Result<std::vector<std::uint8_t>> read = ReadSmallFile(file, kLargestItem);
    if (read) {
        stored = std::move(*read);
    }
    if (!read || !ParseItem(stored, storedText, storedEntry, protectedBytes) ||
        storedText != entryText) {
        return KeyringStatus::Failed;
    }
    DATA_BLOB input = Blob(protectedBytes);
    std::vector<BYTE> entropyBytes = Entropy(entryText);
    DATA_BLOB entropy = Blob(entropyBytes);
    LocalBlob output(true);
    if (!CryptUnprotectData(&input, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                            output.Out())) {
        return KeyringStatus::Failed;
    }
    const char* const plain = reinterpret_cast<const char*>(output.Get().pbData);
    passphrase.assign(plain, plain + output.Get().cbData);
    return KeyringStatus::Done;
}

KeyringStatus ForgetPassphrase(const KeyringEntry& entry) {
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    std::error_code error;
    const bool removed = std::filesystem::remove(ItemFile(folder, EntryText(entry)), error);
    if (error) {
        return KeyringStatus::Failed;
    }
    return removed ? KeyringStatus::Done : KeyringStatus::NotFound;
}

bool KeyringAvailable() {
    return !KeyringFolder().empty();
}

KeyringStatus ForgetStalePassphrases(const std::filesystem::path& folder,
                                     const std::function<bool(const KeyringEntry&)>& current) {
    const std::filesystem::path items = KeyringFolder();
    if (items.empty()) {
        return KeyringStatus::Unavailable;
    }
    // Resolved as the items' own paths are, by a file of the folder.
    const std::string folderText = PathText(KeyringItemPath(folder / "x").parent_path());
    std::vector<std::filesystem::path> stale;
    std::error_code error;
    std::filesystem::directory_iterator it(items, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (it->path().extension() != ".dpapi") {
            continue;
        }
        std::string entryText;
        KeyringEntry entry;
        std::vector<BYTE> protectedBytes;
        const Result<std::vector<std::uint8_t>> read = ReadSmallFile(it->path(), kLargestItem);
        if (!read) {
            continue;
        }
        const std::vector<std::uint8_t>& stored = *read;
        // Items of earlier versions (the protected bytes alone) can never be found again.
        const bool parsed = ParseItem(stored, entryText, entry, protectedBytes);
        if (!parsed || (PathText(entry.file.parent_path()) == folderText && !current(entry))) {
            stale.push_back(it->path());
        }
    }
    KeyringStatus status = KeyringStatus::Done;
    for (const std::filesystem::path& item : stale) {
        std::error_code removeError;
        if (!std::filesystem::remove(item, removeError) || removeError) {
            status = KeyringStatus::Failed;
        }
    }
    return status;
}

}  // namespace quorvane
