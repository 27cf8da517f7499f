#include "cipher/FileTag.h"

#include <gcrypt.h>

#include <algorithm>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

namespace quorvane {

namespace {

constexpr std::uint8_t kKeyCheckDomain = 0x01;
constexpr std::uint8_t kChunkDomain = 0x02;
constexpr std::uint8_t kFileDomain = 0x03;
constexpr std::string_view kLabelV1 = "Quorvane tag key v1";
constexpr std::string_view kLabelV2 = "Quorvane tag key v2";
constexpr std::size_t kGmacKeyBytes = 16;
constexpr std::size_t kGmacNonceBytes = 12;

// libgcrypt's own error codes, worded by the library.
class GcryptCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "libgcrypt"; }
    std::string message(int value) const override {
        return gcry_strerror(static_cast<gcry_error_t>(value));
    }
};

// A failing library call, thrown as a std::system_error that carries the library's reason.
[[noreturn]] void ThrowLibraryError(gcry_error_t error, const char* call) {
    static const GcryptCategory category;
    throw std::system_error(static_cast<int>(gcry_err_code(error)), category, call);
}

void Check(gcry_error_t error, const char* call) {
    if (error != 0) {
        ThrowLibraryError(error, call);
    }
}

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) != 0) {
            return;  // the program set the library up itself
        }
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) {
            ThrowLibraryError(gcry_error(GPG_ERR_NOT_SUPPORTED), "gcry_check_version");
        }
        // Only hashing is used: the tag key lives in ordinary memory like the cipher key.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

gcry_md_hd_t OpenHmac(std::span<const std::uint8_t> key) {
    InitialiseLibrary();
    gcry_md_hd_t handle = nullptr;
    Check(gcry_md_open(&handle, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC), "gcry_md_open");
    if (const gcry_error_t error = gcry_md_setkey(handle, key.data(), key.size()); error != 0) {
        gcry_md_close(handle);
        ThrowLibraryError(error, "gcry_md_setkey");
    }
    return handle;
}

void LittleEndian64(std::uint64_t value, std::uint8_t* out) {
    for (int i = 0; i < 8; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

Tag ReadTag(gcry_md_hd_t handle) {
    const unsigned char* digest = gcry_md_read(handle, GCRY_MD_SHA256);
    if (digest == nullptr) {
        ThrowLibraryError(gcry_error(GPG_ERR_DIGEST_ALGO), "gcry_md_read");
    }
    Tag tag{};
    std::copy_n(digest, tag.size(), tag.begin());
    return tag;
}

// Closes the handle on every path.
struct HashHandle {
    gcry_md_hd_t handle;
    ~HashHandle() { gcry_md_close(handle); }
};

struct MacHandle {
    gcry_mac_hd_t handle = nullptr;
    ~MacHandle() {
        if (handle != nullptr) {
            gcry_mac_close(handle);
        }
    }
};

}  // namespace

TagKey::TagKey(const GostKey& key, const SubstitutionTable& table, TrailerVersion version)
    : version_(version) {
    std::array<std::uint8_t, sizeof(GostKey) + sizeof(SubstitutionTable)> secret{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        for (std::size_t b = 0; b < 4; ++b) {
            secret[4 * i + b] = static_cast<std::uint8_t>(key[i] >> (8 * b));
        }
    }
    std::copy(table.begin(), table.end(), secret.begin() + sizeof(GostKey));
    HashHandle hash{OpenHmac(secret)};
    secret.fill(0);
    const std::string_view label = version == TrailerVersion::V1 ? kLabelV1 : kLabelV2;
    gcry_md_write(hash.handle, label.data(), label.size());
    key_ = ReadTag(hash.handle);
}

TagKey::~TagKey() {
    key_.fill(0);
}

Tag TagKey::KeyCheck(std::span<const std::uint8_t> header) const {
    HashHandle hash{OpenHmac(key_)};
    gcry_md_putc(hash.handle, kKeyCheckDomain);
    gcry_md_write(hash.handle, header.data(), header.size());
    return ReadTag(hash.handle);
}

void TagKey::ChunkValue(std::uint64_t index, std::span<const std::uint8_t> chunk,
                        std::span<std::uint8_t> value) const {
    if (value.size() < ChunkValueBytes()) {
        throw std::invalid_argument("chunk value buffer too small");
    }
    std::uint8_t prefix[9] = {kChunkDomain};
    LittleEndian64(index, prefix + 1);
    HashHandle hash{OpenHmac(key_)};
    gcry_md_write(hash.handle, prefix, sizeof prefix);
    if (version_ == TrailerVersion::V1) {
        gcry_md_write(hash.handle, chunk.data(), chunk.size());
        const Tag tag = ReadTag(hash.handle);
        std::copy(tag.begin(), tag.end(), value.begin());
        return;
    }
    // The chunk's own GMAC key and nonce: AES-128 key = bytes 0..15, nonce = bytes 16..27.
    Tag chunkKey = ReadTag(hash.handle);
    MacHandle mac;
    gcry_error_t error = gcry_mac_open(&mac.handle, GCRY_MAC_GMAC_AES, 0, nullptr);
    if (error == 0) {
        error = gcry_mac_setkey(mac.handle, chunkKey.data(), kGmacKeyBytes);
    }
    if (error == 0) {
        error = gcry_mac_setiv(mac.handle, chunkKey.data() + kGmacKeyBytes, kGmacNonceBytes);
    }
    chunkKey.fill(0);
    Check(error, "GMAC key");
    Check(gcry_mac_write(mac.handle, chunk.data(), chunk.size()), "gcry_mac_write");
    std::size_t length = kChunkValueBytesV2;
    Check(gcry_mac_read(mac.handle, value.data(), &length), "gcry_mac_read");
    if (length != kChunkValueBytesV2) {
        ThrowLibraryError(gcry_error(GPG_ERR_INV_LENGTH), "gcry_mac_read");
    }
}

FileTagger::FileTagger(const TagKey& key, std::span<const std::uint8_t> header) {
    gcry_md_hd_t handle = OpenHmac(key.Bytes());
    gcry_md_putc(handle, kFileDomain);
    gcry_md_write(handle, header.data(), header.size());
    handle_ = handle;
}

FileTagger::~FileTagger() {
    gcry_md_close(static_cast<gcry_md_hd_t>(handle_));
}

void FileTagger::Add(std::span<const std::uint8_t> chunkValue) {
    gcry_md_write(static_cast<gcry_md_hd_t>(handle_), chunkValue.data(), chunkValue.size());
    ++count_;
}

Tag FileTagger::Finish() {
    std::uint8_t count[8];
    LittleEndian64(count_, count);
    auto* handle = static_cast<gcry_md_hd_t>(handle_);
    gcry_md_write(handle, count, sizeof count);
    return ReadTag(handle);
}

bool TagsEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    if (a.size() != b.size()) {
        return false;
    }
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace quorvane
