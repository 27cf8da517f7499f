#include "analysis/Spectrum.h"

#include <array>
#include <cmath>
#include <numbers>
#include <utility>

#include "analysis/AnalysisFrame.h"

namespace quorvane {
namespace {

struct RotationTables {
    std::array<float, kMaxFftOrder + 1> cosine{};
    std::array<float, kMaxFftOrder + 1> sine{};
};

// Entry s holds the rotation of stage s, the angle 2*pi / 2^s, rounded from
// double precision.
const RotationTables& Rotations() {
    static const RotationTables tables = [] {
        RotationTables t;
        for (std::int32_t s = 0; s <= kMaxFftOrder; ++s) {
            const double angle = 2.0 * std::numbers::pi / static_cast<double>(1LL << s);
            t.cosine[static_cast<std::size_t>(s)] = static_cast<float>(std::cos(angle));
            t.sine[static_cast<std::size_t>(s)] = static_cast<float>(std::sin(angle));
        }
        return t;
    }();
    return tables;
}

void BitReverse(std::span<float> re, std::span<float> im, std::size_t points) {
    std::size_t j = 0;
    for (std::size_t i = 0; i + 1 < points; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        std::size_t bit = points >> 1;
        while (bit != 0 && (j & bit) != 0) {
            j ^= bit;
            bit >>= 1;
        }
        j |= bit;
    }
}

}  // namespace

bool Fft(std::span<float> re, std::span<float> im, std::int32_t m) {
    if (m < 0 || m > kMaxFftOrder) {
        return false;
    }
    const std::size_t points = std::size_t{1} << m;
    if (re.size() < points || im.size() < points) {
        return false;
    }
    BitReverse(re, im, points);
    const RotationTables& rotations = Rotations();
    for (std::int32_t s = 1; s <= m; ++s) {
        const std::size_t le = std::size_t{1} << s;
        const std::size_t half = le / 2;
        const float c = rotations.cosine[static_cast<std::size_t>(s)];
        const float d = rotations.sine[static_cast<std::size_t>(s)];
        float rRe = 1.0f;
        float rIm = 0.0f;
        for (std::size_t q = 0; q < half; ++q) {
            for (std::size_t u = q; u < points; u += le) {
                const std::size_t l = u + half;
                const float tRe = re[l] * rRe - im[l] * rIm;
                const float tIm = im[l] * rRe + re[l] * rIm;
                re[l] = re[u] - tRe;
                im[l] = im[u] - tIm;
                re[u] = re[u] + tRe;
                im[u] = im[u] + tIm;
            }
            const float nextRe = rRe * c - rIm * d;
            const float nextIm = rIm * c + rRe * d;
            rRe = nextRe;
            rIm = nextIm;
        }
    }
    const float scale = 1.0f / static_cast<float>(points);
    for (std::size_t i = 0; i < points; ++i) {
        re[i] = re[i] * scale;
        im[i] = im[i] * scale;
    }
    return true;
}

void PowerSpectrum(std::span<const float> x, std::span<float> spectrum) {
    std::array<float, kSpectrumSize> re{};
    std::array<float, kSpectrumSize> im{};
    const std::size_t n = x.size() < re.size() ? x.size() : re.size();
    for (std::size_t i = 0; i < n; ++i) {
        re[i] = x[i];
    }
    static_cast<void>(Fft(re, im, kSpectrumOrder));
    const std::size_t bins = spectrum.size() < re.size() ? spectrum.size() : re.size();
    for (std::size_t k = 0; k < bins; ++k) {
        spectrum[k] = re[k] * re[k] + im[k] * im[k];
    }
}

}  // namespace quorvane
