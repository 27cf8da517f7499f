#include "analysis/VoiceCodebook.h"

#include <algorithm>
#include <cmath>

namespace quorvane {

void ReleaseCodebook(VoiceCodebook& codebook) {
    // The entries own their values; dropping the arrays frees everything.
    codebook.codewords.reset();
    codebook.vectors.reset();
}

std::int32_t InitCodewordArray(const VoiceCodebook& codebook, std::vector<Codeword>& entries,
                               std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    if (entries.size() < static_cast<std::size_t>(count)) {
        entries.resize(static_cast<std::size_t>(count));
    }
    const std::size_t dimension =
        codebook.cepstrumOrder > 0 ? static_cast<std::size_t>(codebook.cepstrumOrder) : 0;
    for (std::int32_t i = 0; i < count; ++i) {
        Codeword& entry = entries[static_cast<std::size_t>(i)];
        entry.memberCount = 0;
        entry.label = 0;
        entry.distortion = 0.0f;
        entry.values.assign(dimension, 0.0f);
    }
    return count;
}

float FeatureDistance(std::int32_t dimension, const float* a, const float* b) {
    // Squares are added in float32 in index order; keys derive from these values.
    float sum = 0.0f;
    for (std::int32_t i = 0; i < dimension; ++i) {
        const float d = a[i] - b[i];
        sum = sum + d * d;
    }
    return std::sqrt(sum);
}

float FeatureDistance(const VoiceCodebook& codebook, const float* a, const float* b) {
    return FeatureDistance(codebook.cepstrumOrder, a, b);
}

}  // namespace quorvane
