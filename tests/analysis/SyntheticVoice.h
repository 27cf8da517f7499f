#pragma once

// A deterministic, voice-like test signal at 11025 Hz: syllables of a harmonic
// source with a gliding pitch, shaped by two resonances that move from
// syllable to syllable, separated by short pauses of faint noise. Used where a
// test or benchmark needs speech-shaped input without a recording.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace quorvane::testing {

inline std::vector<std::int16_t> SyntheticVoice(std::int32_t sampleCount, std::uint32_t seed = 1) {
    constexpr double kRate = 11025.0;
    constexpr double kSyllable = 0.26;  // seconds of voice
    constexpr double kPause = 0.09;     // seconds of near-silence
    constexpr int kHarmonics = 24;
    std::uint32_t state = seed;
    auto noise = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / 16777216.0 - 0.5;
    };
    std::vector<std::int16_t> out(static_cast<std::size_t>(std::max(sampleCount, 0)));
    double phase = 0.0;
    for (std::size_t n = 0; n < out.size(); ++n) {
        const double t = static_cast<double>(n) / kRate;
        const double cycle = kSyllable + kPause;
        const auto syllable = static_cast<int>(t / cycle);
        const double within = t - syllable * cycle;
        const double f0 =
            115.0 + 35.0 * std::sin(2.0 * std::numbers::pi * 0.6 * t) + 6.0 * (syllable % 3);
        phase += 2.0 * std::numbers::pi * f0 / kRate;
        double value = 30.0 * noise();
        if (within < kSyllable) {
            const double envelope = std::pow(std::sin(std::numbers::pi * within / kSyllable), 2.0);
            const double f1 = 350.0 + 90.0 * (syllable % 5);
            const double f2 = 1100.0 + 170.0 * (syllable % 7);
            double voiced = 0.0;
            for (int k = 1; k <= kHarmonics; ++k) {
                const double f = k * f0;
                const double a1 = (f - f1) / 120.0;
                const double a2 = (f - f2) / 200.0;
                const double gain = 1.0 / (1.0 + a1 * a1) + 0.6 / (1.0 + a2 * a2) + 0.02;
                voiced += gain * std::sin(k * phase);
            }
            value += 2400.0 * envelope * voiced + 300.0 * envelope * noise();
        }
        out[n] = static_cast<std::int16_t>(std::clamp(std::lround(value), -32768L, 32767L));
    }
    return out;
}

}  // namespace quorvane::testing
