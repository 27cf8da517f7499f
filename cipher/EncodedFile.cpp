#include "cipher/EncodedFile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>

#include "cipher/BlockPipeline.h"
#include "cipher/EncodedHeader.h"
#include "cipher/EncodedReader.h"
#include "cipher/GostFast.h"
#include "cipher/ProgressPacer.h"

namespace quorvane {

namespace {

// An input whose reported size is 0 may still hold bytes (the system's pseudo-files such as
// /proc/cpuinfo): it is read into memory up to this many bytes, then encoded from there.
constexpr std::size_t kMeasuredInputLimit = std::size_t{64} << 20;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// The output file as the decoder's sink.
class AtomicSink final : public PlainSink {
public:
    explicit AtomicSink(AtomicFile& file) : file_(file) {}
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes) override {
        return file_.Write(bytes);
    }
    [[nodiscard]] std::error_code Error() const override { return file_.Error(); }

private:
    AtomicFile& file_;
};

// Testing a key: the plain data go nowhere.
class DiscardSink final : public PlainSink {
public:
    [[nodiscard]] bool Write(std::span<const std::uint8_t>) override { return true; }
    [[nodiscard]] std::error_code Error() const override { return {}; }
};

// A changed input is told apart from one that cannot be read.
CodingStatus InputFailure(const std::error_code& error) {
    return error == MakeError(FileError::Changed) ? CodingStatus::InputChanged
                                                  : CodingStatus::InputUnreadable;
}

CodingStatus OutputFailure(const std::error_code& error) {
    return error == std::errc::file_exists ? CodingStatus::OutputExists
                                           : CodingStatus::OutputUnwritable;
}

// True when output already names the same file as input (a link or a second name included).
bool IsSameFile(const std::filesystem::path& input, const std::filesystem::path& output) {
    std::error_code ec;
    if (!std::filesystem::exists(output, ec)) {
        return false;
    }
    const bool same = std::filesystem::equivalent(input, output, ec);
    return !ec && same;
}

// The chunk value of a worker, or zeros (which never verify) when hashing failed.
void TagChunk(const TagKey* tagKey, std::uint64_t index, std::span<const std::uint8_t> chunk,
              std::span<std::uint8_t> side, std::atomic<bool>& failed) {
    if (tagKey == nullptr) {
        return;
    }
    try {
        tagKey->ChunkValue(index, chunk, side);
    } catch (...) {
        std::fill(side.begin(), side.end(), std::uint8_t{0});
        failed = true;
    }
}

// Enciphers the padded plain data coming from readPlain into output, after the header, and
// adds the trailer of the given version, if any.
// readError gives the reason of a failed readPlain; inputEnded, called once every byte was
// read, tells whether the input is still what was measured (FileError::Changed when not).
CodingResult WriteEncoded(const std::filesystem::path& output, std::string_view marker,
                          std::uint64_t plainBytes, const GostKey& key,
                          const SubstitutionTable& table,
                          const std::function<bool(std::span<std::uint8_t>)>& readPlain,
                          const std::function<std::error_code()>& readError,
                          const std::function<std::error_code()>& inputEnded,
                          const CodingOptions& options, FilePrivacy privacy,
                          std::optional<TrailerVersion> trailerVersion) {
    const bool withTrailer = trailerVersion.has_value();
    if (!IsWritableMarker(marker)) {
        return MakeResult(CodingStatus::BadMarker);
    }
    const std::uint64_t blockCount = (plainBytes + kGostBlockBytes - 1) / kGostBlockBytes;
    const auto padCount = static_cast<int>(blockCount * kGostBlockBytes - plainBytes);
    AtomicFile file(output, options.mode, privacy);
    const bool opened = file.Open();
    CodingResult result;
    result.staleRemoved = file.StaleRemoved();
    if (!opened) {
        result.status = OutputFailure(file.Error());
        result.error = file.Error();
        return result;
    }
    const std::string header = HeaderText(marker, blockCount, padCount);
    if (!file.Write(AsBytes(header))) {
        result.status = CodingStatus::OutputUnwritable;
        result.error = file.Error();
        return result;
    }
    const GostFast cipher(key, table);
    std::optional<TagKey> tagKey;
    std::optional<FileTagger> tagger;
    if (withTrailer) {
        tagKey.emplace(key, table, *trailerVersion);
        tagger.emplace(*tagKey, AsBytes(header));
    }
    std::atomic<bool> hashFailed{false};
    bool readFailed = false;
    bool cancelled = false;
    std::uint64_t offered = 0;
    ProgressPacer pacer(options.progress, blockCount * kGostBlockBytes);
    BlockPipeline pipeline;
    pipeline.chunkBytes = kTagChunkBytes;
    pipeline.sideBytes = withTrailer ? tagKey->ChunkValueBytes() : 0;
    pipeline.read = [&](std::span<std::uint8_t> chunk) {
        // The last chunk ends with the zero padding.
        const std::uint64_t left = plainBytes - offered;
        const std::size_t real =
            left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(real), chunk.end(), std::uint8_t{0});
        offered += real;
        if (!readPlain(chunk.first(real))) {
            readFailed = true;
            return false;
        }
        return true;
    };
    const TagKey* chunkKey = tagKey ? &*tagKey : nullptr;
    pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                             std::span<std::uint8_t> side) {
        cipher.Encrypt(chunk, kEncryptionPasses);
        TagChunk(chunkKey, index, chunk, side, hashFailed);
    };
    // Called on the caller's thread, so the cancel callback is asked there, between chunks.
    pipeline.write = [&](std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> side) {
        if (options.cancelled && options.cancelled()) {
            cancelled = true;
            return false;
        }
        if (tagger) {
            tagger->Add(side);
        }
        if (!file.Write(chunk)) {
            return false;
        }
        pacer.Add(chunk.size());
        return true;
    };
    if (!pipeline.Run(blockCount * kGostBlockBytes)) {
        if (cancelled) {
            result.status = CodingStatus::Cancelled;
        } else if (readFailed) {
            result.error = readError();
            result.status = InputFailure(result.error);
        } else {
            result.status = CodingStatus::OutputUnwritable;
            result.error = file.Error();
        }
        return result;
    }
    if (hashFailed) {
        result.status = CodingStatus::OutputUnwritable;
        result.error = std::make_error_code(std::errc::not_enough_memory);
        return result;
    }
    if (const std::error_code ended = inputEnded()) {
        result.status = InputFailure(ended);
        result.error = ended;
        return result;
    }
    if (withTrailer) {
        const Trailer trailer =
            MakeTrailer(*trailerVersion, tagKey->KeyCheck(AsBytes(header)), tagger->Finish());
        if (!file.Write(trailer)) {
            result.status = CodingStatus::OutputUnwritable;
            result.error = file.Error();
            return result;
        }
    }
    if (!file.Commit()) {
        result.status = OutputFailure(file.Error());
        result.error = file.Error();
        return result;
    }
    result.status = CodingStatus::Done;
    return result;
}

// Reads a whole input whose size the system does not report (a pseudo-file of size 0) into
// memory, at most kMeasuredInputLimit bytes.
bool ReadMeasured(PlatformFile& in, std::vector<std::uint8_t>& content, std::error_code& error) {
    std::array<std::uint8_t, 64 << 10> chunk{};
    for (;;) {
        const std::int64_t got = in.ReadSome(chunk);
        if (got < 0) {
            error = in.Error();
            return false;
        }
        if (got == 0) {
            return true;
        }
        if (content.size() + static_cast<std::size_t>(got) > kMeasuredInputLimit) {
            error = std::make_error_code(std::errc::file_too_large);
            return false;
        }
        content.insert(content.end(), chunk.begin(), chunk.begin() + got);
    }
}

CodingResult EncodeFromFile(const std::filesystem::path& input, const std::filesystem::path& output,
                            std::string_view marker, const GostKey& key,
                            const SubstitutionTable& table, const CodingOptions& options,
                            std::optional<TrailerVersion> trailerVersion) {
    PlatformFile in;
    if (!in.OpenForReading(input)) {
        return MakeResult(CodingStatus::InputUnreadable, in.Error());
    }
    FileIdentity opened;
    if (!in.Identify(opened)) {
        return MakeResult(CodingStatus::InputUnreadable, in.Error());
    }
    if (opened.size / kGostBlockBytes >= kMaxBlockCount) {
        return MakeResult(CodingStatus::InputUnreadable,
                          std::make_error_code(std::errc::file_too_large));
    }
    if (IsSameFile(input, output)) {
        return MakeResult(CodingStatus::SameFile);
    }
    // Size 0 says nothing about a pseudo-file's content: it is measured by reading it.
    std::vector<std::uint8_t> measured;
    const bool fromMemory = opened.size == 0;
    if (fromMemory) {
        std::error_code error;
        if (!ReadMeasured(in, measured, error)) {
            return MakeResult(CodingStatus::InputUnreadable, error);
        }
    }
    if (!fromMemory) {
        in.AdviseSequentialRead();
    }
    std::uint64_t offset = 0;
    const auto readPlain = [&](std::span<std::uint8_t> chunk) {
        if (fromMemory) {
            std::copy_n(measured.begin() + static_cast<std::ptrdiff_t>(offset), chunk.size(),
                        chunk.begin());
            offset += chunk.size();
            return true;
        }
        return in.ReadExactly(chunk);
    };
    // A file that shrinks while it is read fails the exact reads: changed, not zeros.
    const auto readError = [&] {
        const std::error_code error = in.Error();
        return error == MakeError(FileError::EndOfFile) ? MakeError(FileError::Changed) : error;
    };
    // After the last read the file must end where it was measured and be the same file with
    // the same size and times: a write meanwhile would otherwise be encoded in part.
    const auto inputEnded = [&]() -> std::error_code {
        if (fromMemory) {
            return {};
        }
        std::array<std::uint8_t, 1> beyond{};
        const std::int64_t got = in.ReadSome(beyond);
        if (got < 0) {
            return in.Error();
        }
        FileIdentity now;
        if (!in.Identify(now)) {
            return in.Error();
        }
        return got > 0 || !(now == opened) ? MakeError(FileError::Changed) : std::error_code();
    };
    return WriteEncoded(output, marker, fromMemory ? measured.size() : opened.size, key, table,
                        readPlain, readError, inputEnded, options, FilePrivacy::Normal,
                        trailerVersion);
}

}  // namespace

CodingResult EncodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    try {
        return EncodeFromFile(input, output, marker, key, table, options, kLatestTrailer);
    } catch (...) {
        // Out of memory or a failing library call: nothing was delivered.
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult EncodeFileWithTrailerVersion(const std::filesystem::path& input,
                                          const std::filesystem::path& output,
                                          std::string_view marker, const GostKey& key,
                                          const SubstitutionTable& table, TrailerVersion version,
                                          const CodingOptions& options) {
    try {
        return EncodeFromFile(input, output, marker, key, table, options, version);
    } catch (...) {
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult EncodeFileWithoutTrailer(const std::filesystem::path& input,
                                      const std::filesystem::path& output, std::string_view marker,
                                      const GostKey& key, const SubstitutionTable& table,
                                      const CodingOptions& options) {
    try {
        return EncodeFromFile(input, output, marker, key, table, options, std::nullopt);
    } catch (...) {
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult EncodeBufferChecked(std::span<const std::uint8_t> plain,
                                 const std::filesystem::path& output, std::string_view marker,
                                 const GostKey& key, const SubstitutionTable& table,
                                 OutputMode mode, FilePrivacy privacy) {
    try {
        std::size_t offset = 0;
        CodingOptions options;
        options.mode = mode;
        return WriteEncoded(
            output, marker, plain.size(), key, table,
            [&](std::span<std::uint8_t> chunk) {
                std::copy_n(plain.begin() + static_cast<std::ptrdiff_t>(offset), chunk.size(),
                            chunk.begin());
                offset += chunk.size();
                return true;
            },
            [] { return std::error_code(); }, [] { return std::error_code(); }, options, privacy,
            kLatestTrailer);
    } catch (...) {
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult DecodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    try {
        PlatformFile file;
        if (!file.OpenForReading(input)) {
            return MakeResult(CodingStatus::InputUnreadable, file.Error());
        }
        FileSource source(file);
        EncodedReader reader(source, key, table);
        CodingResult opened = reader.Open(marker);
        if (!opened.ok()) {
            return opened;
        }
        if (!reader.Tagged() && !options.allowUnverified) {
            return MakeResult(CodingStatus::Unverified);
        }
        if (IsSameFile(input, output)) {
            CodingResult same = MakeResult(CodingStatus::SameFile);
            same.tagged = reader.Tagged();
            return same;
        }
        AtomicFile out(output, options.mode);
        const bool created = out.Open();
        CodingResult result;
        result.staleRemoved = out.StaleRemoved();
        result.tagged = reader.Tagged();
        if (!created) {
            result.status = OutputFailure(out.Error());
            result.error = out.Error();
            return result;
        }
        AtomicSink sink(out);
        CodingResult decoded = reader.Decode(options, sink);
        decoded.staleRemoved = std::move(result.staleRemoved);
        if (!decoded.ok()) {
            out.Discard();
            return decoded;
        }
        if (!out.Commit()) {
            decoded.status = OutputFailure(out.Error());
            decoded.error = out.Error();
            decoded.tagVerified = false;
        }
        return decoded;
    } catch (...) {
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult CheckEncodedFile(const std::filesystem::path& input, std::string_view marker,
                              const GostKey& key, const SubstitutionTable& table) {
    try {
        PlatformFile file;
        if (!file.OpenForReading(input)) {
            return MakeResult(CodingStatus::InputUnreadable, file.Error());
        }
        FileSource source(file);
        EncodedReader reader(source, key, table);
        CodingResult opened = reader.Open(marker);
        if (!opened.ok() || !reader.Tagged()) {
            return opened;
        }
        DiscardSink sink;
        return reader.Decode({}, sink);
    } catch (...) {
        return MakeResult(CodingStatus::InputUnreadable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult DecodeToBufferChecked(const std::filesystem::path& input, std::string_view marker,
                                   const GostKey& key, const SubstitutionTable& table,
                                   std::vector<std::uint8_t>& plain, std::uint64_t maxBytes,
                                   const CodingOptions& options) {
    plain.clear();
    try {
        PlatformFile file;
        if (!file.OpenForReading(input)) {
            return MakeResult(CodingStatus::InputUnreadable, file.Error());
        }
        FileSource source(file);
        EncodedReader reader(source, key, table);
        CodingResult opened = reader.Open(marker);
        if (!opened.ok()) {
            return opened;
        }
        if (!reader.Tagged() && !options.allowUnverified) {
            return MakeResult(CodingStatus::Unverified);
        }
        if (reader.Header().PlainBytes() > maxBytes) {
            CodingResult large = MakeResult(CodingStatus::OutputUnwritable,
                                            std::make_error_code(std::errc::file_too_large));
            large.tagged = reader.Tagged();
            return large;
        }
        std::vector<std::uint8_t> data(static_cast<std::size_t>(reader.Header().PlainBytes()));
        SpanSink sink(data);
        CodingResult decoded = reader.Decode(options, sink);
        if (decoded.ok()) {
            plain = std::move(data);
        }
        return decoded;
    } catch (...) {
        plain.clear();
        return MakeResult(CodingStatus::OutputUnwritable,
                          std::make_error_code(std::errc::not_enough_memory));
    }
}

}  // namespace quorvane
