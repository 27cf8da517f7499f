#include "cipher/EncodedReader.h"

#include <algorithm>
#include <optional>

#include "cipher/BlockPipeline.h"
#include "cipher/CipherError.h"
#include "cipher/FileTag.h"
#include "cipher/GostFast.h"
#include "cipher/ProgressPacer.h"

namespace quorvane {

bool MemorySource::Size(std::uint64_t& bytes) {
    bytes = bytes_.size();
    return true;
}

bool MemorySource::ReadPrefix(std::uint64_t size, std::size_t limit,
                              std::vector<std::uint8_t>& prefix) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>({size, limit, bytes_.size()}));
    prefix.assign(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(n));
    at_ = n;
    return true;
}

bool MemorySource::Seek(std::uint64_t offset) {
    if (offset > bytes_.size()) {
        error_ = std::make_error_code(std::errc::invalid_seek);
        return false;
    }
    at_ = static_cast<std::size_t>(offset);
    return true;
}

bool MemorySource::ReadExactly(std::span<std::uint8_t> bytes) {
    if (bytes.size() > bytes_.size() - at_) {
        error_ = MakeError(FileError::EndOfFile);
        return false;
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes.size(), bytes.begin());
    at_ += bytes.size();
    return true;
}

bool SpanSink::Write(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > target_.size() - at_) {
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), target_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ += bytes.size();
    return true;
}

CodingResult EncodedReader::Open(std::string_view marker) {
    std::uint64_t size = 0;
    std::vector<std::uint8_t> prefix;
    if (!source_.Size(size) || !source_.ReadPrefix(size, kHeaderWindow, prefix)) {
        return MakeResult(CodingStatus::InputUnreadable, source_.Error());
    }
    const std::error_code parsed = ParseHeader(prefix, header_);
    // Another owner's file is told as such, whatever its header holds after the marker.
    if (header_.marker != marker) {
        return MakeResult(CodingStatus::NotEncoded);
    }
    if (parsed) {
        return MakeResult(CodingStatus::NotEncoded, parsed);
    }
    headerBytes_.assign(prefix.begin(),
                        prefix.begin() + static_cast<std::ptrdiff_t>(header_.length));
    // A file cut short cannot decode correctly: refuse it before anything is written.
    const std::uint64_t dataEnd = header_.length + header_.DataBytes();
    if (size < dataEnd) {
        return MakeResult(CodingStatus::Truncated);
    }
    CodingResult result = ReadTrailer(size, dataEnd);
    if (result.ok() && !source_.Seek(header_.length)) {
        return MakeResult(CodingStatus::InputUnreadable, source_.Error());
    }
    return result;
}

CodingResult EncodedReader::ReadTrailer(std::uint64_t size, std::uint64_t dataEnd) {
    const std::uint64_t extra = size - dataEnd;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(extra, kTrailerBytes));
    const std::span<std::uint8_t> first = std::span(trailerBytes_).first(n);
    if (n > 0 && (!source_.Seek(dataEnd) || !source_.ReadExactly(first))) {
        return MakeResult(CodingStatus::InputUnreadable, source_.Error());
    }
    trailer_ = LocateTrailer(extra, first);
    CodingResult result = MakeResult(CodingStatus::Done);
    result.tagged = Tagged();
    if (trailer_.place == TrailerPlace::Damaged) {
        result.status = CodingStatus::WrongKeyOrDamaged;
        result.error = MakeError(CipherError::Damaged);
    } else if (trailer_.place == TrailerPlace::Whole &&
               !TagsEqual(TagKey(key_, table_, trailer_.version).KeyCheck(headerBytes_),
                          TrailerKeyCheck(trailerBytes_))) {
        result.status = CodingStatus::WrongKeyOrDamaged;
        result.error = MakeError(CipherError::WrongKey);
    }
    return result;
}

CodingResult EncodedReader::Decode(const CodingOptions& options, PlainSink& sink) {
    const bool tagged = Tagged();
    const GostFast cipher(key_, table_);
    std::optional<TagKey> tagKey;
    std::optional<FileTagger> tagger;
    if (tagged) {
        tagKey.emplace(key_, table_, trailer_.version);
        tagger.emplace(*tagKey, headerBytes_);
    }
    bool readFailed = false;
    bool stopped = false;
    bool sinkFailed = false;
    source_.AdviseSequentialRead();
    std::uint64_t plainLeft = header_.PlainBytes();
    ProgressPacer pacer(options.progress, header_.DataBytes());
    BlockPipeline pipeline;
    pipeline.chunkBytes = kTagChunkBytes;
    pipeline.sideBytes = tagged ? tagKey->ChunkValueBytes() : 0;
    pipeline.read = [&](std::span<std::uint8_t> chunk) {
        readFailed = !source_.ReadExactly(chunk);
        return !readFailed;
    };
    pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                             std::span<std::uint8_t> side) {
        // The tag covers the cipher data as stored: taken before deciphering.
        if (tagKey) {
            tagKey->ChunkValue(index, chunk, side);
        }
        cipher.Decrypt(chunk, kEncryptionPasses);
    };
    pipeline.write = [&](std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> side) {
        if (options.cancelled && options.cancelled()) {
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
        if (!sink.Write(chunk.first(keep))) {
            sinkFailed = true;
            return false;
        }
        pacer.Add(chunk.size());
        return true;
    };
    CodingResult result;
    result.tagged = tagged;
    if (!pipeline.Run(header_.DataBytes())) {
        if (stopped) {
            result.status = CodingStatus::Cancelled;
        } else if (readFailed) {
            const std::error_code error = source_.Error();
            // The file shrank while it was read.
            result.status = error == MakeError(FileError::EndOfFile)
                                ? CodingStatus::Truncated
                                : CodingStatus::InputUnreadable;
            result.error = error;
        } else {
            result.status = CodingStatus::OutputUnwritable;
            result.error = sinkFailed ? sink.Error() : std::error_code();
        }
        return result;
    }
    if (tagged) {
        if (!TagsEqual(tagger->Finish(), TrailerFileTag(trailerBytes_))) {
            result.status = CodingStatus::WrongKeyOrDamaged;
            result.error = MakeError(CipherError::Damaged);
            return result;
        }
        result.tagVerified = true;
    }
    result.status = CodingStatus::Done;
    return result;
}

}  // namespace quorvane
