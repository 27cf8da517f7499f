#include "speaker/ModelFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "files/SmallFile.h"

namespace quorvane {

namespace {

void PutWord(std::vector<std::uint8_t>& bytes, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<std::uint8_t>(word >> shift));
    }
}

std::uint32_t GetWord(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t word = 0;
    for (int i = 3; i >= 0; --i) {
        word = (word << 8) | bytes[at + static_cast<std::size_t>(i)];
    }
    return word;
}

}  // namespace

std::int32_t CountFilledCodewords(const VoiceCodebook& codebook) {
    if (!codebook.codewords) {
        return 0;
    }
    const std::vector<Codeword>& entries = *codebook.codewords;
    const std::size_t used =
        std::min(entries.size(), static_cast<std::size_t>(std::max(codebook.codewordCount, 0)));
    std::int32_t filled = 0;
    for (std::size_t i = 0; i < used; ++i) {
        if (entries[i].memberCount > 0) {
            ++filled;
        }
    }
    return filled;
}

std::vector<float> ExportCodewords(const VoiceCodebook& codebook) {
    const std::size_t dimension = static_cast<std::size_t>(std::max(codebook.cepstrumOrder, 0));
    std::vector<float> rows;
    rows.reserve(static_cast<std::size_t>(CountFilledCodewords(codebook)) * dimension);
    if (!codebook.codewords) {
        return rows;
    }
    const std::vector<Codeword>& entries = *codebook.codewords;
    const std::size_t used =
        std::min(entries.size(), static_cast<std::size_t>(std::max(codebook.codewordCount, 0)));
    for (std::size_t i = 0; i < used; ++i) {
        if (entries[i].memberCount <= 0) {
            continue;
        }
        const std::vector<float>& values = entries[i].values;
        // A row always has `dimension` values; a shorter entry (never made by training)
        // is completed with zeros rather than read past its end.
        for (std::size_t j = 0; j < dimension; ++j) {
            rows.push_back(j < values.size() ? values[j] : 0.0f);
        }
    }
    return rows;
}

void ImportCodewords(VoiceCodebook& codebook, std::span<const float> rows, std::int32_t count,
                     std::int32_t dimension) {
    ReleaseCodebook(codebook);
    const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
    const std::size_t d = static_cast<std::size_t>(std::max(dimension, 0));
    std::vector<Codeword> entries(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t start = std::min(i * d, rows.size());
        const std::size_t stop = std::min(start + d, rows.size());
        entries[i].values.assign(rows.begin() + static_cast<std::ptrdiff_t>(start),
                                 rows.begin() + static_cast<std::ptrdiff_t>(stop));
        entries[i].values.resize(d, 0.0f);
        entries[i].label = static_cast<std::int32_t>(i);
        entries[i].memberCount = 1;
    }
    codebook.maxCodewords = static_cast<std::int32_t>(n);
    codebook.codewordCount = static_cast<std::int32_t>(n);
    codebook.cepstrumOrder = static_cast<std::int32_t>(d);
    codebook.codewords = std::move(entries);
}

std::vector<std::uint8_t> SerialiseModelFile(std::span<const VoiceCodebook> codebooks,
                                             float threshold) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(kModelFileMaxBytes);
    for (const VoiceCodebook& codebook : codebooks) {
        const std::int32_t count = CountFilledCodewords(codebook);
        const std::vector<float> rows = ExportCodewords(codebook);
        const std::size_t stride = static_cast<std::size_t>(std::max(codebook.cepstrumOrder, 0));
        PutWord(bytes, static_cast<std::uint32_t>(count));
        for (std::int32_t r = 0; r < count; ++r) {
            // The format's rows are 22 floats whatever the record says.
            for (std::size_t j = 0; j < static_cast<std::size_t>(kModelRowLength); ++j) {
                const float value =
                    j < stride ? rows[static_cast<std::size_t>(r) * stride + j] : 0.0f;
                PutWord(bytes, std::bit_cast<std::uint32_t>(value));
            }
        }
    }
    PutWord(bytes, std::bit_cast<std::uint32_t>(threshold));
    return bytes;
}

bool ParseModelFile(std::span<const std::uint8_t> bytes, std::span<VoiceCodebook> codebooks,
                    float& threshold) {
    std::vector<std::vector<float>> rows(codebooks.size());
    std::vector<std::int32_t> counts(codebooks.size());
    std::size_t at = 0;
    for (std::size_t c = 0; c < codebooks.size(); ++c) {
        if (bytes.size() - at < 4) {
            return false;
        }
        const auto count = static_cast<std::int32_t>(GetWord(bytes, at));
        at += 4;
        if (count < 0 || count > kMaxCodewords) {
            return false;
        }
        const std::size_t values = static_cast<std::size_t>(count) * kModelRowLength;
        if ((bytes.size() - at) / 4 < values) {
            return false;
        }
        rows[c].reserve(values);
        for (std::size_t v = 0; v < values; ++v, at += 4) {
            const float value = std::bit_cast<float>(GetWord(bytes, at));
            if (!std::isfinite(value)) {
                return false;
            }
            rows[c].push_back(value);
        }
        counts[c] = count;
    }
    // Exactly the threshold must remain: a longer or shorter file does not match its counts.
    if (bytes.size() - at != 4) {
        return false;
    }
    const float storedThreshold = std::bit_cast<float>(GetWord(bytes, at));
    if (!std::isfinite(storedThreshold)) {
        return false;
    }
    for (std::size_t c = 0; c < codebooks.size(); ++c) {
        ImportCodewords(codebooks[c], rows[c], counts[c], kModelRowLength);
    }
    threshold = storedThreshold;
    return true;
}

bool WriteModelFile(const std::filesystem::path& path, std::span<const VoiceCodebook> codebooks,
                    float threshold, Notifier& notifier) {
    const std::vector<std::uint8_t> bytes = SerialiseModelFile(codebooks, threshold);
    if (!WriteFileAtomically(path, bytes, false)) {
        notifier.Notice(kErrorOpeningFilesMessage);
        return false;
    }
    return true;
}

bool ReadModelFile(const std::filesystem::path& path, std::span<VoiceCodebook> codebooks,
                   float& threshold, Notifier& notifier) {
    const Result<std::vector<std::uint8_t>> bytes = ReadSmallFile(path, kModelFileMaxBytes);
    if (!bytes || !ParseModelFile(*bytes, codebooks, threshold)) {
        notifier.Notice(kErrorOpeningFilesMessage);
        return false;
    }
    return true;
}

}  // namespace quorvane
