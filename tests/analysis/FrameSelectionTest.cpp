#include "analysis/FrameSelection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analysis/AnalysisFrame.h"
#include "analysis/VoiceCodebook.h"

namespace quorvane {
namespace {

TEST(AmplitudeGateTest, TheLoudestSampleMustExceedTheThreshold) {
    std::vector<float> x(275, 10.0f);
    EXPECT_EQ(AmplitudeGate(x, 130), 0);
    x[100] = 130.0f;
    EXPECT_EQ(AmplitudeGate(x, 130), 0);
    x[100] = -130.0f;
    EXPECT_EQ(AmplitudeGate(x, 130), 0);
    x[200] = 130.5f;
    EXPECT_EQ(AmplitudeGate(x, 130), 1);
    x[200] = 0.0f;
    x[274] = -130.5f;
    EXPECT_EQ(AmplitudeGate(x, 130), 1);
    EXPECT_EQ(AmplitudeGate({}, 130), 0);
}

TEST(AnalysisWindowTest, RisesOverTheWholeFrameFrom008To1) {
    const std::vector<float> w = AnalysisWindow(275);
    ASSERT_EQ(w.size(), 275u);
    EXPECT_NEAR(w[0], 0.08f, 1e-6f);
    EXPECT_NEAR(w[137], 0.54f, 1e-6f);
    EXPECT_NEAR(w[274], 1.0f, 1e-6f);
    for (std::size_t n = 0; n < w.size(); ++n) {
        const double expected =
            0.54 - 0.46 * std::cos(std::numbers::pi * static_cast<double>(n) / 274.0);
        EXPECT_NEAR(w[n], expected, 2e-7) << n;
        if (n > 0) {
            EXPECT_GT(w[n], w[n - 1]) << n;
        }
    }
}

TEST(AnalysisWindowTest, DoesNotDependOnThePlatformCosine) {
    // The same weights with the cosine taken in extended precision and then
    // rounded to double: the platform's double cosine must give the same float.
    const std::vector<float> w = AnalysisWindow(275);
    const auto step = static_cast<float>(std::numbers::pi / 274.0);
    for (std::size_t n = 0; n < w.size(); ++n) {
        const float argument = static_cast<float>(n) * step;
        const auto c =
            static_cast<float>(static_cast<double>(std::cos(static_cast<long double>(argument))));
        EXPECT_EQ(w[n], 0.54f - 0.46f * c) << n;
    }
}

TEST(AnalysisWindowTest, MultipliesInPlace) {
    std::vector<float> x(275, 2.0f);
    ApplyAnalysisWindow(x);
    const std::vector<float> w = AnalysisWindow(275);
    for (std::size_t n = 0; n < x.size(); ++n) {
        EXPECT_EQ(x[n], 2.0f * w[n]);
    }
}

// A frame whose first 13 band values are all v: its quiet-test mean is v.
AnalysisFrame FrameWithLevel(float v, std::uint8_t active = 1) {
    AnalysisFrame frame;
    for (std::size_t g = 0; g < 13; ++g) {
        frame.bandEnergy[g] = v;
    }
    frame.bandEnergy[13] = 1e6f;  // beyond the 13 values of the test
    frame.active = active;
    return frame;
}

TEST(QuietFrameGate, DropsFramesBelowTwiceTheQuietLevel) {
    // Twelve active frames at levels 1 .. 12: the ten quietest are 1 .. 10, their
    // template sums to 13 * 5.5 and the threshold is 2 * 5.5 = 11. Level 11
    // equals it and stays.
    std::vector<AnalysisFrame> frames;
    for (int level = 12; level >= 1; --level) {
        frames.push_back(FrameWithLevel(static_cast<float>(level)));
    }
    frames.push_back(FrameWithLevel(0.001f, 0));  // inactive frames do not count
    RejectQuietFrames(frames, kQuietBandValues);
    EXPECT_EQ(frames[0].active, 1);  // level 12
    EXPECT_EQ(frames[1].active, 1);  // level 11 == threshold
    for (std::size_t i = 2; i < 12; ++i) {
        EXPECT_EQ(frames[i].active, 0) << i;
    }
    EXPECT_EQ(frames[12].active, 0);
}

TEST(QuietFrameGate, UsesOnlyTheFirstThirteenBandValues) {
    std::vector<AnalysisFrame> frames;
    for (int level = 1; level <= 12; ++level) {
        frames.push_back(FrameWithLevel(static_cast<float>(level)));
    }
    // Raise the frame at level 10 in a band value the test does not read.
    frames[9].bandEnergy[20] = 1e9f;
    RejectQuietFrames(frames, kQuietBandValues);
    EXPECT_EQ(frames[9].active, 0);
    EXPECT_EQ(frames[10].active, 1);
}

TEST(QuietFrameGate, EmptySlotsContributeZeros) {
    // Three active frames at 10, 20, 30: template 0.1 * 60 = 6 per band value,
    // threshold 2 * 6 = 12; only the frame at 10 is dropped.
    std::vector<AnalysisFrame> frames = {FrameWithLevel(20.0f), FrameWithLevel(10.0f),
                                         FrameWithLevel(30.0f)};
    RejectQuietFrames(frames, kQuietBandValues);
    EXPECT_EQ(frames[0].active, 1);
    EXPECT_EQ(frames[1].active, 0);
    EXPECT_EQ(frames[2].active, 1);

    // A single active frame is judged against twice a tenth of its own level.
    std::vector<AnalysisFrame> one = {FrameWithLevel(5.0f)};
    RejectQuietFrames(one, kQuietBandValues);
    EXPECT_EQ(one[0].active, 1);
}

TEST(QuietFrameGate, KeepsOnlyTheTenQuietestInTheTemplate) {
    // Ten frames at 1 and two louder ones: the template is 1, the threshold 2.
    // The frame at 2 stays, the frames at 1 go.
    std::vector<AnalysisFrame> frames;
    frames.push_back(FrameWithLevel(2.0f));
    frames.push_back(FrameWithLevel(1000.0f));
    for (int i = 0; i < 10; ++i) {
        frames.push_back(FrameWithLevel(1.0f));
    }
    RejectQuietFrames(frames, kQuietBandValues);
    EXPECT_EQ(frames[0].active, 1);
    EXPECT_EQ(frames[1].active, 1);
    for (std::size_t i = 2; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].active, 0);
    }
}

TEST(SelectFramesTest, TheFirstTenFramesAreNeverActiveAndStayUnwindowed) {
    VoiceCodebook codebook;
    codebook.frameLength = 275;
    codebook.frameCount = 14;
    std::vector<float> x(275 + 14 * 137);
    for (std::size_t n = 0; n < x.size(); ++n) {
        // A loud tone, clearly above the amplitude gate in every frame.
        x[n] = 8000.0f * static_cast<float>(std::sin(0.3 * static_cast<double>(n)));
    }
    std::vector<AnalysisFrame> frames = CutFrames(x, 275, 137, 14);
    const std::vector<AnalysisFrame> before = frames;
    SelectFrames(codebook, frames);
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(frames[i].active, 0) << i;
        EXPECT_EQ(frames[i].samples, before[i].samples) << i;
    }
    // The later frames were windowed and measured (the gate then judges them).
    const std::vector<float> w = AnalysisWindow(275);
    for (std::size_t i = 10; i < 14; ++i) {
        EXPECT_EQ(frames[i].samples[5], w[5] * before[i].samples[5]);
        EXPECT_GT(frames[i].bandEnergy[0], 0.0f);
    }
}

TEST(SelectFramesTest, QuietFramesFailTheAmplitudeGate) {
    VoiceCodebook codebook;
    codebook.frameLength = 275;
    codebook.frameCount = 12;
    std::vector<float> x(275 + 12 * 137, 100.0f);
    std::vector<AnalysisFrame> frames = CutFrames(x, 275, 137, 12);
    SelectFrames(codebook, frames);
    EXPECT_EQ(CountActiveFrames(frames), 0);
    EXPECT_EQ(frames[11].samples[0], 100.0f);
}

}  // namespace
}  // namespace quorvane
