#include "cipher/EncodedBuffer.h"

#include <limits>
#include <new>
#include <system_error>

#include "cipher/EncodedReader.h"

namespace quorvane {

Result<bool> DecodeBufferInto(std::span<const std::uint8_t> file, std::string_view marker,
                              const GostKey& key, const SubstitutionTable& table,
                              const BufferDecodeOptions& options,
                              const std::function<std::span<std::uint8_t>(std::size_t)>& allocate) {
    std::span<std::uint8_t> plain;
    try {
        MemorySource source(file);
        EncodedReader reader(source, key, table);
        if (Status opened = reader.Open(marker); !opened) {
            return opened.error();
        }
        if (!reader.Tagged() && !options.allowUnverified) {
            return Failure(MakeError(CipherError::Unverified));
        }
        const std::uint64_t size = reader.Header().PlainBytes();
        if (size > options.maxPlainBytes || size > std::numeric_limits<std::size_t>::max()) {
            return Failure(MakeError(CipherError::TooLarge));
        }
        plain = allocate(static_cast<std::size_t>(size));
        SpanSink sink(plain);
        if (Status decoded = reader.Decode({}, sink); !decoded) {
            WipeMemory(plain.data(), plain.size());
            return decoded.error();
        }
        return reader.Tagged();
    } catch (const std::bad_alloc&) {
        WipeMemory(plain.data(), plain.size());
        return Failure(std::make_error_code(std::errc::not_enough_memory));
    } catch (const std::system_error& error) {
        // A failing library call of the check values, with the library's reason.
        WipeMemory(plain.data(), plain.size());
        return Failure(error.code());
    }
}

}  // namespace quorvane
