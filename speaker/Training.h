#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/RecordingAnalysis.h"
#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Distance.h"

namespace quorvane {

// Split factors of the Linde-Buzo-Gray growth: the new codeword is the old one
// times kSplitUp, the old one is scaled by kSplitDown (both in double precision).
inline constexpr double kSplitUp = 1.01;
inline constexpr double kSplitDown = 0.99;

// Turns one recording into a vector-quantisation codebook: analyses the samples
// into feature vectors, then grows the codebook by splitting and k-means
// refinement up to maxCodewords entries. Returns false when the recording gives
// fewer than kMinFeatureVectors vectors; the record is then untrained and keeps
// its vectors until the next release. Any earlier codebook of the record is lost
// in either case. Progress runs from 0 to maxCodewords + 1 in steps of 1 and is
// set back to 0 at the end. Every caller passes kSampleRate and kMaxCodewords.
// sampleCount beyond the end of samples is cut to the samples given.
// The nearest-codeword search runs on `kernel`; every kernel gives the same bits.
[[nodiscard]] bool TrainCodebook(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                                 std::int32_t sampleCount, std::int32_t sampleRate,
                                 std::int32_t maxCodewords, Progress& progress, Notifier& notifier,
                                 DistanceKernel kernel = BestDistanceKernel());

// What the program tells the user when TrainCodebook refuses a recording.
inline constexpr std::string_view kTooFewVectorsText =
    "Too little feature vectors, please repeat recording";

// The first half of TrainCodebook: releases the record, stores maxCodewords,
// sampleRate and sampleCount and runs AnalyseRecording. Leaves the record
// analysed, ready for GrowCodebook. Tools that want to look at the feature
// vectors before training call this, then GrowCodebook; given a report, it
// also says which frames were active and which unstable.
void AnalyseForTraining(VoiceCodebook& codebook, std::span<const std::int16_t> samples,
                        std::int32_t sampleCount, std::int32_t sampleRate,
                        std::int32_t maxCodewords, Notifier& notifier,
                        AnalysisReport* report = nullptr);

// The second half of TrainCodebook, on an analysed record (vectors present,
// vectorCount and maxCodewords set): refuses fewer than kMinFeatureVectors
// vectors (progress position set to 0, false), otherwise builds the codeword
// array, grows it, releases the vectors, sets the progress position to 0 and
// returns true. Steps the progress once per split. A maxCodewords below 1 or a
// vector array shorter than vectorCount is refused like too few vectors.
[[nodiscard]] bool GrowCodebook(VoiceCodebook& codebook, Progress& progress,
                                DistanceKernel kernel = BestDistanceKernel());

// Assigns every vector to its nearest codeword among the first codewordCount
// (ties to the lower index), sets each codeword's memberCount and mean member
// distance, and returns the mean distance over all vectorCount vectors. All sums
// are float32 in vector order. The distances come from `kernel`.
float AssignVectors(VoiceCodebook& codebook, DistanceKernel kernel = BestDistanceKernel());

// Moves every filled codeword to the component-wise mean of its member
// vectors (float32 sums in vector order); empty codewords keep their values.
void UpdateCentroids(VoiceCodebook& codebook);

// Splits codeword `row` into itself and the codeword at codewordCount - 1,
// which the caller has just taken into use: new = row * kSplitUp, then
// row = row * kSplitDown, component by component. Labels are set to the indices.
void SplitCodeword(VoiceCodebook& codebook, std::int32_t row);

// The codeword to split next: the filled codeword with the largest distortion
// among codewords 1 .. codewordCount - 1 that beats codeword 0's strictly;
// codeword 0 otherwise (even when it is empty); the lowest index among equals.
[[nodiscard]] std::int32_t ChooseSplitRow(const VoiceCodebook& codebook);

}  // namespace quorvane
