#pragma once

// Reading an encoded file (layout in cipher/EncodedFormat.h), wherever its bytes are: the one
// parser of its header and trailer and the one decoder of its data, for files on disk
// (cipher/EncodedFile.h) and for files already in memory (cipher/EncodedBuffer.h).
//
// Open reads the header (checked against the expected marker), checks that the whole cipher
// data is there, locates the trailer and verifies its key check: a wrong key is told before any
// byte is deciphered. Decode then deciphers the data into a sink while it computes the file tag,
// and is Done only when the tag matches; when it is not, the caller discards what the sink
// received.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <system_error>
#include <vector>

#include "cipher/CipherError.h"
#include "cipher/Coded.h"
#include "cipher/EncodedFormat.h"
#include "cipher/EncodedHeader.h"
#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "files/PlatformFile.h"
#include "files/Result.h"

namespace quorvane {

// Where the bytes of an encoded file come from, read as PlatformFile reads a file; a failure
// names the file (none for bytes in memory).
class EncodedSource {
public:
    virtual ~EncodedSource() = default;
    [[nodiscard]] virtual Result<std::uint64_t> Size() = 0;
    // Reads up to `limit` bytes from the start of a source of `size` bytes (fewer when it ends
    // earlier).
    [[nodiscard]] virtual Result<std::vector<std::uint8_t>> ReadPrefix(std::uint64_t size,
                                                                       std::size_t limit) = 0;
    [[nodiscard]] virtual Status Seek(std::uint64_t offset) = 0;
    // Fills `bytes` from the current position; fails on an error or an early end
    // (FileError::EndOfFile).
    [[nodiscard]] virtual Status ReadExactly(std::span<std::uint8_t> bytes) = 0;
    // A hint that the rest is read once, in order.
    virtual void AdviseSequentialRead() {}
    // The file the bytes come from, which a refusal of them names; empty for none.
    [[nodiscard]] virtual std::filesystem::path Path() const { return {}; }
};

// An open file as the source.
class FileSource final : public EncodedSource {
public:
    explicit FileSource(PlatformFile& file) : file_(file) {}
    [[nodiscard]] Result<std::uint64_t> Size() override { return file_.Size(); }
    [[nodiscard]] Result<std::vector<std::uint8_t>> ReadPrefix(std::uint64_t size,
                                                               std::size_t limit) override {
        return quorvane::ReadPrefix(file_, size, limit);
    }
    [[nodiscard]] Status Seek(std::uint64_t offset) override { return file_.Seek(offset); }
    [[nodiscard]] Status ReadExactly(std::span<std::uint8_t> bytes) override {
        return file_.ReadExactly(bytes);
    }
    void AdviseSequentialRead() override { file_.AdviseSequentialRead(); }
    [[nodiscard]] std::filesystem::path Path() const override { return file_.Path(); }

private:
    PlatformFile& file_;
};

// Bytes in memory as the source (the caller keeps them alive).
class MemorySource final : public EncodedSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    [[nodiscard]] Result<std::uint64_t> Size() override { return bytes_.size(); }
    [[nodiscard]] Result<std::vector<std::uint8_t>> ReadPrefix(std::uint64_t size,
                                                               std::size_t limit) override;
    [[nodiscard]] Status Seek(std::uint64_t offset) override;
    [[nodiscard]] Status ReadExactly(std::span<std::uint8_t> bytes) override;

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

// Where the plain data go, in order.
class PlainSink {
public:
    virtual ~PlainSink() = default;
    [[nodiscard]] virtual Status Write(std::span<const std::uint8_t> bytes) = 0;
};

// Plain data into memory the caller sized to the plain length.
class SpanSink final : public PlainSink {
public:
    explicit SpanSink(std::span<std::uint8_t> target) : target_(target) {}
    [[nodiscard]] Status Write(std::span<const std::uint8_t> bytes) override;

private:
    std::span<std::uint8_t> target_;
    std::size_t at_ = 0;
};

class EncodedReader final {
public:
    // The key and table are the caller's and must outlive the reader.
    EncodedReader(EncodedSource& source, const GostKey& key, const SubstitutionTable& table)
        : source_(source), key_(key), table_(table) {}

    // Succeeds when the header names `marker`, the cipher data is whole and the trailer, if any,
    // is whole and its key check accepts the key; the source is then at the cipher data.
    // Otherwise fails, naming the source's file, with CipherError::NotEncoded (or the
    // HeaderError of a damaged field), Truncated, WrongKey, Damaged, or the source's failure.
    [[nodiscard]] Status Open(std::string_view marker);
    [[nodiscard]] const EncodedHeader& Header() const { return header_; }
    [[nodiscard]] bool Tagged() const { return trailer_.place != TrailerPlace::None; }

    // After a successful Open: deciphers the cipher data into sink, honouring options.progress
    // and options.cancelled. Succeeds (the data verified, when tagged) only when every read and
    // write succeeded and the file tag matches; fails with the sink's failure, the source's
    // (CipherError::Truncated for a source that ends early), CipherError::Damaged or Cancelled.
    [[nodiscard]] Status Decode(const CodingOptions& options, PlainSink& sink);

private:
    [[nodiscard]] Status ReadTrailer(std::uint64_t size, std::uint64_t dataEnd);
    // A refusal of the source's content, naming its file.
    [[nodiscard]] Failure Refused(CipherError error) const;
    // The cipher data through the pipeline: each chunk's value taken for the tag (with a
    // trailer), the chunk deciphered and its plain bytes, without the padding, given to sink.
    // Fails when a read or a write failed, or with CipherError::Cancelled.
    [[nodiscard]] Status Decipher(const CodingOptions& options, PlainSink& sink,
                                  const TagKey* tagKey, FileTagger* tagger);

    EncodedSource& source_;
    const GostKey& key_;
    const SubstitutionTable& table_;
    EncodedHeader header_;
    std::vector<std::uint8_t> headerBytes_;  // as stored: the key check and the tag cover them
    TrailerFound trailer_;
    Trailer trailerBytes_{};
};

}  // namespace quorvane
