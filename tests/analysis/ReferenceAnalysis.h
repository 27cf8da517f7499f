#pragma once

// A second, independent implementation of the speech analysis in double
// precision, written straight from the description of the algorithm with
// textbook building blocks (a direct DFT instead of the radix-2 transform,
// closed-form band weights, double sums). It checks the float32 pipeline: the
// two must select the same frames and give feature vectors that agree to
// within float32 rounding.

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <vector>

namespace quorvane::testing {

struct ReferenceResult {
    std::int32_t frameCount = 0;
    std::vector<std::int32_t> activeFrames;    // after both gates, in order
    std::vector<std::vector<double>> vectors;  // c1 .. c22 of each active frame
    std::vector<std::vector<double>>
        bandEnergies;  // 23 values of each frame passing the first gates
};

inline ReferenceResult ReferenceAnalysis(const std::vector<std::int16_t>& samples) {
    constexpr int N = 275;      // 25 ms at 11025 Hz
    constexpr int kStep = 137;  // half a frame, rounded down
    constexpr int p = 14;
    constexpr int Q = 23;
    constexpr int kBins = 512;
    const double pi = std::numbers::pi;

    std::vector<double> x(samples.size());
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = samples[n] - (n > 0 ? 0.97 * samples[n - 1] : 0.0);
    }
    ReferenceResult result;
    const int frames = std::max(0, (static_cast<int>(x.size()) - N) / kStep);
    result.frameCount = frames;

    // Bands: mel(f) = 3321 log10(1 + f/1000); bins evenly over 0 .. 3400 Hz;
    // band edges every w/2 with w = mel(3400)/12; the top edge of the top band
    // of set A closed.
    auto mel = [](double f) { return 3321.0 * std::log10(1.0 + f / 1000.0); };
    const double w = mel(3400.0) / 12.0;
    std::vector<double> melOfBin(kBins);
    for (int j = 0; j < kBins; ++j) {
        melOfBin[static_cast<std::size_t>(j)] = mel(j * 3400.0 / 511.0);
    }
    struct Band {
        int first;
        int count;
    };
    // Filter f = 0 .. 22 spans [f*w/2, f*w/2 + w): even f are set A, odd f set B.
    std::vector<Band> bands;
    for (int f = 0; f < 23; ++f) {
        const double lower = f * w / 2.0;
        const double upper = lower + w;
        int first = -1;
        int count = 0;
        for (int j = 0; j < kBins; ++j) {
            const double m = melOfBin[static_cast<std::size_t>(j)];
            const bool top = f == 22 && j == kBins - 1;
            if ((m >= lower && m < upper) || top) {
                first = first < 0 ? j : first;
                ++count;
            }
        }
        bands.push_back({first, count});
    }
    auto triangle = [](int k, int count) {
        const double h = count / 2.0;
        if (k < h) {
            return (k + 1) / h;
        }
        return k == h ? 1.0 : (count - k) / h;
    };

    std::vector<std::vector<double>> energies(static_cast<std::size_t>(frames));
    std::vector<std::vector<double>> windowed(static_cast<std::size_t>(frames));
    std::vector<bool> active(static_cast<std::size_t>(frames), false);
    for (int i = 10; i < frames; ++i) {
        const auto first = x.begin() + i * kStep;
        double loudest = 0;
        for (int n = 0; n < N; ++n) {
            loudest = std::max(loudest, std::fabs(first[n]));
        }
        if (loudest <= 130.0) {
            continue;
        }
        active[static_cast<std::size_t>(i)] = true;
        std::vector<double> frame(N);
        for (int n = 0; n < N; ++n) {
            frame[static_cast<std::size_t>(n)] =
                (0.54 - 0.46 * std::cos(pi * n / (N - 1))) * first[n];
        }
        std::vector<double> root(kBins);
        for (int k = 0; k < kBins; ++k) {
            std::complex<double> sum = 0.0;
            for (int n = 0; n < N; ++n) {
                sum += frame[static_cast<std::size_t>(n)] *
                       std::polar(1.0, -2.0 * pi * ((k * n) % 1024) / 1024.0);
            }
            root[static_cast<std::size_t>(k)] = std::abs(sum) / 1024.0;
        }
        std::vector<double> e;
        for (const Band& band : bands) {
            double sum = 0;
            for (int k = 0; k < band.count; ++k) {
                sum += root[static_cast<std::size_t>(band.first + k)] * triangle(k, band.count);
            }
            e.push_back(sum);
        }
        energies[static_cast<std::size_t>(i)] = e;
        windowed[static_cast<std::size_t>(i)] = frame;
    }
    result.bandEnergies = energies;

    // Quiet frames: twice the average 13-band mean of the ten quietest active
    // frames (missing ones counted as zero) is the least a frame must reach.
    auto level = [](const std::vector<double>& e) {
        double sum = 0;
        for (int g = 0; g < 13; ++g) {
            sum += e[static_cast<std::size_t>(g)];
        }
        return sum / 13.0;
    };
    std::vector<double> levels;
    for (int i = 0; i < frames; ++i) {
        if (active[static_cast<std::size_t>(i)]) {
            levels.push_back(level(energies[static_cast<std::size_t>(i)]));
        }
    }
    std::sort(levels.begin(), levels.end());
    double quiet = 0;
    for (std::size_t s = 0; s < std::min<std::size_t>(10, levels.size()); ++s) {
        quiet += levels[s];
    }
    const double threshold = 2.0 * quiet / 10.0;

    for (int i = 0; i < frames; ++i) {
        if (!active[static_cast<std::size_t>(i)] ||
            level(energies[static_cast<std::size_t>(i)]) < threshold) {
            continue;
        }
        const std::vector<double>& frame = windowed[static_cast<std::size_t>(i)];
        std::vector<double> R(p + 1);
        for (int k = 0; k <= p; ++k) {
            for (int n = 0; n + k < N; ++n) {
                R[static_cast<std::size_t>(k)] +=
                    frame[static_cast<std::size_t>(n)] * frame[static_cast<std::size_t>(n + k)];
            }
            R[static_cast<std::size_t>(k)] /= (N - p);
        }
        // Levinson-Durbin for A(z) = 1 + a1 z^-1 + ... + ap z^-p.
        std::vector<double> a(p + 1, 0.0);
        double error = R[0];
        for (int i2 = 1; i2 <= p; ++i2) {
            double acc = R[static_cast<std::size_t>(i2)];
            for (int j = 1; j < i2; ++j) {
                acc += a[static_cast<std::size_t>(j)] * R[static_cast<std::size_t>(i2 - j)];
            }
            const double k = -acc / error;
            std::vector<double> next = a;
            next[static_cast<std::size_t>(i2)] = k;
            for (int j = 1; j < i2; ++j) {
                next[static_cast<std::size_t>(j)] =
                    a[static_cast<std::size_t>(j)] + k * a[static_cast<std::size_t>(i2 - j)];
            }
            a = next;
            error *= 1.0 - k * k;
        }
        // Cepstrum of 1 / A(z).
        std::vector<double> c(Q, 0.0);
        for (int n = 1; n < Q; ++n) {
            double value = n <= p ? -a[static_cast<std::size_t>(n)] : 0.0;
            for (int j = 1; j <= std::min(n - 1, p); ++j) {
                value -= (n - j) / static_cast<double>(n) * a[static_cast<std::size_t>(j)] *
                         c[static_cast<std::size_t>(n - j)];
            }
            c[static_cast<std::size_t>(n)] = value;
        }
        result.activeFrames.push_back(i);
        result.vectors.emplace_back(c.begin() + 1, c.end());
    }
    return result;
}

}  // namespace quorvane::testing
