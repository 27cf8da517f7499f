#include "analysis/VoiceCodebook.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace quorvane {
namespace {

TEST(VoiceCodebookRecord, ConstructionSetsTheAnalysisParameters) {
    const VoiceCodebook codebook;
    EXPECT_EQ(codebook.frameMs, 25);
    EXPECT_EQ(codebook.frameStepRatio, 0.5f);
    EXPECT_EQ(codebook.preEmphasis, 0.97f);
    EXPECT_EQ(codebook.lpcOrder, 14);
    EXPECT_EQ(codebook.cepstrumOrder, 22);
    EXPECT_EQ(codebook.stopDistortion, 0.01f);
    EXPECT_EQ(codebook.minImprovement, 0.01f);
    EXPECT_FALSE(codebook.codewords.has_value());
    EXPECT_FALSE(codebook.vectors.has_value());
}

TEST(VoiceCodebookRecord, ReleaseDropsBothArraysAndKeepsTheCounts) {
    VoiceCodebook codebook;
    codebook.maxCodewords = 64;
    codebook.codewordCount = 3;
    codebook.vectorCount = 7;
    codebook.frameCount = 9;
    codebook.codewords.emplace(64);
    codebook.vectors.emplace(7);
    ReleaseCodebook(codebook);
    EXPECT_FALSE(codebook.codewords.has_value());
    EXPECT_FALSE(codebook.vectors.has_value());
    EXPECT_EQ(codebook.maxCodewords, 64);
    EXPECT_EQ(codebook.codewordCount, 3);
    EXPECT_EQ(codebook.vectorCount, 7);
    EXPECT_EQ(codebook.frameCount, 9);
    // Releasing an empty record is harmless.
    ReleaseCodebook(codebook);
    EXPECT_FALSE(codebook.codewords.has_value());
}

TEST(VoiceCodebookRecord, InitCodewordArrayGivesZeroEntriesOfTheRecordDimension) {
    const VoiceCodebook codebook;
    std::vector<Codeword> entries(5);
    entries[2].values = {1.0f, 2.0f};
    entries[2].label = 9;
    entries[2].memberCount = 4;
    entries[2].distortion = 3.5f;
    EXPECT_EQ(InitCodewordArray(codebook, entries, 5), 5);
    for (const Codeword& entry : entries) {
        ASSERT_EQ(entry.values.size(), 22u);
        for (const float v : entry.values) {
            EXPECT_EQ(v, 0.0f);
        }
        EXPECT_EQ(entry.label, 0);
        EXPECT_EQ(entry.memberCount, 0);
        EXPECT_EQ(entry.distortion, 0.0f);
    }
    // A too-short array grows to hold the requested entries.
    std::vector<Codeword> empty;
    EXPECT_EQ(InitCodewordArray(codebook, empty, 3), 3);
    EXPECT_EQ(empty.size(), 3u);
    EXPECT_EQ(InitCodewordArray(codebook, empty, 0), 0);
}

TEST(FeatureDistanceTest, IsEuclideanOverTheGivenDimension) {
    const std::vector<float> zeros(22, 0.0f);
    const std::vector<float> ones(22, 1.0f);
    EXPECT_EQ(FeatureDistance(22, ones.data(), ones.data()), 0.0f);
    EXPECT_EQ(FeatureDistance(22, zeros.data(), ones.data()), std::sqrt(22.0f));
    EXPECT_EQ(FeatureDistance(22, ones.data(), zeros.data()), std::sqrt(22.0f));
    // 3-4-5 triangle in the first two components; the rest must be ignored.
    std::vector<float> a(22, 7.0f);
    std::vector<float> b(22, -7.0f);
    a[0] = 3.0f;
    a[1] = 0.0f;
    b[0] = 0.0f;
    b[1] = 4.0f;
    EXPECT_EQ(FeatureDistance(2, a.data(), b.data()), 5.0f);

    // The record form takes the record's dimension.
    VoiceCodebook codebook;
    EXPECT_EQ(FeatureDistance(codebook, zeros.data(), ones.data()), std::sqrt(22.0f));
    codebook.cepstrumOrder = 2;
    EXPECT_EQ(FeatureDistance(codebook, a.data(), b.data()), 5.0f);
}

TEST(FeatureDistanceTest, AddsTheSquaresInFloat32InIndexOrder) {
    // 2^24 + 1 in float32 rounds back to 2^24, so 2^24 followed by 21 ones sums
    // to 2^24 and the distance is 4096; a wider or reordered sum would reach
    // 2^24 + 21 and a distance above 4096.
    std::vector<float> a(22, 1.0f);
    a[0] = 4096.0f;  // 4096^2 = 2^24
    const std::vector<float> b(22, 0.0f);
    EXPECT_EQ(FeatureDistance(22, a.data(), b.data()), 4096.0f);
}

}  // namespace
}  // namespace quorvane
