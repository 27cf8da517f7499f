#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvane {

// Sampling rate of every recording the analysis sees (16-bit mono PCM).
inline constexpr std::int32_t kSampleRate = 11025;
// Codebook bound every trainer passes.
inline constexpr std::int32_t kMaxCodewords = 64;
// Length of a feature vector and of a codeword: cepstral coefficients c1..c22.
inline constexpr std::int32_t kCepstrumOrder = 22;
// Fewest feature vectors a training accepts.
inline constexpr std::int32_t kMinFeatureVectors = 100;

// One entry of a codebook's codeword array or of its feature-vector array.
struct Codeword {
    std::vector<float> values;     // cepstrumOrder float32 values, owned by the entry
    float distortion = 0.0f;       // codewords: mean distance of the member vectors
    std::int32_t label = 0;        // codewords: own index; vectors: index of the nearest codeword
    std::int32_t memberCount = 0;  // codewords: number of member vectors
};

// The analysis and codebook of one recording. "None" for an array is an empty
// optional; a present array may still hold zero entries.
struct VoiceCodebook {
    std::int32_t sampleCount = 0;  // set by TrainCodebook
    std::int32_t sampleRate = 0;   // set by TrainCodebook (always 11025)
    std::int32_t frameLength = 0;  // set by AnalyseRecording: 275 samples at 11025 Hz
    std::int32_t frameMs = 25;
    std::int32_t frameCount = 0;   // set by AnalyseRecording
    std::int32_t vectorCount = 0;  // valid entries of vectors
    float frameStepRatio = 0.5f;
    float preEmphasis = 0.97f;
    std::int32_t lpcOrder = 14;
    std::int32_t cepstrumOrder = kCepstrumOrder;
    std::int32_t maxCodewords = 0;                   // entries allocated in codewords
    std::int32_t codewordCount = 0;                  // entries in use
    std::optional<std::vector<Codeword>> codewords;  // none while untrained
    std::optional<std::vector<Codeword>> vectors;    // feature vectors of the last analysis
    float stopDistortion = 0.01f;
    float minImprovement = 0.01f;

    // A record is trained exactly when it holds a codeword array.
    bool Trained() const { return codewords.has_value(); }
};

// Releases both arrays; counts and parameters keep their values.
void ReleaseCodebook(VoiceCodebook& codebook);

// Gives each of the first `count` entries zero values of the record's
// cepstrumOrder, label 0, distortion 0, memberCount 0 (growing `entries` to
// `count` if it is shorter). Returns count (0 for a count below 1).
std::int32_t InitCodewordArray(const VoiceCodebook& codebook, std::vector<Codeword>& entries,
                               std::int32_t count);

// Euclidean distance over the first `dimension` components, squares summed in
// float32 in index order, then the float32 square root.
float FeatureDistance(std::int32_t dimension, const float* a, const float* b);

// The same over the cepstrumOrder of the given record (the dimension is always
// that of the record, whichever arrays the vectors come from).
float FeatureDistance(const VoiceCodebook& codebook, const float* a, const float* b);

}  // namespace quorvane
