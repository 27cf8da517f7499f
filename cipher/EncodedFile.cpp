#include "cipher/EncodedFile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>

#include "cipher/BlockPipeline.h"
#include "cipher/EncodedHeader.h"
#include "cipher/GostFast.h"

namespace quorvane {

namespace {

// Progress is reported after at least this many bytes (and once at the end).
constexpr std::uint64_t kProgressInterval = std::uint64_t{4} << 20;
constexpr std::size_t kMagicBytes = kTrailerMagic.size();
// An input whose reported size is 0 may still hold bytes (the system's pseudo-files such as
// /proc/cpuinfo): it is read into memory up to this many bytes, then encoded from there.
constexpr std::size_t kMeasuredInputLimit = std::size_t{64} << 20;

using Header = EncodedHeader;

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Calls progress at most every kProgressInterval bytes, and at the end.
class ProgressPacer {
public:
    ProgressPacer(const ProgressFn& progress, std::uint64_t total)
        : progress_(progress), total_(total) {}
    void Add(std::uint64_t bytes) {
        done_ += bytes;
        if (progress_ && (done_ - reported_ >= kProgressInterval || done_ == total_)) {
            reported_ = done_;
            progress_(done_, total_);
        }
    }

private:
    const ProgressFn& progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

CodingResult Status(CodingStatus status, std::error_code error = {}) {
    CodingResult result;
    result.status = status;
    result.error = error;
    return result;
}

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

// The magic of a trailer version.
const std::array<std::uint8_t, kMagicBytes>& MagicOf(TrailerVersion version) {
    return version == TrailerVersion::V1 ? kTrailerMagicV1 : kTrailerMagic;
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
        return Status(CodingStatus::BadMarker);
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
        std::array<std::uint8_t, kTrailerBytes> trailer{};
        const Tag check = tagKey->KeyCheck(AsBytes(header));
        const Tag tag = tagger->Finish();
        const auto& magic = MagicOf(*trailerVersion);
        std::copy(magic.begin(), magic.end(), trailer.begin());
        std::copy(check.begin(), check.end(), trailer.begin() + kMagicBytes);
        std::copy(tag.begin(), tag.end(), trailer.begin() + kMagicBytes + kTagBytes);
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

// An encoded file opened for reading: header parsed and checked against the marker, length
// checked, trailer found and its key check verified.
struct EncodedInput {
    PlatformFile file;
    Header header;
    std::vector<std::uint8_t> headerBytes;
    bool tagged = false;
    TrailerVersion version = kLatestTrailer;
    std::array<std::uint8_t, kTrailerBytes> trailer{};
};

CodingResult OpenEncoded(const std::filesystem::path& input, std::string_view marker,
                         const GostKey& key, const SubstitutionTable& table, EncodedInput& in) {
    if (!in.file.OpenForReading(input)) {
        return Status(CodingStatus::InputUnreadable, in.file.Error());
    }
    std::uint64_t size = 0;
    std::vector<std::uint8_t> prefix;
    if (!in.file.Size(size) || !ReadPrefix(in.file, size, kHeaderWindow, prefix)) {
        return Status(CodingStatus::InputUnreadable, in.file.Error());
    }
    Header& header = in.header;
    const std::error_code parsed = ParseHeader(prefix, header);
    // Another owner's file is told as such, whatever its header holds after the marker.
    if (header.marker != marker) {
        return Status(CodingStatus::NotEncoded);
    }
    if (parsed) {
        return Status(CodingStatus::NotEncoded, parsed);
    }
    in.headerBytes.assign(prefix.begin(),
                          prefix.begin() + static_cast<std::ptrdiff_t>(header.length));
    // A file cut short cannot decode correctly: refuse it before anything is written.
    const std::uint64_t dataEnd = header.length + header.DataBytes();
    if (size < dataEnd) {
        return Status(CodingStatus::Truncated);
    }
    // The trailer is looked for only where the header says the cipher data end, so the last
    // cipher bytes of a file without one never pass for a trailer. Bytes there that begin like
    // the magic, or exactly 72 bytes whatever they hold (a trailer whose magic was damaged),
    // are a trailer, which must then be whole and verify; other bytes there are ignored, as
    // readers of earlier versions did, and the file is untagged.
    const std::uint64_t extra = size - dataEnd;
    CodingResult damaged = Status(CodingStatus::WrongKeyOrDamaged);
    damaged.tagged = true;
    if (extra > 0) {
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(extra, kTrailerBytes));
        if (!in.file.Seek(dataEnd) || !in.file.ReadExactly(std::span(in.trailer).first(n))) {
            return Status(CodingStatus::InputUnreadable, in.file.Error());
        }
        // Either version's magic, or the start of one when fewer bytes follow.
        const std::span<const std::uint8_t> start =
            std::span(in.trailer).first(std::min(n, kMagicBytes));
        const std::optional<TrailerVersion> version =
            n >= kMagicBytes ? TrailerMagicVersion(start) : std::nullopt;
        const bool magic =
            version.has_value() || (n < kMagicBytes && StartsLikeTrailerMagic(start));
        in.tagged = magic || extra == kTrailerBytes;
        in.version = version.value_or(kLatestTrailer);
        if (in.tagged && (!version || extra != kTrailerBytes)) {
            return damaged;  // a trailer cut, extended or with a damaged magic
        }
    }
    if (in.tagged) {
        const Tag check = TagKey(key, table, in.version).KeyCheck(in.headerBytes);
        if (!TagsEqual(check, std::span(in.trailer).subspan(kMagicBytes, kTagBytes))) {
            return damaged;
        }
    }
    if (!in.file.Seek(header.length)) {
        return Status(CodingStatus::InputUnreadable, in.file.Error());
    }
    CodingResult result = Status(CodingStatus::Done);
    result.tagged = in.tagged;
    return result;
}

// Deciphers the cipher data of an opened file into sink, verifying the file tag on the way.
// Done (tagVerified when tagged) only when every read and every sink call succeeded and the tag
// matches; the caller commits the output only then.
CodingResult DecodeData(EncodedInput& in, const GostKey& key, const SubstitutionTable& table,
                        const ProgressFn& progress, const std::function<bool()>& cancelled,
                        const std::function<bool(std::span<const std::uint8_t>)>& sink,
                        const std::function<std::error_code()>& sinkError) {
    const Header& header = in.header;
    const GostFast cipher(key, table);
    std::optional<TagKey> tagKey;
    std::optional<FileTagger> tagger;
    if (in.tagged) {
        tagKey.emplace(key, table, in.version);
        tagger.emplace(*tagKey, in.headerBytes);
    }
    const TagKey* chunkKey = tagKey ? &*tagKey : nullptr;
    std::atomic<bool> hashFailed{false};
    bool readFailed = false;
    bool stopped = false;
    in.file.AdviseSequentialRead();
    std::uint64_t plainLeft = header.PlainBytes();
    ProgressPacer pacer(progress, header.DataBytes());
    BlockPipeline pipeline;
    pipeline.chunkBytes = kTagChunkBytes;
    pipeline.sideBytes = in.tagged ? tagKey->ChunkValueBytes() : 0;
    pipeline.read = [&](std::span<std::uint8_t> chunk) {
        if (!in.file.ReadExactly(chunk)) {
            readFailed = true;
            return false;
        }
        return true;
    };
    pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                             std::span<std::uint8_t> side) {
        // The tag covers the cipher data as stored: taken before deciphering.
        TagChunk(chunkKey, index, chunk, side, hashFailed);
        cipher.Decrypt(chunk, kEncryptionPasses);
    };
    pipeline.write = [&](std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> side) {
        if (cancelled && cancelled()) {
            stopped = true;
            return false;
        }
        if (tagger) {
            tagger->Add(side);
        }
        // The padding zeros at the end of the last block are not part of the plain data.
        const std::size_t keep =
            plainLeft < chunk.size() ? static_cast<std::size_t>(plainLeft) : chunk.size();
        plainLeft -= keep;
        if (!sink(chunk.first(keep))) {
            return false;
        }
        pacer.Add(chunk.size());
        return true;
    };
    CodingResult result;
    result.tagged = in.tagged;
    if (!pipeline.Run(header.DataBytes())) {
        if (stopped) {
            result.status = CodingStatus::Cancelled;
        } else if (readFailed) {
            const std::error_code error = in.file.Error();
            // The file shrank while it was read.
            result.status = error == MakeError(FileError::EndOfFile)
                                ? CodingStatus::Truncated
                                : CodingStatus::InputUnreadable;
            result.error = error;
        } else {
            result.status = CodingStatus::OutputUnwritable;
            result.error = sinkError();
        }
        return result;
    }
    if (hashFailed) {
        result.status = CodingStatus::InputUnreadable;
        result.error = std::make_error_code(std::errc::not_enough_memory);
        return result;
    }
    if (in.tagged) {
        const Tag tag = tagger->Finish();
        if (!TagsEqual(tag, std::span(in.trailer).subspan(kMagicBytes + kTagBytes, kTagBytes))) {
            result.status = CodingStatus::WrongKeyOrDamaged;
            return result;
        }
        result.tagVerified = true;
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
        return Status(CodingStatus::InputUnreadable, in.Error());
    }
    FileIdentity opened;
    if (!in.Identify(opened)) {
        return Status(CodingStatus::InputUnreadable, in.Error());
    }
    if (opened.size / kGostBlockBytes >= kMaxBlockCount) {
        return Status(CodingStatus::InputUnreadable,
                      std::make_error_code(std::errc::file_too_large));
    }
    if (IsSameFile(input, output)) {
        return Status(CodingStatus::SameFile);
    }
    // Size 0 says nothing about a pseudo-file's content: it is measured by reading it.
    std::vector<std::uint8_t> measured;
    const bool fromMemory = opened.size == 0;
    if (fromMemory) {
        std::error_code error;
        if (!ReadMeasured(in, measured, error)) {
            return Status(CodingStatus::InputUnreadable, error);
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

std::string Reason(const std::error_code& error) {
    if (!error) {
        return {};
    }
    if (error == std::errc::is_a_directory) {
        return "is a folder";
    }
    std::string text = error.message();
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

}  // namespace

std::optional<TrailerVersion> TrailerMagicVersion(std::span<const std::uint8_t> bytes) {
    if (std::ranges::equal(bytes, kTrailerMagic)) {
        return TrailerVersion::V2;
    }
    if (std::ranges::equal(bytes, kTrailerMagicV1)) {
        return TrailerVersion::V1;
    }
    return std::nullopt;
}

bool StartsLikeTrailerMagic(std::span<const std::uint8_t> bytes) {
    const auto startsWith = [&](const std::array<std::uint8_t, kMagicBytes>& magic) {
        return bytes.size() <= magic.size() &&
               std::equal(bytes.begin(), bytes.end(), magic.begin());
    };
    return startsWith(kTrailerMagic) || startsWith(kTrailerMagicV1);
}

CodingResult EncodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    try {
        return EncodeFromFile(input, output, marker, key, table, options, kLatestTrailer);
    } catch (...) {
        // Out of memory or a failing library call: nothing was delivered.
        return Status(CodingStatus::OutputUnwritable,
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
        return Status(CodingStatus::OutputUnwritable,
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
        return Status(CodingStatus::OutputUnwritable,
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
        return Status(CodingStatus::OutputUnwritable,
                      std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult DecodeFileChecked(const std::filesystem::path& input,
                               const std::filesystem::path& output, std::string_view marker,
                               const GostKey& key, const SubstitutionTable& table,
                               const CodingOptions& options) {
    try {
        EncodedInput in;
        CodingResult opened = OpenEncoded(input, marker, key, table, in);
        if (!opened.ok()) {
            return opened;
        }
        if (!in.tagged && !options.allowUnverified) {
            return Status(CodingStatus::Unverified);
        }
        if (IsSameFile(input, output)) {
            CodingResult same = Status(CodingStatus::SameFile);
            same.tagged = in.tagged;
            return same;
        }
        AtomicFile file(output, options.mode);
        const bool created = file.Open();
        CodingResult result;
        result.staleRemoved = file.StaleRemoved();
        result.tagged = in.tagged;
        if (!created) {
            result.status = OutputFailure(file.Error());
            result.error = file.Error();
            return result;
        }
        CodingResult decoded = DecodeData(
            in, key, table, options.progress, options.cancelled,
            [&](std::span<const std::uint8_t> bytes) { return file.Write(bytes); },
            [&] { return file.Error(); });
        decoded.staleRemoved = std::move(result.staleRemoved);
        if (!decoded.ok()) {
            file.Discard();
            return decoded;
        }
        if (!file.Commit()) {
            decoded.status = OutputFailure(file.Error());
            decoded.error = file.Error();
            decoded.tagVerified = false;
        }
        return decoded;
    } catch (...) {
        return Status(CodingStatus::OutputUnwritable,
                      std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult CheckEncodedFile(const std::filesystem::path& input, std::string_view marker,
                              const GostKey& key, const SubstitutionTable& table) {
    try {
        EncodedInput in;
        CodingResult opened = OpenEncoded(input, marker, key, table, in);
        if (!opened.ok() || !in.tagged) {
            return opened;
        }
        return DecodeData(
            in, key, table, {}, {}, [](std::span<const std::uint8_t>) { return true; },
            [] { return std::error_code(); });
    } catch (...) {
        return Status(CodingStatus::InputUnreadable,
                      std::make_error_code(std::errc::not_enough_memory));
    }
}

CodingResult CheckEncodedKey(const std::filesystem::path& input, std::string_view marker,
                             const GostKey& key, const SubstitutionTable& table) {
    EncodedInput in;
    return OpenEncoded(input, marker, key, table, in);
}

CodingResult DecodeToBufferChecked(const std::filesystem::path& input, std::string_view marker,
                                   const GostKey& key, const SubstitutionTable& table,
                                   std::vector<std::uint8_t>& plain, std::uint64_t maxBytes,
                                   const CodingOptions& options) {
    plain.clear();
    try {
        EncodedInput in;
        CodingResult opened = OpenEncoded(input, marker, key, table, in);
        if (!opened.ok()) {
            return opened;
        }
        if (!in.tagged && !options.allowUnverified) {
            return Status(CodingStatus::Unverified);
        }
        if (in.header.PlainBytes() > maxBytes) {
            CodingResult large = Status(CodingStatus::OutputUnwritable,
                                        std::make_error_code(std::errc::file_too_large));
            large.tagged = in.tagged;
            return large;
        }
        std::vector<std::uint8_t> data;
        data.reserve(static_cast<std::size_t>(in.header.PlainBytes()));
        CodingResult decoded = DecodeData(
            in, key, table, options.progress, options.cancelled,
            [&](std::span<const std::uint8_t> bytes) {
                data.insert(data.end(), bytes.begin(), bytes.end());
                return true;
            },
            [] { return std::error_code(); });
        if (decoded.ok()) {
            plain = std::move(data);
        }
        return decoded;
    } catch (...) {
        plain.clear();
        return Status(CodingStatus::OutputUnwritable,
                      std::make_error_code(std::errc::not_enough_memory));
    }
}

std::string DescribeFailure(const CodingResult& result) {
    const std::string reason = Reason(result.error);
    const auto with = [&](const std::string& what) {
        return reason.empty() ? what : what + ": " + reason;
    };
    switch (result.status) {
        case CodingStatus::Done:
            return {};
        case CodingStatus::InputUnreadable:
            return with("cannot read the input file");
        case CodingStatus::NotEncoded:
            // A header with this owner's marker names the field at fault.
            return reason.empty() ? "not an encoded file of this owner, or its header is damaged"
                                  : reason;
        case CodingStatus::Truncated:
            return "the encoded file is cut short";
        case CodingStatus::WrongKeyOrDamaged:
            return "wrong key or damaged file";
        case CodingStatus::OutputExists:
            return "the output file exists already";
        case CodingStatus::OutputUnwritable:
            return with("cannot write the output file");
        case CodingStatus::SameFile:
            return "the output is the input file itself";
        case CodingStatus::BadMarker:
            return "the owner's name cannot be written into the file header";
        case CodingStatus::Unverified:
            return "carries no check value (written by an earlier version, or the value was "
                   "removed): the key cannot be confirmed";
        case CodingStatus::InputChanged:
            return "changed while it was read";
        case CodingStatus::Cancelled:
            return "cancelled";
    }
    return "failed";
}

}  // namespace quorvane
