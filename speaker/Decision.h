#pragma once

#include <span>

#include "analysis/VoiceCodebook.h"

namespace quorvane {

// Security levels of the threshold choice: the index of the sorted pairwise
// phrase distance that becomes the threshold.
inline constexpr int kSecurityHigh = 0;
inline constexpr int kSecurityMedium = 1;
inline constexpr int kSecurityLow = 2;

// The threshold value that means "not trained".
inline constexpr float kUntrainedThreshold = -1.0f;

// Mean of the two directed average nearest-codeword distances between the
// filled codewords (memberCount above 0) of a and b; symmetric. a's
// cepstrumOrder sets the dimension. A codebook without a filled codeword (or
// with codewords shorter than that dimension) cannot be compared and is
// infinitely distant: +infinity, so that any decision against it rejects.
[[nodiscard]] float CodebookDistance(const VoiceCodebook& a, const VoiceCodebook& b);

// The acceptance threshold of three phrase codebooks: the pairwise distances
// (0,1), (0,2), (1,2), sorted ascending, taken at securityLevel (0 High: the
// smallest, 1 Medium, 2 Low: the largest). A level outside 0..2, or a chosen
// distance that is not a finite number (a phrase without a filled codeword),
// gives kUntrainedThreshold.
[[nodiscard]] float ComputeThreshold(std::span<const VoiceCodebook, 3> phraseCodebooks,
                                     int securityLevel);

// Compares the test codebook with the three model codebooks; distance is the
// smallest CodebookDistance. Accepted exactly when that distance is strictly
// below the threshold; a threshold that is not a finite number accepts nobody.
[[nodiscard]] bool VerifySpeaker(std::span<const VoiceCodebook, 3> models,
                                 const VoiceCodebook& test, float threshold, float& distance);

}  // namespace quorvane
