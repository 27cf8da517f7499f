#include "analysis/Spectrum.h"

#include <array>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

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

// The twiddles r_q, q = 0 .. 2^(s-1) - 1, of stage s, by the transform's own
// recurrence: r_0 = (1, 0), r_{q+1} = r_q turned by the stage's tabled rotation
// (re*c - im*d, im*c + re*d). They depend on the stage only, not on the size of
// the transform.
void StageTwiddles(std::int32_t s, float* twRe, float* twIm) {
    const RotationTables& rotations = Rotations();
    const float c = rotations.cosine[static_cast<std::size_t>(s)];
    const float d = rotations.sine[static_cast<std::size_t>(s)];
    const std::size_t half = std::size_t{1} << (s - 1);
    float rRe = 1.0f;
    float rIm = 0.0f;
    for (std::size_t q = 0; q < half; ++q) {
        twRe[q] = rRe;
        twIm[q] = rIm;
        const float nextRe = rRe * c - rIm * d;
        const float nextIm = rIm * c + rRe * d;
        rRe = nextRe;
        rIm = nextIm;
    }
}

// Twiddles of stages 1 .. 10 (enough for the 1024-point spectra), computed once:
// stage s starts at index 2^(s-1) - 1.
constexpr std::int32_t kCachedTwiddleStages = 10;

struct TwiddleCache {
    std::vector<float> re;
    std::vector<float> im;
};

const TwiddleCache& CachedTwiddles() {
    static const TwiddleCache cache = [] {
        TwiddleCache c;
        const std::size_t size = (std::size_t{1} << kCachedTwiddleStages) - 1;
        c.re.resize(size);
        c.im.resize(size);
        for (std::int32_t s = 1; s <= kCachedTwiddleStages; ++s) {
            const std::size_t offset = (std::size_t{1} << (s - 1)) - 1;
            StageTwiddles(s, c.re.data() + offset, c.im.data() + offset);
        }
        return c;
    }();
    return cache;
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
    // Stages beyond the cached ones get their twiddles computed here.
    std::vector<float> ownRe;
    std::vector<float> ownIm;
    for (std::int32_t s = 1; s <= m; ++s) {
        const std::size_t le = std::size_t{1} << s;
        const std::size_t half = le / 2;
        const float* twRe = nullptr;
        const float* twIm = nullptr;
        if (s <= kCachedTwiddleStages) {
            const TwiddleCache& cache = CachedTwiddles();
            twRe = cache.re.data() + (half - 1);
            twIm = cache.im.data() + (half - 1);
        } else {
            ownRe.resize(half);
            ownIm.resize(half);
            StageTwiddles(s, ownRe.data(), ownIm.data());
            twRe = ownRe.data();
            twIm = ownIm.data();
        }
        // Every butterfly of a stage touches its own pair of points, so taking
        // the groups block by block instead of twiddle by twiddle gives the
        // same values with contiguous memory access.
        float* const xRe = re.data();
        float* const xIm = im.data();
        for (std::size_t block = 0; block < points; block += le) {
            float* const upperRe = xRe + block;
            float* const upperIm = xIm + block;
            float* const lowerRe = upperRe + half;
            float* const lowerIm = upperIm + half;
            for (std::size_t q = 0; q < half; ++q) {
                const float tRe = lowerRe[q] * twRe[q] - lowerIm[q] * twIm[q];
                const float tIm = lowerIm[q] * twRe[q] + lowerRe[q] * twIm[q];
                lowerRe[q] = upperRe[q] - tRe;
                lowerIm[q] = upperIm[q] - tIm;
                upperRe[q] = upperRe[q] + tRe;
                upperIm[q] = upperIm[q] + tIm;
            }
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
