#include "speaker/Decision.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace quorvane {

namespace {

constexpr float kInfinite = std::numeric_limits<float>::infinity();

// The values of the filled codewords in index order. Empty when the codebook
// has none or when one of them is shorter than the dimension (nothing of such a
// codebook can be compared safely).
std::vector<const float*> FilledCodewords(const VoiceCodebook& codebook, std::int32_t dimension) {
    std::vector<const float*> filled;
    if (!codebook.codewords) {
        return filled;
    }
    const std::vector<Codeword>& codewords = *codebook.codewords;
    const std::size_t count =
        std::min(codewords.size(), static_cast<std::size_t>(std::max(codebook.codewordCount, 0)));
    for (std::size_t k = 0; k < count; ++k) {
        if (codewords[k].memberCount <= 0) {
            continue;
        }
        if (codewords[k].values.size() < static_cast<std::size_t>(dimension)) {
            return {};
        }
        filled.push_back(codewords[k].values.data());
    }
    return filled;
}

// Average, over the codewords of `from`, of the distance to the nearest codeword
// of `to`; float32 sum in index order. The first codeword of `to` gives the
// starting minimum, a later one replaces it only when strictly nearer.
float DirectedMean(const std::vector<const float*>& from, const std::vector<const float*>& to,
                   std::int32_t dimension) {
    float sum = 0.0f;
    for (const float* const x : from) {
        float nearest = FeatureDistance(dimension, x, to.front());
        for (std::size_t k = 1; k < to.size(); ++k) {
            const float distance = FeatureDistance(dimension, x, to[k]);
            if (distance < nearest) {
                nearest = distance;
            }
        }
        sum += nearest;
    }
    return sum / static_cast<float>(from.size());
}

}  // namespace

float CodebookDistance(const VoiceCodebook& a, const VoiceCodebook& b) {
    const std::int32_t dimension = a.cepstrumOrder;
    if (dimension < 1) {
        return kInfinite;
    }
    const std::vector<const float*> filledA = FilledCodewords(a, dimension);
    const std::vector<const float*> filledB = FilledCodewords(b, dimension);
    if (filledA.empty() || filledB.empty()) {
        return kInfinite;
    }
    const float meanA = DirectedMean(filledA, filledB, dimension);
    const float meanB = DirectedMean(filledB, filledA, dimension);
    return (meanB + meanA) * 0.5f;
}

float ComputeThreshold(std::span<const VoiceCodebook, 3> phraseCodebooks, int securityLevel) {
    if (securityLevel < kSecurityHigh || securityLevel > kSecurityLow) {
        return kUntrainedThreshold;
    }
    std::array<float, 3> distances = {
        CodebookDistance(phraseCodebooks[0], phraseCodebooks[1]),
        CodebookDistance(phraseCodebooks[0], phraseCodebooks[2]),
        CodebookDistance(phraseCodebooks[1], phraseCodebooks[2]),
    };
    // Exchange sort: passes over adjacent pairs until one swaps nothing.
    bool swapped = true;
    while (swapped) {
        swapped = false;
        for (std::size_t i = 0; i + 1 < distances.size(); ++i) {
            if (distances[i] > distances[i + 1]) {
                std::swap(distances[i], distances[i + 1]);
                swapped = true;
            }
        }
    }
    const float threshold = distances[static_cast<std::size_t>(securityLevel)];
    // An infinite threshold would accept every voice.
    if (!std::isfinite(threshold)) {
        return kUntrainedThreshold;
    }
    return threshold;
}

bool VerifySpeaker(std::span<const VoiceCodebook, 3> models, const VoiceCodebook& test,
                   float threshold, float& distance) {
    float smallest = CodebookDistance(models[0], test);
    for (std::size_t i = 1; i < models.size(); ++i) {
        const float candidate = CodebookDistance(models[i], test);
        if (smallest > candidate) {
            smallest = candidate;
        }
    }
    distance = smallest;
    return std::isfinite(threshold) && smallest < threshold;
}

}  // namespace quorvane
