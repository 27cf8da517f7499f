#pragma once

// Frame selection: decides which frames of a recording carry speech and
// prepares them for the feature stage. An amplitude gate drops frames whose
// loudest sample is small and the first ten frames are always dropped; the
// frames left are windowed, transformed and reduced to 23 mel band energies;
// a quiet-frame gate then drops every frame whose low-band level does not
// reach twice that of the ten quietest frames.

#include <cstdint>
#include <span>
#include <vector>

#include "analysis/AnalysisFrame.h"
#include "analysis/MelBands.h"
#include "analysis/VoiceCodebook.h"

namespace quorvane {

// A frame's loudest pre-emphasised sample must exceed this (16-bit scale).
inline constexpr std::int16_t kAmplitudeThreshold = 130;
// Frames 0 .. 9 of every recording are never analysed.
inline constexpr std::int32_t kLeadFramesDropped = 10;
// Band values of the quiet test: EA[0..6] and EB[0..5], the lower mel range.
inline constexpr std::int32_t kQuietBandValues = 13;
// Number of quietest frames the quiet test compares with.
inline constexpr std::int32_t kQuietFrames = 10;
// A frame must reach this multiple of the quiet frames' mean level.
inline constexpr float kQuietFactor = 2.0f;
// Mean a quiet slot holds before any frame fills it.
inline constexpr float kQuietSlotStart = 1e9f;

// 1 when the largest |x[i]| is strictly greater than threshold, else 0.
std::uint8_t AmplitudeGate(std::span<const float> x, std::int16_t threshold);

// Weights of the analysis window of N samples: step = pi / (N-1) in float32,
// weight n = 0.54 - 0.46 * cos(n * step), the cosine taken in double of the
// float32 argument and rounded to float32. The argument runs from 0 to pi,
// so the window rises over the whole frame from 0.08 to 1.0; it is not
// symmetric.
std::vector<float> AnalysisWindow(std::int32_t N);

// x[n] = weight[n] * x[n] for the N = x.size() samples.
void ApplyAnalysisWindow(std::span<float> x);

// Mean of the first bandValues band energies of a frame, summed in float32.
float QuietTestMean(const AnalysisFrame& frame, std::int32_t bandValues);

// The quiet-frame gate over the first bandValues band energies of every
// active frame. Fewer than ten active frames leave slots without a frame;
// those contribute zeros to the template.
void RejectQuietFrames(std::span<AnalysisFrame> frames, std::int32_t bandValues);

// Amplitude gate, lead-frame drop and, for a frame that passes both, window,
// power spectrum and the 23 interleaved band energies. `window` holds the
// weights of AnalysisWindow for the frame's length.
void PrepareFrame(AnalysisFrame& frame, std::int32_t index, std::span<const float> window,
                  const BandLayout& layout);

// Sets `active` of the first codebook.frameCount frames and prepares the ones
// that pass the first two gates, then runs the quiet-frame gate. The frames
// are prepared independently, on up to threadCount threads; the result does
// not depend on the thread count.
void SelectFrames(const VoiceCodebook& codebook, std::span<AnalysisFrame> frames,
                  std::int32_t threadCount = 1);

}  // namespace quorvane
