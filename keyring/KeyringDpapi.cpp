#include <windows.h>
// After windows.h, which it needs:
#include <dpapi.h>
#include <gcrypt.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <system_error>
#include <vector>

#include "files/PathText.h"
#include "files/SmallFile.h"
#include "keyring/Keyring.h"
#include "keyring/KeyringItem.h"

// The Windows backend: the passphrase protected by DPAPI for the current user, one file per
// speaker file in %APPDATA%\Quorvane\Keyring, named by the SHA-256 of the speaker file's path
// (64 hex digits and ".dpapi"). Only the same user on the same machine (or with the same
// roaming profile) can unprotect it. The path is part of the protection's extra entropy, so an
// item copied to another file's name does not unprotect for that file.

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

std::filesystem::path ItemFile(const std::filesystem::path& folder, const std::string& pathText) {
    InitialiseGcrypt();
    std::array<unsigned char, 32> digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), pathText.data(), pathText.size());
    constexpr const char* kHex = "0123456789abcdef";
    std::string name;
    for (const unsigned char byte : digest) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0f];
    }
    return folder / (name + ".dpapi");
}

std::vector<BYTE> Entropy(const std::string& pathText) {
    const std::string text = kEntropyPrefix + pathText;
    return std::vector<BYTE>(text.begin(), text.end());
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

KeyringStatus RememberPassphrase(const std::filesystem::path& speakerFile,
                                 std::string_view userName, std::span<const char> passphrase) {
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    const std::filesystem::path itemPath = KeyringItemPath(speakerFile);
    const std::string pathText = PathText(itemPath);
    const std::wstring label = WideText(KeyringItemLabel(userName, itemPath));
    SecretBytes plain(passphrase.begin(), passphrase.end());
    DATA_BLOB input{static_cast<DWORD>(plain.size()), plain.data()};
    std::vector<BYTE> entropyBytes = Entropy(pathText);
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
    const std::span<const std::uint8_t> bytes(output.Get().pbData, output.Get().cbData);
    if (!WriteFileAtomically(ItemFile(folder, pathText), bytes, true)) {
        return KeyringStatus::Failed;
    }
    return KeyringStatus::Done;
}

KeyringStatus RecallPassphrase(const std::filesystem::path& speakerFile, SecretText& passphrase) {
    passphrase.clear();
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    const std::string pathText = PathText(KeyringItemPath(speakerFile));
    const std::filesystem::path file = ItemFile(folder, pathText);
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        return error ? KeyringStatus::Failed : KeyringStatus::NotFound;
    }
    std::vector<std::uint8_t> stored;
    if (!ReadSmallFile(file, kLargestItem, stored)) {
        return KeyringStatus::Failed;
    }
    DATA_BLOB input = Blob(stored);
    std::vector<BYTE> entropyBytes = Entropy(pathText);
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

KeyringStatus ForgetPassphrase(const std::filesystem::path& speakerFile) {
    const std::filesystem::path folder = KeyringFolder();
    if (folder.empty()) {
        return KeyringStatus::Unavailable;
    }
    const std::string pathText = PathText(KeyringItemPath(speakerFile));
    std::error_code error;
    const bool removed = std::filesystem::remove(ItemFile(folder, pathText), error);
    if (error) {
        return KeyringStatus::Failed;
    }
    return removed ? KeyringStatus::Done : KeyringStatus::NotFound;
}

}  // namespace quorvane
