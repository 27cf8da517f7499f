#include "analysis/AnalysisFrame.h"

namespace quorvane {

std::int32_t CountActiveFrames(std::span<const AnalysisFrame> frames) {
    std::int32_t count = 0;
    for (const AnalysisFrame& frame : frames) {
        if (frame.active == 1) {
            ++count;
        }
    }
    return count;
}

std::int32_t FrameLengthOf(std::int32_t frameMs, std::int32_t sampleRate) {
    const std::int64_t product = std::int64_t{frameMs} * sampleRate;
    const float length = static_cast<float>(product) * 0.001f;
    // Out-of-range parameters give no frames rather than an undefined conversion.
    if (!(length > 0.0f) || length >= 2147483520.0f) {
        return 0;
    }
    return static_cast<std::int32_t>(length);
}

std::int32_t FrameStepOf(std::int32_t frameLength, float stepRatio) {
    return static_cast<std::int32_t>(static_cast<float>(frameLength) * stepRatio);
}

std::int32_t FrameCountOf(std::int32_t sampleCount, std::int32_t frameLength, std::int32_t step) {
    if (step <= 0 || frameLength <= 0) {
        return 0;
    }
    const std::int32_t count = (sampleCount - frameLength) / step;
    return count < 0 ? 0 : count;
}

void ConvertSamples(std::span<const std::int16_t> samples, std::span<float> x) {
    const std::size_t n = samples.size() < x.size() ? samples.size() : x.size();
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = static_cast<float>(samples[i]);
    }
}

void PreEmphasise(std::span<float> x, float coefficient) {
    if (x.empty()) {
        return;
    }
    float previous = x[0];
    for (std::size_t n = 1; n < x.size(); ++n) {
        const float original = x[n];
        x[n] = original - coefficient * previous;
        previous = original;
    }
}

std::vector<AnalysisFrame> CutFrames(std::span<const float> x, std::int32_t frameLength,
                                     std::int32_t step, std::int32_t frameCount) {
    std::vector<AnalysisFrame> frames(frameCount > 0 ? static_cast<std::size_t>(frameCount) : 0);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const auto first = x.begin() + static_cast<std::ptrdiff_t>(i) * step;
        frames[i].samples.assign(first, first + frameLength);
    }
    return frames;
}

}  // namespace quorvane
