#include "analysis/MelBands.h"

#include <algorithm>
#include <cmath>

namespace quorvane {
namespace {

// Mel width of one band: mel(F) / n in float32.
float BandWidth(float F, std::int32_t n) {
    return MelOfFrequency(F) / static_cast<float>(n);
}

std::span<const float> UsedBins(std::span<const float> melOfBin, std::int32_t B) {
    const std::size_t bins = B > 0 ? static_cast<std::size_t>(B) : 0;
    return melOfBin.first(std::min(bins, melOfBin.size()));
}

// Members of [lower, upper), or [lower, upper] when the upper edge is closed.
BandSpan Members(std::span<const float> mel, float lower, float upper, bool closedTop) {
    const auto begin =
        std::partition_point(mel.begin(), mel.end(), [lower](float v) { return v < lower; });
    const auto end =
        closedTop ? std::partition_point(begin, mel.end(), [upper](float v) { return v <= upper; })
                  : std::partition_point(begin, mel.end(), [upper](float v) { return v < upper; });
    return {static_cast<std::int32_t>(begin - mel.begin()), static_cast<std::int32_t>(end - begin)};
}

// Writes the triangle of `count` weights from position `pos`; returns the next position.
std::int32_t WriteTriangle(std::span<float> weights, std::int32_t pos, std::int32_t count) {
    const float h = static_cast<float>(count) * 0.5f;
    const float step = 1.0f / h;
    float v = 0.0f;
    for (std::int32_t k = 0; k < count; ++k) {
        const float kf = static_cast<float>(k);
        if (kf < h) {
            v = v + step;
        } else if (kf == h) {
            v = 1.0f;
        } else {
            v = v - step;
        }
        const std::size_t at = static_cast<std::size_t>(pos + k);
        if (at < weights.size()) {
            weights[at] = v;
        }
    }
    return pos + count;
}

float WeightedSum(std::span<const float> spectrum, std::span<const float> weights, BandSpan band) {
    float sum = 0.0f;
    for (std::int32_t j = band.first; j < band.first + band.count; ++j) {
        const auto at = static_cast<std::size_t>(j);
        sum = sum + std::sqrt(spectrum[at]) * weights[at];
    }
    return sum;
}

}  // namespace

float MelOfFrequency(float f) {
    return static_cast<float>(3321.0 * std::log10(1.0 + 0.001 * static_cast<double>(f)));
}

BandSpan BandOfSetA(std::span<const float> melOfBin, float F, std::int32_t B, std::int32_t n,
                    std::int32_t b) {
    const float w = BandWidth(F, n);
    const float lower = static_cast<float>(b) * w;
    const float upper = static_cast<float>(b + 1) * w;
    return Members(UsedBins(melOfBin, B), lower, upper, b == n - 1);
}

BandSpan BandOfSetB(std::span<const float> melOfBin, float F, std::int32_t B, std::int32_t n,
                    std::int32_t b) {
    const float w = BandWidth(F, n);
    const float lower = (static_cast<float>(b) + 0.5f) * w;
    const float upper = (static_cast<float>(b) + 1.5f) * w;
    return Members(UsedBins(melOfBin, B), lower, upper, false);
}

void BuildBandWeights(std::span<float> weights, std::span<float> melOfBin, float F, std::int32_t B,
                      std::int32_t n) {
    if (B < 2 || n < 1 || melOfBin.size() < static_cast<std::size_t>(B)) {
        return;
    }
    const float spacing = F / static_cast<float>(B - 1);
    melOfBin[0] = 0.0f;
    for (std::int32_t j = 1; j < B; ++j) {
        melOfBin[static_cast<std::size_t>(j)] = MelOfFrequency(static_cast<float>(j) * spacing);
    }
    std::int32_t pos = BandOfSetA(melOfBin, F, B, n, 0).first;
    for (std::int32_t b = 0; b < n; ++b) {
        pos = WriteTriangle(weights, pos, BandOfSetA(melOfBin, F, B, n, b).count);
    }
}

void BuildShiftedBandWeights(std::span<float> weights, std::span<const float> melOfBin, float F,
                             std::int32_t B, std::int32_t n) {
    const std::size_t bins = B > 0 ? static_cast<std::size_t>(B) : 0;
    std::fill(weights.begin(),
              weights.begin() + static_cast<std::ptrdiff_t>(std::min(bins, weights.size())), 0.0f);
    if (B < 2 || n < 2 || melOfBin.size() < bins) {
        return;
    }
    std::int32_t pos = BandOfSetB(melOfBin, F, B, n, 0).first;
    for (std::int32_t b = 0; b < n - 1; ++b) {
        pos = WriteTriangle(weights, pos, BandOfSetB(melOfBin, F, B, n, b).count);
    }
}

void BandEnergies(std::span<float> energies, std::span<const float> spectrum,
                  std::span<const float> weights, std::span<const float> melOfBin, float F,
                  std::int32_t B, std::int32_t n) {
    for (std::int32_t b = 0; b < n && static_cast<std::size_t>(b) < energies.size(); ++b) {
        energies[static_cast<std::size_t>(b)] =
            WeightedSum(spectrum, weights, BandOfSetA(melOfBin, F, B, n, b));
    }
}

void ShiftedBandEnergies(std::span<float> energies, std::span<const float> spectrum,
                         std::span<const float> weights, std::span<const float> melOfBin, float F,
                         std::int32_t B, std::int32_t n) {
    for (std::int32_t b = 0; b < n - 1 && static_cast<std::size_t>(b) < energies.size(); ++b) {
        energies[static_cast<std::size_t>(b)] =
            WeightedSum(spectrum, weights, BandOfSetB(melOfBin, F, B, n, b));
    }
}

void InterleaveBands(std::span<const float> energiesA, std::span<const float> energiesB,
                     std::span<float> out, std::int32_t n) {
    if (n < 1) {
        return;
    }
    for (std::int32_t i = 0; i + 1 < n; ++i) {
        const auto at = static_cast<std::size_t>(i);
        out[2 * at] = energiesA[at];
        out[2 * at + 1] = energiesB[at];
    }
    out[static_cast<std::size_t>(2 * n - 2)] = energiesA[static_cast<std::size_t>(n - 1)];
}

BandLayout BuildBandLayout() {
    BandLayout layout;
    BuildBandWeights(layout.weightA, layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount);
    BuildShiftedBandWeights(layout.weightB, layout.melOfBin, kBandTopFrequency, kBandBins,
                            kBandCount);
    return layout;
}

}  // namespace quorvane
