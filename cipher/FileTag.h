#pragma once

// The check values of an encoded file's trailer (layout in cipher/EncodedFile.h).
//
// All values are keyed BLAKE2b-256 (RFC 7693, 32-byte output) under the file's tag key:
//
//   tag key   = BLAKE2b-512( "Quorvane tag key v1" || key as 32 bytes (K0..K7, each
//               little-endian) || table as 128 bytes ), unkeyed, 64 bytes
//   key check = BLAKE2b-256_tagkey( 0x01 || header )
//   chunk tag = BLAKE2b-256_tagkey( 0x02 || i as 8 bytes little-endian || cipher chunk i )
//               for the cipher data cut into chunks of 1 MiB (the last one shorter)
//   file tag  = BLAKE2b-256_tagkey( 0x03 || header || chunk tag 0 || ... || chunk tag n-1 ||
//               n as 8 bytes little-endian )
//
// header is the header text exactly as written (marker LF blockCount LF padCount LF). The first
// byte of each message keeps the three uses apart; the chunk number and the count make every
// changed, swapped, removed or added chunk change the file tag. The chunk tags are independent,
// so the cipher workers compute them in parallel and the writer combines them in file order.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "cipher/Gost.h"

namespace quorvane {

inline constexpr std::size_t kTagBytes = 32;
inline constexpr std::size_t kTagKeyBytes = 64;
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
