#pragma once

// The check values of an encoded file's trailer (layout in cipher/EncodedFile.h), in its two
// versions. HMAC is HMAC-SHA-256 (RFC 2104, 32-byte output); `||` joins byte strings; secret is
// the file key as 32 bytes (K0..K7, each little-endian) || the table as 128 bytes; i and n are
// 8 bytes little-endian; the cipher data is cut into chunks of 1 MiB (the last shorter).
//
//   version 1 (magic "QVTAG01\n", files of the previous release, read and verified only):
//     tag key     = HMAC(secret, "Quorvane tag key v1")
//     key check   = HMAC(tag key, 0x01 || header)
//     chunk value = HMAC(tag key, 0x02 || i || cipher chunk i)                      32 bytes
//     file tag    = HMAC(tag key, 0x03 || header || chunk value 0 || ... || value n-1 || n)
//
//   version 2 (magic "QVTAG02\n", written now):
//     tag key     = HMAC(secret, "Quorvane tag key v2")
//     key check   = HMAC(tag key, 0x01 || header)
//     chunk key   = HMAC(tag key, 0x02 || i)       32 bytes: AES-128 key = bytes 0..15,
//                                                  GMAC nonce = bytes 16..27
//     chunk value = GMAC-AES-128(chunk key, nonce, cipher chunk i)                  16 bytes
//     file tag    = HMAC(tag key, 0x03 || header || chunk value 0 || ... || value n-1 || n)
//
// header is the header text exactly as written (marker LF blockCount LF padCount LF). The first
// byte of each message keeps the uses apart, the label keeps the versions apart; the chunk
// number and the count make every changed, swapped, removed or added chunk change the file tag.
// The chunk values are independent, so the cipher workers compute them in parallel and the
// writer combines them in file order. Version 2 replaces the HMAC over each megabyte (about a
// third of the cipher's own cost) by GMAC, whose work is the universal hash GHASH (carry-less
// multiplication, about 6 % of the cipher's cost here; Poly1305 measured 17 %). The chunk values
// never leave the process, only the HMAC over them is stored (the security argument is in
// docs/FORMAT.md).

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cipher/Gost.h"

namespace quorvane {

inline constexpr std::size_t kTagBytes = 32;
inline constexpr std::size_t kTagKeyBytes = 32;
inline constexpr std::size_t kTagChunkBytes = std::size_t{1} << 20;
inline constexpr std::size_t kChunkValueBytesV2 = 16;  // a GMAC value

// The versions of the trailer; new files get the latest.
enum class TrailerVersion : std::uint8_t { V1 = 1, V2 = 2 };
inline constexpr TrailerVersion kLatestTrailer = TrailerVersion::V2;

using Tag = std::array<std::uint8_t, kTagBytes>;

class TagKey final {
public:
    TagKey(const GostKey& key, const SubstitutionTable& table,
           TrailerVersion version = kLatestTrailer);
    ~TagKey();
    TagKey(const TagKey&) = delete;
    TagKey& operator=(const TagKey&) = delete;

    [[nodiscard]] Tag KeyCheck(std::span<const std::uint8_t> header) const;
    // The chunk value of chunk `index` written to the first ChunkValueBytes() bytes of value
    // (which must hold them). Like the constructors here, throws std::system_error with the
    // library's reason when libgcrypt fails.
    void ChunkValue(std::uint64_t index, std::span<const std::uint8_t> chunk,
                    std::span<std::uint8_t> value) const;
    [[nodiscard]] std::size_t ChunkValueBytes() const {
        return version_ == TrailerVersion::V1 ? kTagBytes : kChunkValueBytesV2;
    }
    [[nodiscard]] TrailerVersion Version() const { return version_; }
    [[nodiscard]] std::span<const std::uint8_t, kTagKeyBytes> Bytes() const { return key_; }

private:
    std::array<std::uint8_t, kTagKeyBytes> key_{};
    TrailerVersion version_;
};

// Combines the chunk values in file order into the file tag.
class FileTagger final {
public:
    FileTagger(const TagKey& key, std::span<const std::uint8_t> header);
    ~FileTagger();
    FileTagger(const FileTagger&) = delete;
    FileTagger& operator=(const FileTagger&) = delete;

    // The chunk values in file order (ChunkValueBytes() each).
    void Add(std::span<const std::uint8_t> chunkValue);
    [[nodiscard]] Tag Finish();

private:
    void* handle_ = nullptr;
    std::uint64_t count_ = 0;
};

// Compares two tags in time that does not depend on where they differ.
[[nodiscard]] bool TagsEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace quorvane
