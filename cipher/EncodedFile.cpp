#include "cipher/EncodedFile.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <optional>

#include "cipher/BlockPipeline.h"
#include "cipher/GostFast.h"

namespace quorvane {

namespace {

// Progress is reported after at least this many bytes (and once at the end).
constexpr std::uint64_t kProgressInterval = std::uint64_t{4} << 20;
// Largest block count a header may state: the data length must fit a signed 64-bit file offset.
constexpr std::uint64_t kMaxBlockCount = (std::uint64_t{1} << 59);
constexpr std::size_t kMaxCountDigits = 20;
// The header is parsed from the first bytes of the file: the longest header (999-byte marker,
// 20 digits) with room for leading white space.
constexpr std::size_t kHeaderWindow = std::size_t{64} << 10;
constexpr std::size_t kMagicBytes = kTrailerMagic.size();

// White space as the header's reader has always understood it (the C locale's isspace).
bool IsSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// A marker is written as one token and must read back as the same token.
bool IsWritableMarker(std::string_view marker) {
    if (marker.empty() || marker.size() > kMaxMarkerLength) {
        return false;
    }
    return std::none_of(marker.begin(), marker.end(),
                        [](char c) { return c == '\0' || IsSpace(static_cast<unsigned char>(c)); });
}

struct Header {
    std::string marker;
    std::uint64_t blockCount = 0;
    int padCount = 0;
    std::size_t length = 0;  // bytes from the start of the file to the cipher data
    std::uint64_t DataBytes() const { return blockCount * kGostBlockBytes; }
    std::uint64_t PlainBytes() const { return DataBytes() - static_cast<std::uint64_t>(padCount); }
};

std::string HeaderText(std::string_view marker, std::uint64_t blockCount, int padCount) {
    std::string text(marker);
    text += kHeaderSeparator;
    text += std::to_string(blockCount);
    text += kHeaderSeparator;
    text += std::to_string(padCount);
    text += kHeaderSeparator;
    return text;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Reads bytes one by one from the start of a file held in memory; -1 at the end.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    int Get() { return pos_ < bytes_.size() ? bytes_[pos_++] : -1; }
    void Unget() { --pos_; }
    std::size_t Position() const { return pos_; }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Reads the first token: leading white space skipped, then everything up to the next white
// space or the end. False when there is none or it is longer than kMaxMarkerLength. The cursor
// is left on the byte after the token.
bool ReadToken(Cursor& in, std::string& token) {
    token.clear();
    int c = in.Get();
    while (c >= 0 && IsSpace(c)) {
        c = in.Get();
    }
    while (c >= 0 && !IsSpace(c)) {
        if (token.size() == kMaxMarkerLength) {
            return false;
        }
        token.push_back(static_cast<char>(c));
        c = in.Get();
    }
    if (c >= 0) {
        in.Unget();
    }
    return !token.empty();
}

// Parses "marker LF blockCount LF padCount LF" strictly: plain decimal digits, no sign, no
// overflow, padCount 0..7 and 0 when there are no blocks.
bool ParseHeader(std::span<const std::uint8_t> bytes, Header& header) {
    Cursor in(bytes);
    if (!ReadToken(in, header.marker) || in.Get() != kHeaderSeparator) {
        return false;
    }
    std::uint64_t count = 0;
    std::size_t digits = 0;
    int c = in.Get();
    for (; c >= '0' && c <= '9'; c = in.Get()) {
        if (++digits > kMaxCountDigits) {
            return false;
        }
        count = count * 10 + static_cast<std::uint64_t>(c - '0');
        if (count > kMaxBlockCount) {
            return false;
        }
    }
    if (digits == 0 || c != kHeaderSeparator) {
        return false;
    }
    const int pad = in.Get();
    if (pad < '0' || pad > '0' + kMaxPadCount || in.Get() != kHeaderSeparator) {
        return false;
    }
    header.blockCount = count;
    header.padCount = pad - '0';
    header.length = in.Position();
    return !(header.blockCount == 0 && header.padCount != 0);
}

// Reads up to `limit` bytes from the start of an open file.
bool ReadPrefix(PlatformFile& file, std::uint64_t fileSize, std::size_t limit,
                std::vector<std::uint8_t>& prefix) {
    prefix.resize(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, limit)));
    std::size_t got = 0;
    while (got < prefix.size()) {
        const std::int64_t n = file.ReadSome(std::span(prefix).subspan(got));
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    prefix.resize(got);
    return true;
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
CodingResult WriteEncoded(const std::filesystem::path& output, std::string_view marker,
                          std::uint64_t plainBytes, const GostKey& key,
                          const SubstitutionTable& table,
                          const std::function<bool(std::span<std::uint8_t>)>& readPlain,
                          const std::function<std::error_code()>& readError,
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
            result.status = CodingStatus::InputUnreadable;
            result.error = readError();
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
    if (!ParseHeader(prefix, header) || header.marker != marker) {
        return Status(CodingStatus::NotEncoded);
    }
    in.headerBytes.assign(prefix.begin(),
                          prefix.begin() + static_cast<std::ptrdiff_t>(header.length));
    // A file cut short cannot decode correctly: refuse it before anything is written.
    const std::uint64_t dataEnd = header.length + header.DataBytes();
    if (size < dataEnd) {
        return Status(CodingStatus::Truncated);
    }
    const std::uint64_t extra = size - dataEnd;
    CodingResult damaged = Status(CodingStatus::WrongKeyOrDamaged);
    damaged.tagged = true;
    if (size >= header.length + kTrailerBytes) {
        if (!in.file.Seek(size - kTrailerBytes) || !in.file.ReadExactly(in.trailer)) {
            return Status(CodingStatus::InputUnreadable, in.file.Error());
        }
        const std::optional<TrailerVersion> version =
            TrailerMagicVersion(std::span(in.trailer).first(kMagicBytes));
        in.tagged = version.has_value();
        in.version = version.value_or(kLatestTrailer);
        // A trailer that is not right after the data: blocks were added or removed, or the
        // header's count was changed.
        if (in.tagged && extra != kTrailerBytes) {
            return damaged;
        }
    }
    if (!in.tagged && extra == kTrailerBytes) {
        return damaged;  // a trailer whose magic was changed
    }
    if (!in.tagged && extra > 0) {
        // The start of a trailer that was cut or extended.
        std::array<std::uint8_t, kMagicBytes> start{};
        const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(extra, kMagicBytes));
        if (!in.file.Seek(dataEnd) || !in.file.ReadExactly(std::span(start).first(n))) {
            return Status(CodingStatus::InputUnreadable, in.file.Error());
        }
        if (StartsLikeTrailerMagic(std::span(start).first(n))) {
            return damaged;
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

CodingResult EncodeFromFile(const std::filesystem::path& input, const std::filesystem::path& output,
                            std::string_view marker, const GostKey& key,
                            const SubstitutionTable& table, const CodingOptions& options,
                            std::optional<TrailerVersion> trailerVersion) {
    PlatformFile in;
    if (!in.OpenForReading(input)) {
        return Status(CodingStatus::InputUnreadable, in.Error());
    }
    std::uint64_t length = 0;
    if (!in.Size(length)) {
        return Status(CodingStatus::InputUnreadable, in.Error());
    }
    if (length / kGostBlockBytes >= kMaxBlockCount) {
        return Status(CodingStatus::InputUnreadable,
                      std::make_error_code(std::errc::file_too_large));
    }
    if (IsSameFile(input, output)) {
        return Status(CodingStatus::SameFile);
    }
    in.AdviseSequentialRead();
    // A file that shrinks while it is read fails the exact reads: no silent zeros.
    return WriteEncoded(
        output, marker, length, key, table,
        [&](std::span<std::uint8_t> chunk) { return in.ReadExactly(chunk); },
        [&] { return in.Error(); }, options, FilePrivacy::Normal, trailerVersion);
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
            [] { return std::error_code(); }, options, privacy, kLatestTrailer);
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

CodingResult DecodeToBufferChecked(const std::filesystem::path& input, std::string_view marker,
                                   const GostKey& key, const SubstitutionTable& table,
                                   std::vector<std::uint8_t>& plain, std::uint64_t maxBytes) {
    plain.clear();
    try {
        EncodedInput in;
        CodingResult opened = OpenEncoded(input, marker, key, table, in);
        if (!opened.ok()) {
            return opened;
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
            in, key, table, {}, {},
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
            return "not an encoded file of this owner, or its header is damaged";
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

int EncodeFile(const std::filesystem::path& input, const std::filesystem::path& output,
               std::string_view marker, const GostKey& key, const SubstitutionTable& table,
               const ProgressFn& progress) {
    CodingOptions options;
    options.progress = progress;
    return EncodeFileChecked(input, output, marker, key, table, options).ok() ? 1 : 0;
}

int EncodeBuffer(std::span<const std::uint8_t> plain, const std::filesystem::path& output,
                 std::string_view marker, const GostKey& key, const SubstitutionTable& table) {
    return EncodeBufferChecked(plain, output, marker, key, table, OutputMode::Replace,
                               FilePrivacy::Normal)
                   .ok()
               ? 1
               : 0;
}

int DecodeFile(const std::filesystem::path& input, const std::filesystem::path& output,
               std::string_view marker, const GostKey& key, const SubstitutionTable& table,
               const ProgressFn& progress) {
    CodingOptions options;
    options.progress = progress;
    return DecodeFileChecked(input, output, marker, key, table, options).ok() ? 1 : 0;
}

int DecodeToBuffer(const std::filesystem::path& input, std::string_view marker, const GostKey& key,
                   const SubstitutionTable& table, std::vector<std::uint8_t>& plain,
                   std::uint64_t maxBytes) {
    return DecodeToBufferChecked(input, marker, key, table, plain, maxBytes).ok() ? 1 : 0;
}

bool ReadMarker(const std::filesystem::path& input, std::string& token) {
    token.clear();
    try {
        PlatformFile file;
        std::uint64_t size = 0;
        std::vector<std::uint8_t> prefix;
        if (!file.OpenForReading(input) || !file.Size(size) ||
            !ReadPrefix(file, size, kHeaderWindow, prefix)) {
            return false;
        }
        Cursor in(prefix);
        if (!ReadToken(in, token)) {
            token.clear();
            return false;
        }
        return true;
    } catch (...) {
        token.clear();
        return false;
    }
}

}  // namespace quorvane
