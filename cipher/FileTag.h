#pragma once

// The check values of an encoded file's trailer (layout in cipher/EncodedFile.h).
//
// All values are HMAC-SHA-256 (RFC 2104, 32-byte output); `||` joins byte strings:
//
//   tag key   = HMAC-SHA-256, keyed with key as 32 bytes (K0..K7, each little-endian) || table
//               as 128 bytes, of the label "Quorvane tag key v1"
//   key check = HMAC-SHA-256, keyed with the tag key, of  0x01 || header
//   chunk tag = HMAC-SHA-256, keyed with the tag key, of  0x02 || i as 8 bytes little-endian ||
//               cipher chunk i, for the cipher data cut into chunks of 1 MiB (the last shorter)
//   file tag  = HMAC-SHA-256, keyed with the tag key, of  0x03 || header || chunk tag 0 || ... ||
//               chunk tag n-1 || n as 8 bytes little-endian
//
// header is the header text exactly as written (marker LF blockCount LF padCount LF). The first
// byte of each message keeps the three uses apart; the chunk number and the count make every
// changed, swapped, removed or added chunk change the file tag. The chunk tags are independent,
// so the cipher workers compute them in parallel and the writer combines them in file order.
// HMAC-SHA-256 rather than keyed BLAKE2b: with the processors' SHA instructions it is about
// three times faster here, and the tag competes with the cipher for the same cores.

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
inline constexpr std::string_view kTagKeyLabel = "Quorvane tag key v1";

using Tag = std::array<std::uint8_t, kTagBytes>;

class TagKey final {
public:
    TagKey(const GostKey& key, const SubstitutionTable& table);
    ~TagKey();
    TagKey(const TagKey&) = delete;
    TagKey& operator=(const TagKey&) = delete;

    [[nodiscard]] Tag KeyCheck(std::span<const std::uint8_t> header) const;
    [[nodiscard]] Tag ChunkTag(std::uint64_t index, std::span<const std::uint8_t> chunk) const;
    [[nodiscard]] std::span<const std::uint8_t, kTagKeyBytes> Bytes() const { return key_; }

private:
    std::array<std::uint8_t, kTagKeyBytes> key_{};
};

// Combines the chunk tags in file order into the file tag.
class FileTagger final {
public:
    FileTagger(const TagKey& key, std::span<const std::uint8_t> header);
    ~FileTagger();
    FileTagger(const FileTagger&) = delete;
    FileTagger& operator=(const FileTagger&) = delete;

    void Add(std::span<const std::uint8_t> chunkTag);
    [[nodiscard]] Tag Finish();

private:
    void* handle_ = nullptr;
    std::uint64_t count_ = 0;
};

// Compares two tags in time that does not depend on where they differ.
[[nodiscard]] bool TagsEqual(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);

}  // namespace quorvane
