#include "cipher/EncodedFile.h"

#include <algorithm>
#include <fstream>

#include "cipher/AtomicFile.h"
#include "cipher/BlockPipeline.h"
#include "cipher/GostFast.h"

namespace quorvane {

namespace {

// Progress is reported after at least this many bytes (and once at the end).
constexpr std::uint64_t kProgressInterval = std::uint64_t{4} << 20;
// Largest block count a header may state: the data length must fit a signed 64-bit file offset.
constexpr std::uint64_t kMaxBlockCount = (std::uint64_t{1} << 59);
constexpr std::size_t kMaxCountDigits = 20;

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

// Reads the first token: leading white space skipped, then everything up to the next white
// space or the end. False when there is none or it is longer than kMaxMarkerLength. The stream
// is left on the byte after the token.
bool ReadToken(std::istream& in, std::string& token) {
    token.clear();
    int c = in.get();
    while (c != std::char_traits<char>::eof() && IsSpace(c)) {
        c = in.get();
    }
    while (c != std::char_traits<char>::eof() && !IsSpace(c)) {
        if (token.size() == kMaxMarkerLength) {
            return false;
        }
        token.push_back(static_cast<char>(c));
        c = in.get();
    }
    if (c != std::char_traits<char>::eof()) {
        in.unget();
    }
    return !token.empty();
}

// Parses "marker LF blockCount LF padCount LF" strictly: plain decimal digits, no sign, no
// overflow, padCount 0..7 and 0 when there are no blocks. Leaves the stream on the data.
bool ReadHeader(std::istream& in, Header& header) {
    if (!ReadToken(in, header.marker) || in.get() != kHeaderSeparator) {
        return false;
    }
    std::uint64_t count = 0;
    std::size_t digits = 0;
    int c = in.get();
    for (; c >= '0' && c <= '9'; c = in.get()) {
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
    const int pad = in.get();
    if (pad < '0' || pad > '0' + kMaxPadCount || in.get() != kHeaderSeparator) {
        return false;
    }
    header.blockCount = count;
    header.padCount = pad - '0';
    return !(header.blockCount == 0 && header.padCount != 0);
}

// Bytes from the current position to the end of the stream, or -1 when it cannot be told.
std::int64_t BytesLeft(std::istream& in) {
    const auto here = in.tellg();
    if (here < 0 || !in.seekg(0, std::ios::end)) {
        return -1;
    }
    const auto end = in.tellg();
    if (end < 0 || !in.seekg(here)) {
        return -1;
    }
    return static_cast<std::int64_t>(end - here);
}

bool ReadExactly(std::istream& in, std::span<std::uint8_t> chunk) {
    in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(chunk.size()));
    return in.gcount() == static_cast<std::streamsize>(chunk.size());
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

// Enciphers the padded plain data coming from read into output, after the header.
int WriteEncoded(const std::filesystem::path& output, std::string_view marker,
                 std::uint64_t plainBytes, const GostKey& key, const SubstitutionTable& table,
                 const std::function<bool(std::span<std::uint8_t>)>& readPlain,
                 const ProgressFn& progress) {
    if (!IsWritableMarker(marker)) {
        return 0;
    }
    const std::uint64_t blockCount = (plainBytes + kGostBlockBytes - 1) / kGostBlockBytes;
    const auto padCount = static_cast<int>(blockCount * kGostBlockBytes - plainBytes);
    AtomicFile file(output);
    if (!file.Open()) {
        return 0;
    }
    const std::string header = HeaderText(marker, blockCount, padCount);
    if (!file.Write(
            std::span(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()))) {
        return 0;
    }
    const GostFast cipher(key, table);
    std::uint64_t offered = 0;
    ProgressPacer pacer(progress, blockCount * kGostBlockBytes);
    BlockPipeline pipeline;
    pipeline.read = [&](std::span<std::uint8_t> chunk) {
        // The last chunk ends with the zero padding.
        const std::uint64_t left = plainBytes - offered;
        const std::size_t real =
            left < chunk.size() ? static_cast<std::size_t>(left) : chunk.size();
        std::fill(chunk.begin() + static_cast<std::ptrdiff_t>(real), chunk.end(), std::uint8_t{0});
        offered += real;
        return readPlain(chunk.first(real));
    };
    pipeline.transform = [&](std::span<std::uint8_t> chunk) {
        cipher.Encrypt(chunk, kEncryptionPasses);
    };
    pipeline.write = [&](std::span<const std::uint8_t> chunk) {
        if (!file.Write(chunk)) {
            return false;
        }
        pacer.Add(chunk.size());
        return true;
    };
    if (!pipeline.Run(blockCount * kGostBlockBytes) || !file.Commit()) {
        return 0;
    }
    return 1;
}

// Opens an encoded file and checks its header against marker and its length.
bool OpenEncoded(const std::filesystem::path& input, std::string_view marker, std::ifstream& in,
                 Header& header) {
    in.open(input, std::ios::binary);
    if (!in || !ReadHeader(in, header) || header.marker != marker) {
        return false;
    }
    // A file cut short cannot decode correctly: refuse it before anything is written.
    const std::int64_t left = BytesLeft(in);
    return left >= 0 && static_cast<std::uint64_t>(left) >= header.DataBytes();
}

}  // namespace

int EncodeFile(const std::filesystem::path& input, const std::filesystem::path& output,
               std::string_view marker, const GostKey& key, const SubstitutionTable& table,
               const ProgressFn& progress) {
    try {
        std::ifstream in(input, std::ios::binary);
        if (!in || std::filesystem::is_directory(input)) {
            return 0;
        }
        const std::int64_t length = BytesLeft(in);
        if (length < 0 || static_cast<std::uint64_t>(length) / kGostBlockBytes >= kMaxBlockCount) {
            return 0;
        }
        // A file that shrinks while it is read fails the exact reads: no silent zeros.
        return WriteEncoded(
            output, marker, static_cast<std::uint64_t>(length), key, table,
            [&](std::span<std::uint8_t> chunk) { return ReadExactly(in, chunk); }, progress);
    } catch (...) {
        return 0;  // out of memory or a failing library call: nothing was delivered
    }
}

int EncodeBuffer(std::span<const std::uint8_t> plain, const std::filesystem::path& output,
                 std::string_view marker, const GostKey& key, const SubstitutionTable& table) {
    try {
        std::size_t offset = 0;
        return WriteEncoded(output, marker, plain.size(), key, table,
                            [&](std::span<std::uint8_t> chunk) {
                                std::copy_n(plain.begin() + static_cast<std::ptrdiff_t>(offset),
                                            chunk.size(), chunk.begin());
                                offset += chunk.size();
                                return true;
                            },
                            {});
    } catch (...) {
        return 0;
    }
}

int DecodeFile(const std::filesystem::path& input, const std::filesystem::path& output,
               std::string_view marker, const GostKey& key, const SubstitutionTable& table,
               const ProgressFn& progress) {
    try {
        std::ifstream in;
        Header header;
        if (!OpenEncoded(input, marker, in, header)) {
            return 0;
        }
        AtomicFile file(output);
        if (!file.Open()) {
            return 0;
        }
        const GostFast cipher(key, table);
        std::uint64_t plainLeft = header.PlainBytes();
        ProgressPacer pacer(progress, header.DataBytes());
        BlockPipeline pipeline;
        pipeline.read = [&](std::span<std::uint8_t> chunk) { return ReadExactly(in, chunk); };
        pipeline.transform = [&](std::span<std::uint8_t> chunk) {
            cipher.Decrypt(chunk, kEncryptionPasses);
        };
        pipeline.write = [&](std::span<const std::uint8_t> chunk) {
            // The padding zeros at the end of the last block are not part of the plain data.
            const std::size_t keep =
                plainLeft < chunk.size() ? static_cast<std::size_t>(plainLeft) : chunk.size();
            plainLeft -= keep;
            if (!file.Write(chunk.first(keep))) {
                return false;
            }
            pacer.Add(chunk.size());
            return true;
        };
        if (!pipeline.Run(header.DataBytes()) || !file.Commit()) {
            return 0;
        }
        return 1;
    } catch (...) {
        return 0;
    }
}

int DecodeToBuffer(const std::filesystem::path& input, std::string_view marker, const GostKey& key,
                   const SubstitutionTable& table, std::vector<std::uint8_t>& plain,
                   std::uint64_t maxBytes) {
    plain.clear();
    try {
        std::ifstream in;
        Header header;
        if (!OpenEncoded(input, marker, in, header) || header.PlainBytes() > maxBytes) {
            return 0;
        }
        std::vector<std::uint8_t> data(static_cast<std::size_t>(header.DataBytes()));
        if (!ReadExactly(in, data)) {
            return 0;
        }
        GostFast(key, table).Decrypt(data, kEncryptionPasses);
        data.resize(static_cast<std::size_t>(header.PlainBytes()));
        plain = std::move(data);
        return 1;
    } catch (...) {
        plain.clear();
        return 0;
    }
}

bool ReadMarker(const std::filesystem::path& input, std::string& token) {
    token.clear();
    try {
        std::ifstream in(input, std::ios::binary);
        if (!in || !ReadToken(in, token)) {
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
