#include "cipher/EncodedReader.h"

#include <algorithm>
#include <optional>

#include "cipher/BlockPipeline.h"
#include "cipher/CipherError.h"
#include "cipher/FileTag.h"
#include "cipher/GostFast.h"
#include "cipher/ProgressPacer.h"

namespace quorvane {

Result<std::vector<std::uint8_t>> MemorySource::ReadPrefix(std::uint64_t size, std::size_t limit) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>({size, limit, bytes_.size()}));
    at_ = n;
    return std::vector<std::uint8_t>(bytes_.begin(),
                                     bytes_.begin() + static_cast<std::ptrdiff_t>(n));
}

Status MemorySource::Seek(std::uint64_t offset) {
    if (offset > bytes_.size()) {
        return Failure(std::make_error_code(std::errc::invalid_seek));
    }
    at_ = static_cast<std::size_t>(offset);
    return {};
}

Status MemorySource::ReadExactly(std::span<std::uint8_t> bytes) {
    if (bytes.size() > bytes_.size() - at_) {
        return Failure(MakeError(FileError::EndOfFile));
    }
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes.size(), bytes.begin());
    at_ += bytes.size();
    return {};
}

Status SpanSink::Write(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > target_.size() - at_) {
        return Failure(std::make_error_code(std::errc::no_buffer_space));
    }
    std::copy(bytes.begin(), bytes.end(), target_.begin() + static_cast<std::ptrdiff_t>(at_));
    at_ += bytes.size();
    return {};
}

CodingResult EncodedReader::Open(std::string_view marker) {
    const Result<std::uint64_t> measured = source_.Size();
    if (!measured) {
        return MakeResult(CodingStatus::InputUnreadable, measured.error().code());
    }
    const std::uint64_t size = *measured;
    const Result<std::vector<std::uint8_t>> read = source_.ReadPrefix(size, kHeaderWindow);
    if (!read) {
        return MakeResult(CodingStatus::InputUnreadable, read.error().code());
    }
    const std::vector<std::uint8_t>& prefix = *read;
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
    if (result.ok()) {
        if (const Status at = source_.Seek(header_.length); !at) {
            return MakeResult(CodingStatus::InputUnreadable, at.error().code());
        }
    }
    return result;
}

CodingResult EncodedReader::ReadTrailer(std::uint64_t size, std::uint64_t dataEnd) {
    const std::uint64_t extra = size - dataEnd;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(extra, kTrailerBytes));
    const std::span<std::uint8_t> first = std::span(trailerBytes_).first(n);
    if (n > 0) {
        Status read = source_.Seek(dataEnd);
        if (read) {
            read = source_.ReadExactly(first);
        }
        if (!read) {
            return MakeResult(CodingStatus::InputUnreadable, read.error().code());
        }
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
    std::optional<TagKey> tagKey;
    std::optional<FileTagger> tagger;
    if (Tagged()) {
        tagKey.emplace(key_, table_, trailer_.version);
        tagger.emplace(*tagKey, headerBytes_);
    }
    CodingResult result;
    result.tagged = Tagged();
    const Stopped stopped =
        Decipher(options, sink, tagKey ? &*tagKey : nullptr, tagger ? &*tagger : nullptr);
    switch (stopped.stop) {
        case Stop::None:
            break;
        case Stop::Cancelled:
            result.status = CodingStatus::Cancelled;
            return result;
        case Stop::Read:
            result.error = stopped.failure->code();
            // The file shrank while it was read.
            result.status = result.error == MakeError(FileError::EndOfFile)
                                ? CodingStatus::Truncated
                                : CodingStatus::InputUnreadable;
            return result;
        case Stop::Write:
            result.status = CodingStatus::OutputUnwritable;
            result.error = stopped.failure->code();
            return result;
    }
    if (tagger && !TagsEqual(tagger->Finish(), TrailerFileTag(trailerBytes_))) {
        result.status = CodingStatus::WrongKeyOrDamaged;
        result.error = MakeError(CipherError::Damaged);
        return result;
    }
    result.tagVerified = Tagged();
    result.status = CodingStatus::Done;
    return result;
}

EncodedReader::Stopped EncodedReader::Decipher(const CodingOptions& options, PlainSink& sink,
                                               const TagKey* tagKey, FileTagger* tagger) {
    const GostFast cipher(key_, table_);
    std::optional<Failure> readFailure;   // set on the reader's thread
    std::optional<Failure> writeFailure;  // set on the caller's
    bool cancelled = false;               // set on the caller's
    source_.AdviseSequentialRead();
    std::uint64_t plainLeft = header_.PlainBytes();
    ProgressPacer pacer(options.progress, header_.DataBytes());
    BlockPipeline pipeline;
    pipeline.chunkBytes = kTagChunkBytes;
    pipeline.sideBytes = tagKey != nullptr ? tagKey->ChunkValueBytes() : 0;
    pipeline.read = [&](std::span<std::uint8_t> chunk) {
        const Status read = source_.ReadExactly(chunk);
        if (!read) {
            readFailure = read.error();
        }
        return static_cast<bool>(read);
    };
    pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                             std::span<std::uint8_t> side) {
        // The tag covers the cipher data as stored: taken before deciphering.
        if (tagKey != nullptr) {
            tagKey->ChunkValue(index, chunk, side);
        }
        cipher.Decrypt(chunk, kEncryptionPasses);
    };
    // On the caller's thread, so the cancel request is asked there, between chunks.
    pipeline.write = [&](std::span<const std::uint8_t> chunk, std::span<const std::uint8_t> side) {
        cancelled = options.cancelled && options.cancelled();
        if (cancelled) {
            return false;
        }
        if (tagger != nullptr) {
            tagger->Add(side);
        }
        // The padding zeros at the end of the last block are not part of the plain data.
        const std::size_t keep =
            static_cast<std::size_t>(std::min<std::uint64_t>(plainLeft, chunk.size()));
        plainLeft -= keep;
        if (const Status written = sink.Write(chunk.first(keep)); !written) {
            writeFailure = written.error();
            return false;
        }
        pacer.Add(chunk.size());
        return true;
    };
    if (pipeline.Run(header_.DataBytes())) {
        return {};
    }
    if (cancelled) {
        return {Stop::Cancelled, std::nullopt};
    }
    return readFailure ? Stopped{Stop::Read, readFailure} : Stopped{Stop::Write, writeFailure};
}

}  // namespace quorvane
