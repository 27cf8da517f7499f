#include "analysis/FrameSelection.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

#include "analysis/FrameWorkers.h"
#include "analysis/Spectrum.h"

namespace quorvane {
namespace {

struct QuietSlot {
    float mean = kQuietSlotStart;
    std::array<float, kBandEnergySlots> values{};  // empty slots stay zero
};

}  // namespace

std::uint8_t AmplitudeGate(std::span<const float> x, std::int16_t threshold) {
    float largest = 0.0f;
    for (const float v : x) {
        largest = std::max(largest, std::fabs(v));
    }
    return largest > static_cast<float>(threshold) ? 1 : 0;
}

std::vector<float> AnalysisWindow(std::int32_t N) {
    std::vector<float> weights(N > 0 ? static_cast<std::size_t>(N) : 0);
    const float step =
        N > 1 ? static_cast<float>(std::numbers::pi / static_cast<double>(N - 1)) : 0.0f;
    for (std::int32_t n = 0; n < N; ++n) {
        const float argument = static_cast<float>(n) * step;
        const float c = static_cast<float>(std::cos(static_cast<double>(argument)));
        weights[static_cast<std::size_t>(n)] = 0.54f - 0.46f * c;
    }
    return weights;
}

void ApplyAnalysisWindow(std::span<float> x) {
    const std::vector<float> weights = AnalysisWindow(static_cast<std::int32_t>(x.size()));
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = weights[n] * x[n];
    }
}

float QuietTestMean(const AnalysisFrame& frame, std::int32_t bandValues) {
    float sum = 0.0f;
    for (std::int32_t g = 0; g < bandValues; ++g) {
        sum = sum + frame.bandEnergy[static_cast<std::size_t>(g)];
    }
    return sum / static_cast<float>(bandValues);
}

void RejectQuietFrames(std::span<AnalysisFrame> frames, std::int32_t bandValues) {
    if (bandValues < 1 || bandValues > kBandEnergySlots) {
        return;
    }
    std::array<QuietSlot, kQuietFrames> slots{};
    for (const AnalysisFrame& frame : frames) {
        if (frame.active != 1) {
            continue;
        }
        const float m = QuietTestMean(frame, bandValues);
        // A frame whose mean equals a slot's mean goes after it.
        const auto slot = std::find_if(slots.begin(), slots.end(),
                                       [m](const QuietSlot& s) { return m < s.mean; });
        if (slot == slots.end()) {
            continue;
        }
        std::move_backward(slot, slots.end() - 1, slots.end());
        slot->mean = m;
        slot->values = frame.bandEnergy;
    }
    float templateSum = 0.0f;
    for (std::int32_t g = 0; g < bandValues; ++g) {
        float sum = 0.0f;
        for (const QuietSlot& s : slots) {
            sum = sum + s.values[static_cast<std::size_t>(g)];
        }
        templateSum = templateSum + 0.1f * sum;
    }
    const float theta = kQuietFactor * templateSum / static_cast<float>(bandValues);
    for (AnalysisFrame& frame : frames) {
        if (frame.active == 1 && QuietTestMean(frame, bandValues) < theta) {
            frame.active = 0;
        }
    }
}

void PrepareFrame(AnalysisFrame& frame, std::int32_t index, std::span<const float> window,
                  const BandLayout& layout) {
    frame.active = AmplitudeGate(frame.samples, kAmplitudeThreshold);
    if (index < kLeadFramesDropped) {
        frame.active = 0;
    }
    if (frame.active != 1) {
        return;
    }
    const std::size_t n = std::min(frame.samples.size(), window.size());
    for (std::size_t i = 0; i < n; ++i) {
        frame.samples[i] = window[i] * frame.samples[i];
    }
    PowerSpectrum(frame.samples, frame.powerSpectrum);
    std::array<float, kBandCount> energiesA{};
    std::array<float, kBandCount - 1> energiesB{};
    BandEnergies(energiesA, frame.powerSpectrum, layout.weightA, layout.melOfBin, kBandTopFrequency,
                 kBandBins, kBandCount);
    ShiftedBandEnergies(energiesB, frame.powerSpectrum, layout.weightB, layout.melOfBin,
                        kBandTopFrequency, kBandBins, kBandCount);
    InterleaveBands(energiesA, energiesB, frame.bandEnergy, kBandCount);
}

void SelectFrames(const VoiceCodebook& codebook, std::span<AnalysisFrame> frames,
                  std::int32_t threadCount) {
    const std::size_t count =
        std::min(frames.size(), static_cast<std::size_t>(std::max(codebook.frameCount, 0)));
    const std::span<AnalysisFrame> used = frames.first(count);
    const BandLayout layout = BuildBandLayout();
    const std::vector<float> window = AnalysisWindow(codebook.frameLength);
    RunOverFrames(static_cast<std::int32_t>(count), threadCount,
                  [&](std::int32_t begin, std::int32_t end) {
                      for (std::int32_t i = begin; i < end; ++i) {
                          PrepareFrame(used[static_cast<std::size_t>(i)], i, window, layout);
                      }
                  });
    RejectQuietFrames(used, kQuietBandValues);
}

}  // namespace quorvane
