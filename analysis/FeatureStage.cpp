#include "analysis/FeatureStage.h"

#include <algorithm>

#include "analysis/FrameWorkers.h"
#include "analysis/LpcFeatures.h"

namespace quorvane {

FrameFeatures ComputeFrameFeatures(const VoiceCodebook& codebook,
                                   std::span<const AnalysisFrame> frames,
                                   std::int32_t threadCount) {
    FrameFeatures features;
    features.dimension = std::max(codebook.cepstrumOrder, 0);
    const auto dimension = static_cast<std::size_t>(features.dimension);
    features.values.assign(frames.size() * dimension, 0.0f);
    features.stable.assign(frames.size(), 0);
    RunOverFrames(
        static_cast<std::int32_t>(frames.size()), threadCount,
        [&](std::int32_t begin, std::int32_t end) {
            for (std::int32_t f = begin; f < end; ++f) {
                const auto at = static_cast<std::size_t>(f);
                if (frames[at].active != 1) {
                    continue;
                }
                const std::span<float> values(features.values.data() + at * dimension, dimension);
                features.stable[at] = ComputeFeatureVector(frames[at].samples, codebook.lpcOrder,
                                                           codebook.cepstrumOrder, values)
                                          ? 1
                                          : 0;
            }
        });
    return features;
}

std::vector<std::int32_t> CommitFeatures(VoiceCodebook& codebook,
                                         std::span<const AnalysisFrame> frames,
                                         const FrameFeatures& features, Notifier& notifier) {
    if (!codebook.vectors) {
        codebook.vectors.emplace();
    }
    std::vector<Codeword>& vectors = *codebook.vectors;
    const auto dimension = static_cast<std::size_t>(std::max(features.dimension, 0));
    std::vector<std::int32_t> unstable;
    std::size_t next = 0;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        if (frames[f].active != 1) {
            continue;
        }
        if (f >= features.stable.size() || features.stable[f] != 1) {
            unstable.push_back(static_cast<std::int32_t>(f));
            notifier.Notice(UnstableFrameNotice(unstable.back()));
            --codebook.vectorCount;
            continue;
        }
        if (next >= vectors.size()) {
            continue;  // the caller sized the array too small; never write past it
        }
        std::vector<float>& values = vectors[next].values;
        const auto first = features.values.begin() + static_cast<std::ptrdiff_t>(f * dimension);
        const std::size_t n = std::min(dimension, values.size());
        std::copy(first, first + static_cast<std::ptrdiff_t>(n), values.begin());
        ++next;
    }
    return unstable;
}

}  // namespace quorvane
