#pragma once

// The feature stage of an analysis, in two steps: the feature vectors of all
// active frames are computed independently (on several threads if wished),
// then committed to the record in frame order, so that the vectors and the
// unstable-frame notices keep that order whatever the threads did.

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/AnalysisFrame.h"
#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"

namespace quorvane {

// Per frame of a recording: whether its model is stable and, if so, its
// feature vector (dimension values from index frame * dimension).
struct FrameFeatures {
    std::int32_t dimension = 0;
    std::vector<float> values;
    std::vector<std::uint8_t> stable;  // 1: stable model of an active frame
};

// Runs Autocorrelate, LevinsonDurbin and LpcToCepstrum with the record's
// lpcOrder and cepstrumOrder for every active frame, on up to threadCount
// threads.
FrameFeatures ComputeFrameFeatures(const VoiceCodebook& codebook,
                                   std::span<const AnalysisFrame> frames,
                                   std::int32_t threadCount = 1);

// Visits the frames in order. An active frame with a stable model fills the
// next free entry of codebook.vectors (from entry 0 up); one with an unstable
// model raises "Unstable LPC system in the <f> frame" (f counting all frames
// from 0) through the notifier and lowers vectorCount by one. The vectors
// array must hold an entry for every active frame. Returns the indices of the
// unstable frames, in frame order.
std::vector<std::int32_t> CommitFeatures(VoiceCodebook& codebook,
                                         std::span<const AnalysisFrame> frames,
                                         const FrameFeatures& features, Notifier& notifier);

}  // namespace quorvane
