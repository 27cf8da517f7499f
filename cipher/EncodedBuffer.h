#pragma once

// Decoding an encoded file whose bytes are already in memory (a small file read once, such as
// a speaker file): the same checks as decoding from disk (cipher/EncodedReader.h), and the
// plain data in memory of the caller's choosing, SecretBytes by default, since decoded models
// are secrets. Nothing is handed out unless the whole file verified; on a failure the memory
// that received plain data has been wiped.
//
// Failures (Failure::code(), compare with the CipherError conditions):
//   NotEncoded  another owner's marker or none; a damaged header of this owner fails with its
//               HeaderError, which names the field and compares equal to NotEncoded
//   Truncated   fewer cipher bytes than the header states
//   WrongKey    the trailer's key check refuses the key; nothing was deciphered
//   Damaged     the trailer is not whole, or the file tag does not match the data
//   Unverified  no trailer, and options.allowUnverified was not given
//   TooLarge    the plain data would be longer than options.maxPlainBytes
//   std::errc::not_enough_memory when the plain data cannot be had

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "cipher/CipherError.h"
#include "cipher/Gost.h"
#include "files/Result.h"
#include "files/Secret.h"

namespace quorvane {

struct BufferDecodeOptions {
    std::uint64_t maxPlainBytes = 0;  // longer plain data is refused before anything is decoded
    bool allowUnverified = false;     // also decode a file without a trailer (not verified)
};

template <class Bytes>
struct DecodedBuffer {
    Bytes plain;
    bool tagVerified = false;  // the file's trailer verified key and data (always, unless
                               // allowUnverified let an untagged file through)
};

// The decoder underneath: decodes into the span that `allocate` returns for the plain length.
// True when the trailer verified the data.
[[nodiscard]] Result<bool> DecodeBufferInto(
    std::span<const std::uint8_t> file, std::string_view marker, const GostKey& key,
    const SubstitutionTable& table, const BufferDecodeOptions& options,
    const std::function<std::span<std::uint8_t>(std::size_t)>& allocate);

// Decodes the encoded file `file` (its whole bytes) whose marker must be `marker`.
template <class Bytes = SecretBytes>
[[nodiscard]] Result<DecodedBuffer<Bytes>> DecodeEncodedBuffer(std::span<const std::uint8_t> file,
                                                               std::string_view marker,
                                                               const GostKey& key,
                                                               const SubstitutionTable& table,
                                                               const BufferDecodeOptions& options) {
    static_assert(sizeof(typename Bytes::value_type) == 1, "plain data are bytes");
    DecodedBuffer<Bytes> decoded;
    const Result<bool> verified =
        DecodeBufferInto(file, marker, key, table, options, [&decoded](std::size_t size) {
            decoded.plain.resize(size);
            return std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(decoded.plain.data()),
                                           size);
        });
    if (!verified) {
        return verified.error();
    }
    decoded.tagVerified = *verified;
    return decoded;
}

}  // namespace quorvane
