#include "cipher/EncodedWriter.h"

#include <algorithm>
#include <string>

#include "cipher/BlockPipeline.h"
#include "cipher/CipherError.h"
#include "cipher/EncodedFormat.h"
#include "cipher/EncodedHeader.h"
#include "cipher/GostFast.h"
#include "cipher/ProgressPacer.h"

namespace quorvane {

namespace {

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// One encoding: the header, the cipher data through the pipeline with their chunk values, the
// trailer, the commit. Each step fails with its reason, and the first failure ends the encoding.
class Encoding final {
public:
    Encoding(PlainSource& source, const EncodeTarget& target, const CodingOptions& options)
        : source_(source),
          target_(target),
          options_(options),
          blockCount_((source.Size() + kGostBlockBytes - 1) / kGostBlockBytes),
          header_(HeaderText(target.marker, blockCount_,
                             static_cast<int>(blockCount_ * kGostBlockBytes - source.Size()))),
          file_(target.output, options.mode, target.privacy) {
        if (target.trailer) {
            tagKey_.emplace(target.key, target.table, *target.trailer);
            tagger_.emplace(*tagKey_, AsBytes(header_));
        }
    }

    Status Run() {
        Status step = OpenWithHeader();
        if (step && (step = Encipher()) && (step = source_.Ended())) {
            step = TrailerAndCommit();
        }
        return step;
    }

private:
    Status OpenWithHeader() {
        Status step = file_.Open();
        if (options_.leftoverRemoved) {
            for (const std::filesystem::path& leftover : file_.StaleRemoved()) {
                options_.leftoverRemoved(leftover);
            }
        }
        // A file system's size limit (FAT32's 4 GiB) refuses the whole file before a byte.
        const std::uint64_t total =
            header_.size() + blockCount_ * kGostBlockBytes + (target_.trailer ? kTrailerBytes : 0);
        if (step && (step = file_.Expect(total))) {
            step = file_.Write(AsBytes(header_));
        }
        return step;
    }

    // The plain data, zero-padded to whole blocks, enciphered and written chunk by chunk.
    Status Encipher() {
        const GostFast cipher(target_.key, target_.table);
        const std::uint64_t plainBytes = source_.Size();
        std::uint64_t offered = 0;
        Status read;     // on the reader's thread
        Status written;  // on the caller's
        bool cancelled = false;
        ProgressPacer pacer(options_.progress, blockCount_ * kGostBlockBytes);
        BlockPipeline pipeline;
        pipeline.chunkBytes = kTagChunkBytes;
        pipeline.sideBytes = tagKey_ ? tagKey_->ChunkValueBytes() : 0;
        pipeline.read = [&](std::span<std::uint8_t> chunk) {
            // The last chunk ends with the zero padding.
            const std::size_t real = static_cast<std::size_t>(
                std::min<std::uint64_t>(plainBytes - offered, chunk.size()));
            std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(real), chunk.end(),
                      std::uint8_t{0});
            offered += real;
            read = source_.Read(chunk.first(real));
            return static_cast<bool>(read);
        };
        pipeline.transform = [&](std::uint64_t index, std::span<std::uint8_t> chunk,
                                 std::span<std::uint8_t> side) {
            cipher.Encrypt(chunk, kEncryptionPasses);
            if (tagKey_) {
                tagKey_->ChunkValue(index, chunk, side);
            }
        };
        // On the caller's thread, so the cancel request is asked there, between chunks.
        pipeline.write = [&](std::span<const std::uint8_t> chunk,
                             std::span<const std::uint8_t> side) {
            cancelled = options_.cancelled && options_.cancelled();
            if (cancelled) {
                return false;
            }
            if (tagger_) {
                tagger_->Add(side);
            }
            if (!(written = file_.Write(chunk))) {
                return false;
            }
            pacer.Add(chunk.size());
            return true;
        };
        if (pipeline.Run(blockCount_ * kGostBlockBytes)) {
            return {};
        }
        if (cancelled) {
            return Failure(MakeError(CipherError::Cancelled), source_.Path());
        }
        return !read ? read : written;
    }

    Status TrailerAndCommit() {
        if (target_.trailer) {
            const Trailer trailer = MakeTrailer(
                *target_.trailer, tagKey_->KeyCheck(AsBytes(header_)), tagger_->Finish());
            if (Status written = file_.Write(trailer); !written) {
                return written;
            }
        }
        return file_.Commit();
    }

    PlainSource& source_;
    const EncodeTarget& target_;
    const CodingOptions& options_;
    const std::uint64_t blockCount_;
    const std::string header_;
    AtomicFile file_;
    std::optional<TagKey> tagKey_;
    std::optional<FileTagger> tagger_;
};

}  // namespace

Status MemoryPlain::Read(std::span<std::uint8_t> bytes) {
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), bytes.size(), bytes.begin());
    at_ += bytes.size();
    return {};
}

Status EncodeFrom(PlainSource& source, const EncodeTarget& target, const CodingOptions& options) {
    if (!IsWritableMarker(target.marker)) {
        return Failure(MakeError(CipherError::BadMarker), target.output);
    }
    return Encoding(source, target, options).Run();
}

}  // namespace quorvane
