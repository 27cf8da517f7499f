#include "analysis/AnalysisFrame.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "analysis/RecordingAnalysis.h"
#include "analysis/VoiceCodebook.h"

namespace quorvane {
namespace {

TEST(Framing, TwentyFiveMillisecondsAt11025HzAre275SamplesWithStep137) {
    // 25 * 11025 = 275625, * 0.001 = 275.625 -> 275; 275 * 0.5 = 137.5 -> 137.
    EXPECT_EQ(FrameLengthOf(25, 11025), 275);
    EXPECT_EQ(FrameStepOf(275, 0.5f), 137);
    // 20 ms at 8000 Hz is exactly 160.
    EXPECT_EQ(FrameLengthOf(20, 8000), 160);
}

TEST(Framing, CutsOneFrameFewerThanWouldFit) {
    EXPECT_EQ(FrameCountOf(411, 275, 137), 0);
    EXPECT_EQ(FrameCountOf(412, 275, 137), 1);
    // 11 frames need 275 + 11 * 137 = 1782 samples; 110 frames need 15345.
    EXPECT_EQ(FrameCountOf(1781, 275, 137), 10);
    EXPECT_EQ(FrameCountOf(1782, 275, 137), 11);
    EXPECT_EQ(FrameCountOf(15345, 275, 137), 110);
    // Shorter than one frame, empty, or without a usable step: no frames.
    EXPECT_EQ(FrameCountOf(274, 275, 137), 0);
    EXPECT_EQ(FrameCountOf(0, 275, 137), 0);
    EXPECT_EQ(FrameCountOf(100, 275, 137), 0);
    EXPECT_EQ(FrameCountOf(1000, 275, 0), 0);
    // The longest recording, 330750 samples, gives 2412 frames.
    EXPECT_EQ(FrameCountOf(330750, 275, 137), 2412);
}

TEST(Framing, ConversionKeepsTheSixteenBitScale) {
    const std::vector<std::int16_t> samples = {-32768, -1, 0, 1, 32767};
    std::vector<float> x(samples.size());
    ConvertSamples(samples, x);
    EXPECT_EQ(x, (std::vector<float>{-32768.0f, -1.0f, 0.0f, 1.0f, 32767.0f}));
}

TEST(Framing, PreEmphasisUsesThePreviousOriginalSample) {
    std::vector<float> x = {100.0f, 100.0f, 100.0f};
    PreEmphasise(x, 0.97f);
    EXPECT_EQ(x[0], 100.0f);
    EXPECT_NEAR(x[1], 3.0f, 1e-4f);
    EXPECT_NEAR(x[2], 3.0f, 1e-4f);

    // Were the already changed value used, the third value would be 10 - 0.5*5 = 7.5.
    std::vector<float> y = {10.0f, 10.0f, 10.0f, -4.0f};
    PreEmphasise(y, 0.5f);
    EXPECT_EQ(y, (std::vector<float>{10.0f, 5.0f, 5.0f, -9.0f}));

    std::vector<float> empty;
    PreEmphasise(empty, 0.97f);
    EXPECT_TRUE(empty.empty());
}

TEST(Framing, FramesAreOverlappingCopies) {
    std::vector<float> x(700);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<float>(i);
    }
    const std::int32_t count = FrameCountOf(700, 275, 137);
    ASSERT_EQ(count, 3);  // (700 - 275) / 137 = 3.1
    std::vector<AnalysisFrame> frames = CutFrames(x, 275, 137, count);
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].samples.size(), 275u);
        EXPECT_EQ(frames[i].samples.front(), static_cast<float>(i * 137));
        EXPECT_EQ(frames[i].samples.back(), static_cast<float>(i * 137 + 274));
        EXPECT_EQ(frames[i].active, 0);
    }
    // A frame owns its samples.
    frames[0].samples[137] = -1.0f;
    EXPECT_EQ(frames[1].samples[0], 137.0f);
}

TEST(Framing, CountsActiveFrames) {
    std::vector<AnalysisFrame> frames(5);
    EXPECT_EQ(CountActiveFrames(frames), 0);
    frames[1].active = 1;
    frames[4].active = 1;
    EXPECT_EQ(CountActiveFrames(frames), 2);
    EXPECT_EQ(CountActiveFrames({}), 0);
}

TEST(Framing, RecordingsTooShortForAFrameGiveNoVectors) {
    const std::vector<std::int16_t> loud(412, 20000);
    for (const std::int32_t count : {0, 274, 411}) {
        VoiceCodebook codebook;
        codebook.sampleCount = count;
        codebook.sampleRate = kSampleRate;
        SilentNotifier notifier;
        AnalyseRecording(codebook, loud, notifier);
        EXPECT_EQ(codebook.frameLength, 275);
        EXPECT_EQ(codebook.frameCount, 0) << count;
        EXPECT_EQ(codebook.vectorCount, 0);
        ASSERT_TRUE(codebook.vectors.has_value());
        EXPECT_TRUE(codebook.vectors->empty());
    }
    VoiceCodebook one;
    one.sampleCount = 412;
    one.sampleRate = kSampleRate;
    SilentNotifier notifier;
    AnalyseRecording(one, loud, notifier);
    EXPECT_EQ(one.frameCount, 1);
    EXPECT_EQ(one.vectorCount, 0);  // frame 0 is never active
}

}  // namespace
}  // namespace quorvane
