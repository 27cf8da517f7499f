#include "tests/fuzz/ReferenceReader.h"

#include <gcrypt.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <initializer_list>
#include <mutex>
#include <utility>

#include "tests/fuzz/FuzzSupport.h"

namespace quorvane::fuzz {
namespace {

using Digest = std::array<std::uint8_t, 32>;
using Bytes = std::span<const std::uint8_t>;

// The layout's numbers, written down here again rather than taken from the program.
constexpr std::array<std::uint8_t, 8> kMagicV1 = {'Q', 'V', 'T', 'A', 'G', '0', '1', '\n'};
constexpr std::array<std::uint8_t, 8> kMagicV2 = {'Q', 'V', 'T', 'A', 'G', '0', '2', '\n'};
constexpr std::array<std::uint8_t, 8> kMagic = kMagicV2;
constexpr std::size_t kDigestBytes = 32;
constexpr std::size_t kTrailerLength = kMagic.size() + 2 * kDigestBytes;  // 72
constexpr std::size_t kChunkLength = std::size_t{1} << 20;
constexpr std::size_t kMarkerLimit = 999;
constexpr std::size_t kCountDigitLimit = 20;
// Counts above this are refused as unreadable headers: their data length (with the header)
// would not fit a signed 64-bit file offset.
constexpr std::uint64_t kBlockCountLimit = std::uint64_t{1} << 59;
constexpr std::string_view kLabelV1 = "Quorvane tag key v1";
constexpr std::string_view kLabelV2 = "Quorvane tag key v2";

bool IsBlank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::array<std::uint8_t, 8> LittleEndian(std::uint64_t value) {
    std::array<std::uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
    return bytes;
}

void Initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P) == 0) {
            Require(gcry_check_version(GCRYPT_VERSION) != nullptr, "libgcrypt too old");
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        }
    });
}

// HMAC-SHA-256 under key of the parts joined.
Digest Hmac(Bytes key, std::initializer_list<Bytes> parts) {
    Initialise();
    gcry_md_hd_t handle = nullptr;
    Require(gcry_md_open(&handle, GCRY_MD_SHA256, GCRY_MD_FLAG_HMAC) == 0 &&
                gcry_md_setkey(handle, key.data(), key.size()) == 0,
            "the reference HMAC cannot be set up");
    for (const Bytes part : parts) {
        gcry_md_write(handle, part.data(), part.size());
    }
    Digest digest{};
    std::copy_n(gcry_md_read(handle, GCRY_MD_SHA256), digest.size(), digest.begin());
    gcry_md_close(handle);
    return digest;
}

// GMAC-AES-128 of message under the 16-byte key and the 12-byte nonce.
std::array<std::uint8_t, 16> Gmac(Bytes key, Bytes nonce, Bytes message) {
    Initialise();
    gcry_mac_hd_t handle = nullptr;
    Require(gcry_mac_open(&handle, GCRY_MAC_GMAC_AES, 0, nullptr) == 0 &&
                gcry_mac_setkey(handle, key.data(), key.size()) == 0 &&
                gcry_mac_setiv(handle, nonce.data(), nonce.size()) == 0 &&
                gcry_mac_write(handle, message.data(), message.size()) == 0,
            "the reference GMAC cannot be set up");
    std::array<std::uint8_t, 16> value{};
    std::size_t length = value.size();
    Require(gcry_mac_read(handle, value.data(), &length) == 0 && length == value.size(),
            "the reference GMAC cannot be read");
    gcry_mac_close(handle);
    return value;
}

Digest TagKeyOf(const GostKey& key, const SubstitutionTable& table, int version) {
    std::array<std::uint8_t, 32 + 128> secret{};
    for (std::size_t i = 0; i < key.size(); ++i) {
        for (std::size_t b = 0; b < 4; ++b) {
            secret[4 * i + b] = static_cast<std::uint8_t>(key[i] >> (8 * b));
        }
    }
    std::copy(table.begin(), table.end(), secret.begin() + 32);
    const std::string_view label = version == 1 ? kLabelV1 : kLabelV2;
    return Hmac(secret, {Bytes(reinterpret_cast<const std::uint8_t*>(label.data()), label.size())});
}

// Version 1: each chunk's value is an HMAC of the chunk; version 2: a GMAC of it under the key
// and nonce derived for its number.
Digest FileTagOf(const Digest& tagKey, Bytes header, Bytes data, int version) {
    const std::uint8_t chunkDomain = 0x02;
    const std::uint8_t fileDomain = 0x03;
    std::vector<std::uint8_t> message = {fileDomain};
    message.insert(message.end(), header.begin(), header.end());
    std::uint64_t chunks = 0;
    for (std::size_t at = 0; at < data.size(); at += kChunkLength, ++chunks) {
        const Bytes chunk = data.subspan(at, std::min(kChunkLength, data.size() - at));
        const auto index = LittleEndian(chunks);
        if (version == 1) {
            const Digest tag = Hmac(tagKey, {Bytes(&chunkDomain, 1), index, chunk});
            message.insert(message.end(), tag.begin(), tag.end());
        } else {
            const Digest chunkKey = Hmac(tagKey, {Bytes(&chunkDomain, 1), index});
            const auto value =
                Gmac(Bytes(chunkKey).first(16), Bytes(chunkKey).subspan(16, 12), chunk);
            message.insert(message.end(), value.begin(), value.end());
        }
    }
    const auto count = LittleEndian(chunks);
    message.insert(message.end(), count.begin(), count.end());
    return Hmac(tagKey, {message});
}

std::uint32_t Word(Bytes bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

// Each block was enciphered three times: deciphered three times.
std::vector<std::uint8_t> Decipher(Bytes data, const GostKey& key, const SubstitutionTable& table) {
    std::vector<std::uint8_t> plain;
    plain.reserve(data.size());
    for (std::size_t at = 0; at < data.size(); at += 8) {
        std::uint32_t block[2] = {Word(data.subspan(at, 4)), Word(data.subspan(at + 4, 4))};
        for (int pass = 0; pass < 3; ++pass) {
            GostDecryptBlock(block, block, key, table);
        }
        for (const std::uint32_t word : block) {
            for (int b = 0; b < 4; ++b) {
                plain.push_back(static_cast<std::uint8_t>(word >> (8 * b)));
            }
        }
    }
    return plain;
}

// Reads the first token into token; the offset just after it, or 0 when there is none.
std::size_t ReadFirstToken(Bytes bytes, std::string& token) {
    std::size_t at = 0;
    while (at < bytes.size() && IsBlank(bytes[at])) {
        ++at;
    }
    const std::size_t start = at;
    while (at < bytes.size() && !IsBlank(bytes[at])) {
        ++at;
    }
    if (at == start || at - start > kMarkerLimit) {
        token.clear();
        return 0;
    }
    token.assign(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                 bytes.begin() + static_cast<std::ptrdiff_t>(at));
    return at;
}

}  // namespace

Verdict VerdictOf(const Failure& failure) {
    const std::error_code& code = failure.code();
    if (code == CipherError::NotEncoded) {
        return Verdict::NotEncoded;
    }
    if (code == CipherError::Truncated) {
        return Verdict::Truncated;
    }
    if (code == CipherError::WrongKey || code == CipherError::Damaged) {
        return Verdict::WrongKeyOrDamaged;
    }
    return code == CipherError::Unverified ? Verdict::Unverified : Verdict::Other;
}

Decision DecisionOf(const Result<Coded>& result) {
    if (!result) {
        return {VerdictOf(result.error()), result.error().code()};
    }
    return {Verdict::Decoded, {}, result->tagged, result->tagVerified};
}

Decision DecisionOf(const Result<DecodedBuffer<std::vector<std::uint8_t>>>& result) {
    if (!result) {
        return {VerdictOf(result.error()), result.error().code()};
    }
    return {Verdict::Decoded, {}, result->tagVerified, result->tagVerified};
}

bool ReferenceToken(Bytes bytes, std::string& token) {
    return ReadFirstToken(bytes, token) != 0;
}

ReferenceResult ReferenceRead(Bytes bytes, std::string_view marker, const GostKey& key,
                              const SubstitutionTable& table, bool allowUnverified) {
    ReferenceResult result;
    result.refusedAtOpen = true;
    const auto refuse = [&](Verdict status) {
        result.status = status;
        return result;
    };
    std::string token;
    std::size_t at = ReadFirstToken(bytes, token);
    if (at == 0 || token != marker) {
        return refuse(Verdict::NotEncoded);
    }
    const auto takeLineEnd = [&] { return at < bytes.size() && bytes[at++] == '\n'; };
    if (!takeLineEnd()) {
        return refuse(Verdict::NotEncoded);
    }
    std::uint64_t blockCount = 0;
    std::size_t digits = 0;
    for (; at < bytes.size() && bytes[at] >= '0' && bytes[at] <= '9'; ++at, ++digits) {
        blockCount = blockCount * 10 + (bytes[at] - '0');
        if (blockCount > kBlockCountLimit || digits == kCountDigitLimit) {
            return refuse(Verdict::NotEncoded);
        }
    }
    if (digits == 0 || !takeLineEnd() || at >= bytes.size() || bytes[at] < '0' || bytes[at] > '7') {
        return refuse(Verdict::NotEncoded);
    }
    const int padCount = bytes[at++] - '0';
    if (!takeLineEnd() || (blockCount == 0 && padCount != 0)) {
        return refuse(Verdict::NotEncoded);
    }
    const Bytes header = bytes.first(at);
    const std::uint64_t dataBytes = blockCount * 8;
    result.plainBytes = dataBytes - static_cast<std::uint64_t>(padCount);
    if (bytes.size() - at < dataBytes) {
        return refuse(Verdict::Truncated);
    }
    const Bytes data = bytes.subspan(at, static_cast<std::size_t>(dataBytes));
    const Bytes after = bytes.subspan(at + data.size());

    // A trailer is looked for only right after the data the header states, never at the end of
    // the file. Bytes there that begin with a magic of either version (all of it, or as much of
    // it as there are bytes), or exactly 72 bytes of anything, are a trailer, which must be
    // exactly 72 bytes long and start with a whole magic: one cut, extended or with another
    // magic refuses the file as a whole. Any other bytes there are ignored and the file has no
    // trailer.
    const std::size_t startLength = std::min(after.size(), kMagic.size());
    const auto startsWith = [&](const std::array<std::uint8_t, 8>& magic) {
        return !after.empty() &&
               std::equal(after.begin(), after.begin() + static_cast<std::ptrdiff_t>(startLength),
                          magic.begin());
    };
    int version = 0;
    if (after.size() >= kMagic.size()) {
        version = startsWith(kMagicV1) ? 1 : startsWith(kMagicV2) ? 2 : 0;
    }
    const bool startsWithMagic = startsWith(kMagicV1) || startsWith(kMagicV2);
    result.tagged = startsWithMagic || after.size() == kTrailerLength;
    if (result.tagged && (after.size() != kTrailerLength || version == 0)) {
        return refuse(Verdict::WrongKeyOrDamaged);
    }
    const Bytes last = result.tagged ? after : Bytes();
    if (!result.tagged && !allowUnverified) {
        return refuse(Verdict::Unverified);
    }
    Digest tagKey{};
    if (result.tagged) {
        tagKey = TagKeyOf(key, table, version);
        const std::uint8_t keyCheckDomain = 0x01;
        const Digest check = Hmac(tagKey, {Bytes(&keyCheckDomain, 1), header});
        if (!std::equal(check.begin(), check.end(), last.begin() + kMagic.size())) {
            return refuse(Verdict::WrongKeyOrDamaged);
        }
    }
    result.refusedAtOpen = false;
    if (result.tagged) {
        const Digest tag = FileTagOf(tagKey, header, data, version);
        if (!std::equal(tag.begin(), tag.end(), last.begin() + kMagic.size() + kDigestBytes)) {
            result.status = Verdict::WrongKeyOrDamaged;
            return result;
        }
        result.tagVerified = true;
    }
    result.plain = Decipher(data, key, table);
    result.plain.resize(static_cast<std::size_t>(result.plainBytes));
    result.status = Verdict::Decoded;
    return result;
}

}  // namespace quorvane::fuzz
