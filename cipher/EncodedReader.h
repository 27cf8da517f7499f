#pragma once

// Reading an encoded file (layout in cipher/EncodedFormat.h), wherever its bytes are: the one
// parser of its header and trailer and the one decoder of its data, for files on disk
// (cipher/Decoding.h) and for files already in memory (cipher/EncodedBuffer.h).
//
// Open reads the header (checked against the expected marker), checks that the whole cipher
// data is there, locates the trailer and verifies its key check: a wrong key is told before any
// byte is deciphered. Decode then deciphers the data into a sink while it computes the file tag,
// and is Done only when the tag matches; what the sink received before is then to be discarded
// by the caller.

#include <cstdint>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "cipher/CodingResult.h"
#include "cipher/EncodedFormat.h"
#include "cipher/EncodedHeader.h"
#include "cipher/Gost.h"
#include "files/PlatformFile.h"

namespace quorvane {

// Where the bytes of an encoded file come from, read as PlatformFile reads a file.
class EncodedSource {
public:
    virtual ~EncodedSource() = default;
    [[nodiscard]] virtual bool Size(std::uint64_t& bytes) = 0;
    // Reads up to `limit` bytes from the start of a source of `size` bytes into prefix (fewer
    // when it ends earlier).
    [[nodiscard]] virtual bool ReadPrefix(std::uint64_t size, std::size_t limit,
                                          std::vector<std::uint8_t>& prefix) = 0;
    [[nodiscard]] virtual bool Seek(std::uint64_t offset) = 0;
    // Fills `bytes` from the current position; false on an error or an early end
    // (FileError::EndOfFile).
    [[nodiscard]] virtual bool ReadExactly(std::span<std::uint8_t> bytes) = 0;
    [[nodiscard]] virtual std::error_code Error() const = 0;
    // A hint that the rest is read once, in order.
    virtual void AdviseSequentialRead() {}
};

// An open file as the source.
class FileSource final : public EncodedSource {
public:
    explicit FileSource(PlatformFile& file) : file_(file) {}
    [[nodiscard]] bool Size(std::uint64_t& bytes) override { return file_.Size(bytes); }
    [[nodiscard]] bool ReadPrefix(std::uint64_t size, std::size_t limit,
                                  std::vector<std::uint8_t>& prefix) override {
        return quorvane::ReadPrefix(file_, size, limit, prefix);
    }
    [[nodiscard]] bool Seek(std::uint64_t offset) override { return file_.Seek(offset); }
    [[nodiscard]] bool ReadExactly(std::span<std::uint8_t> bytes) override {
        return file_.ReadExactly(bytes);
    }
    [[nodiscard]] std::error_code Error() const override { return file_.Error(); }
    void AdviseSequentialRead() override { file_.AdviseSequentialRead(); }

private:
    PlatformFile& file_;
};

// Bytes in memory as the source (the caller keeps them alive).
class MemorySource final : public EncodedSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    [[nodiscard]] bool Size(std::uint64_t& bytes) override;
    [[nodiscard]] bool ReadPrefix(std::uint64_t size, std::size_t limit,
                                  std::vector<std::uint8_t>& prefix) override;
    [[nodiscard]] bool Seek(std::uint64_t offset) override;
    [[nodiscard]] bool ReadExactly(std::span<std::uint8_t> bytes) override;
    [[nodiscard]] std::error_code Error() const override { return error_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    std::error_code error_;
};

// Where the plain data go, in order.
class PlainSink {
public:
    virtual ~PlainSink() = default;
    [[nodiscard]] virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
    [[nodiscard]] virtual std::error_code Error() const = 0;
};

// Plain data into memory the caller sized to the plain length.
class SpanSink final : public PlainSink {
public:
    explicit SpanSink(std::span<std::uint8_t> target) : target_(target) {}
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::error_code Error() const override { return {}; }

private:
    std::span<std::uint8_t> target_;
    std::size_t at_ = 0;
};

class EncodedReader final {
public:
    // The key and table are the caller's and must outlive the reader.
    EncodedReader(EncodedSource& source, const GostKey& key, const SubstitutionTable& table)
        : source_(source), key_(key), table_(table) {}

    // Done when the header names `marker`, the cipher data is whole and the trailer, if any,
    // is whole and its key check accepts the key; the source is then at the cipher data.
    // Otherwise NotEncoded, Truncated, WrongKeyOrDamaged (tagged) or InputUnreadable.
    [[nodiscard]] CodingResult Open(std::string_view marker);
    [[nodiscard]] const EncodedHeader& Header() const { return header_; }
    [[nodiscard]] bool Tagged() const { return trailer_.place != TrailerPlace::None; }

    // After a Done Open: deciphers the cipher data into sink, honouring options.progress and
    // options.cancelled. Done (tagVerified when tagged) only when every read and write
    // succeeded and the file tag matches.
    [[nodiscard]] CodingResult Decode(const CodingOptions& options, PlainSink& sink);

private:
    [[nodiscard]] CodingResult ReadTrailer(std::uint64_t size, std::uint64_t dataEnd);

    EncodedSource& source_;
    const GostKey& key_;
    const SubstitutionTable& table_;
    EncodedHeader header_;
    std::vector<std::uint8_t> headerBytes_;  // as stored: the key check and the tag cover them
    TrailerFound trailer_;
    Trailer trailerBytes_{};
};

}  // namespace quorvane
