#pragma once

// Writing an encoded file (layout in cipher/EncodedFormat.h) from plain data wherever they come
// from: a measured input file (cipher/MeasuredInput.h) or bytes in memory.
//
// The output is written atomically (files/AtomicFile.h): a uniquely named, owner-only temporary
// file in the output's folder, renamed to the output only when every write and the close
// succeeded; the folder is flushed before the result is Done. On failure an existing output is
// left as it was and nothing else remains.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>

#include "cipher/Coded.h"
#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "files/AtomicFile.h"
#include "files/PlatformFile.h"
#include "files/Result.h"

namespace quorvane {

// Where the plain data to encode come from, read once in order.
class PlainSource {
public:
    virtual ~PlainSource() = default;
    // The count of plain bytes, known before the first read.
    [[nodiscard]] virtual std::uint64_t Size() const = 0;
    // Fills `bytes` with the next plain bytes; fails with FileError::Changed when the input is
    // no longer what was measured.
    [[nodiscard]] virtual Status Read(std::span<std::uint8_t> bytes) = 0;
    // After the last read: fails when the input is no longer what was measured.
    [[nodiscard]] virtual Status Ended() = 0;
    // The file the plain data come from; empty for none.
    [[nodiscard]] virtual std::filesystem::path Path() const { return {}; }
};

// Plain bytes in memory as the source (the caller keeps them alive).
class MemoryPlain final : public PlainSource {
public:
    explicit MemoryPlain(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    [[nodiscard]] std::uint64_t Size() const override { return bytes_.size(); }
    [[nodiscard]] Status Read(std::span<std::uint8_t> bytes) override;
    [[nodiscard]] Status Ended() override { return {}; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// What is written where: the file's marker, key and table, the new file's permissions, and its
// trailer (the latest; an earlier version or none only for files in the formats of earlier
// releases, as compatibility tests need them).
struct EncodeTarget {
    std::filesystem::path output;
    std::string_view marker;
    const GostKey& key;
    const SubstitutionTable& table;
    FilePrivacy privacy = FilePrivacy::Normal;
    std::optional<TrailerVersion> trailer = kLatestTrailer;
};

// Encodes the plain data of `source` into target.output; options give the output mode, the
// progress, the cancel request and where left-overs removed from the output's folder are told.
// Fails as cipher/Coded.h says (CipherError::BadMarker for a marker that cannot be written).
[[nodiscard]] Status EncodeFrom(PlainSource& source, const EncodeTarget& target,
                                const CodingOptions& options);

}  // namespace quorvane
