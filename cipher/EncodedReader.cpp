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

Failure EncodedReader::Refused(CipherError error) const {
    return Failure(MakeError(error), source_.Path());
}

Status EncodedReader::Open(std::string_view marker) {
    const Result<std::uint64_t> size = source_.Size();
    if (!size) {
        return size.error();
    }
    const Result<std::vector<std::uint8_t>> prefix = source_.ReadPrefix(*size, kHeaderWindow);
    if (!prefix) {
        return prefix.error();
    }
    const std::error_code parsed = ParseHeader(*prefix, header_);
    // Another owner's file is told as such, whatever its header holds after the marker.
    if (header_.marker != marker) {
        return Refused(CipherError::NotEncoded);
    }
    if (parsed) {
        return Failure(parsed, source_.Path());
    }
    headerBytes_.assign(prefix->begin(),
                        prefix->begin() + static_cast<std::ptrdiff_t>(header_.length));
    // A file cut short cannot decode correctly: refuse it before anything is written.
    const std::uint64_t dataEnd = header_.length + header_.DataBytes();
    if (*size < dataEnd) {
        return Refused(CipherError::Truncated);
    }
    if (const Status trailer = ReadTrailer(*size, dataEnd); !trailer) {
        return trailer;
    }
    return source_.Seek(header_.length);
}

Status EncodedReader::ReadTrailer(std::uint64_t size, std::uint64_t dataEnd) {
    const std::uint64_t extra = size - dataEnd;
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(extra, kTrailerBytes));
    const std::span<std::uint8_t> first = std::span(trailerBytes_).first(n);
    if (n > 0) {
        if (Status read = source_.Seek(dataEnd); !read || !(read = source_.ReadExactly(first))) {
            return read;
        }
    }
    trailer_ = LocateTrailer(extra, first);
    if (trailer_.place == TrailerPlace::Damaged) {
        return Refused(CipherError::Damaged);
    }
    if (trailer_.place == TrailerPlace::Whole &&
        !TagsEqual(TagKey(key_, table_, trailer_.version).KeyCheck(headerBytes_),
                   TrailerKeyCheck(trailerBytes_))) {
        return Refused(CipherError::WrongKey);
    }
    return {};
}

Status EncodedReader::Decode(const CodingOptions& options, PlainSink& sink) {
    std::optional<TagKey> tagKey;
    std::optional<FileTagger> tagger;
    if (Tagged()) {
        tagKey.emplace(key_, table_, trailer_.version);
        tagger.emplace(*tagKey, headerBytes_);
    }
    if (const Status deciphered =
            Decipher(options, sink, tagKey ? &*tagKey : nullptr, tagger ? &*tagger : nullptr);
        !deciphered) {
        return deciphered;
    }
    if (tagger && !TagsEqual(tagger->Finish(), TrailerFileTag(trailerBytes_))) {
        return Refused(CipherError::Damaged);
    }
    return {};
}

Status EncodedReader::Decipher(const CodingOptions& options, PlainSink& sink, const TagKey* tagKey,
                               FileTagger* tagger) {
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
        return Refused(CipherError::Cancelled);
    }
    if (readFailure) {
        // The file shrank while it was read.
        return readFailure->code() == MakeError(FileError::EndOfFile)
                   ? Refused(CipherError::Truncated)
                   : *readFailure;
    }
    return *writeFailure;
}

}  // namespace quorvane
