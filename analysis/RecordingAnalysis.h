#pragma once

// The analysis of one recording into the feature vectors of its record: framing, frame
// selection and the feature stage, in that order.

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"

namespace quorvane {

// Analyses samples[0 .. sampleCount-1] (16-bit PCM, unscaled) into feature
// vectors: pre-emphasis, frames of frameMs with a step of frameStepRatio, frame
// selection (amplitude gate, first ten frames dropped, mel band quiet-frame
// gate), then per selected frame an LPC model of lpcOrder and its
// cepstrumOrder cepstral coefficients. sampleCount and sampleRate must be set.
// Sets frameLength, frameCount, vectorCount and vectors (one entry per
// selected frame, filled in frame order; entries from vectorCount on are zero
// vectors); releases earlier vectors first and leaves codewords alone. Each
// frame whose model is unstable is reported through notifier.Notice("Unstable
// LPC system in the <f> frame", f counting all frames from 0), in frame order
// and on the calling thread, and lowers vectorCount by one.
// Only min(sampleCount, samples.size()) samples are read. The per-frame stages
// run on the hardware's threads; the result does not depend on that.
void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier);

// The same on up to threadCount threads (1: all on the calling thread). The
// result is bit for bit the same for every thread count.
void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier, std::int32_t threadCount);

// Which frames one analysis kept and which of those gave no feature vector,
// each list in frame order, frames counted from 0 as in the notices.
struct AnalysisReport {
    std::vector<std::int32_t> activeFrames;    // kept by the frame selection, unstable included
    std::vector<std::int32_t> unstableFrames;  // active frames whose LPC model was unstable
};

// The same, also filling the report (cleared first); the notices are raised
// as without it.
void AnalyseRecording(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                      Notifier& notifier, std::int32_t threadCount, AnalysisReport& report);

}  // namespace quorvane
