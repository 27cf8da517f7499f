#include "analysis/RecordingAnalysis.h"

#include <algorithm>

#include "analysis/AnalysisFrame.h"
#include "analysis/FeatureStage.h"
#include "analysis/FrameSelection.h"
#include "analysis/FrameWorkers.h"

namespace quorvane {

void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier) {
    AnalyseRecording(codebook, samples, notifier, DefaultAnalysisThreads());
}

void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier, std::int32_t threadCount) {
    AnalysisReport report;
    AnalyseRecording(codebook, samples, notifier, threadCount, report);
}

void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier, std::int32_t threadCount, AnalysisReport& report) {
    // Never read past the samples actually given.
    const std::size_t sampleCount =
        std::min(samples.size(), static_cast<std::size_t>(std::max(codebook.sampleCount, 0)));

    std::vector<float> x(sampleCount);
    ConvertSamples(samples.first(sampleCount), x);
    PreEmphasise(x, codebook.preEmphasis);

    codebook.frameLength = FrameLengthOf(codebook.frameMs, codebook.sampleRate);
    const std::int32_t step = FrameStepOf(codebook.frameLength, codebook.frameStepRatio);
    codebook.frameCount =
        FrameCountOf(static_cast<std::int32_t>(sampleCount), codebook.frameLength, step);
    std::vector<AnalysisFrame> frames =
        CutFrames(x, codebook.frameLength, step, codebook.frameCount);
    x = {};

    codebook.vectors.reset();
    SelectFrames(codebook, frames, threadCount);

    report.activeFrames.clear();
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (frames[f].active == 1) {
            report.activeFrames.push_back(static_cast<std::int32_t>(f));
        }
    }
    codebook.vectorCount = CountActiveFrames(frames);
    codebook.vectors.emplace();
    static_cast<void>(InitCodewordArray(codebook, *codebook.vectors, codebook.vectorCount));

    // Each frame's features are computed on their own, then committed in frame
    // order so that vectors and notices keep that order.
    const FrameFeatures features = ComputeFrameFeatures(codebook, frames, threadCount);
    report.unstableFrames = CommitFeatures(codebook, frames, features, notifier);
}

}  // namespace quorvane
