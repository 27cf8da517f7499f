#pragma once

// One frame of a recording while it is analysed, and the framing that cuts the
// recording into such frames. Private to the analysis: nothing outside
// AnalyseRecording keeps a frame.

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace quorvane {

// Points of the transform behind every frame's power spectrum (2^10).
inline constexpr std::int32_t kSpectrumSize = 1024;
inline constexpr std::int32_t kSpectrumOrder = 10;
// Room for band energies per frame; the analysis fills entries 0 .. 22.
inline constexpr std::int32_t kBandEnergySlots = 40;

struct AnalysisFrame {
    std::vector<float>
        samples;  // frameLength pre-emphasised samples, windowed in place when selected
    std::array<float, kSpectrumSize> powerSpectrum{};  // of the windowed frame
    std::array<float, kBandEnergySlots> bandEnergy{};  // interleaved mel band energies
    std::uint8_t active = 0;                           // 1 while selected for analysis
};

// Number of frames whose active flag is 1.
std::int32_t CountActiveFrames(std::span<const AnalysisFrame> frames);

// Frame length in samples: trunc(frameMs * sampleRate * 0.001), the first
// product in integers (25 ms at 11025 Hz: 275 samples, 24.9 ms).
std::int32_t FrameLengthOf(std::int32_t frameMs, std::int32_t sampleRate);

// Frame step in samples: trunc(frameLength * stepRatio) (275 * 0.5: 137).
std::int32_t FrameStepOf(std::int32_t frameLength, float stepRatio);

// Number of frames cut from sampleCount samples: (sampleCount - frameLength)
// / step in integer division, never below zero. This is one frame fewer than
// would fit: 411 samples give no frame, 412 give one.
std::int32_t FrameCountOf(std::int32_t sampleCount, std::int32_t frameLength, std::int32_t step);

// x[n] = the sample as a float, unscaled (full scale is +-32768).
void ConvertSamples(std::span<const std::int16_t> samples, std::span<float> x);

// In place, for n = 1 .. size-1: x[n] = x[n] - coefficient * (x[n-1] before
// this step changed it). x[0] stays.
void PreEmphasise(std::span<float> x, float coefficient);

// Frame i holds its own copy of x[i*step] .. x[i*step + frameLength - 1].
// The caller guarantees the frames fit (FrameCountOf).
std::vector<AnalysisFrame> CutFrames(std::span<const float> x, std::int32_t frameLength,
                                     std::int32_t step, std::int32_t frameCount);

}  // namespace quorvane
