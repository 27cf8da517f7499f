#include "analysis/LevelCheck.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quorvane {
namespace {

// 400 lead samples (loud, to show they are ignored) followed by a recording of
// `length` samples of which `loud` are 5000, `clipped` are -32001 and the rest 10.
std::vector<std::int16_t> Capture(std::int32_t length, std::int32_t loud, std::int32_t clipped) {
    std::vector<std::int16_t> samples(400, 32767);
    for (std::int32_t i = 0; i < length; ++i) {
        if (i < clipped) {
            samples.push_back(-32001);
        } else if (i < clipped + loud) {
            samples.push_back(5000);
        } else {
            samples.push_back(10);
        }
    }
    return samples;
}

TEST(LevelCheckTest, FourHundredSamplesOrFewerAreNotARecording) {
    for (const std::size_t size : {0u, 1u, 400u}) {
        const std::vector<std::int16_t> captured(size, 20000);
        const LevelCheckResult result = CheckRecordingLevel(captured);
        EXPECT_FALSE(result.recorded) << size;
        EXPECT_FALSE(result.accepted);
        EXPECT_EQ(result.count, 0);
        EXPECT_TRUE(result.Warnings().empty());
    }
    EXPECT_EQ(kSoundNotRecordedText, "The sound was not recorded");
}

TEST(LevelCheckTest, NeedsHalfASecondOfLoudSamples) {
    const LevelCheckResult few = CheckRecordingLevel(Capture(20000, 5512, 0));
    EXPECT_TRUE(few.recorded);
    EXPECT_EQ(few.loudCount, 5512);
    EXPECT_TRUE(few.tooQuiet);
    EXPECT_FALSE(few.clipped);
    EXPECT_FALSE(few.accepted);
    ASSERT_EQ(few.Warnings().size(), 1u);
    EXPECT_EQ(few.Warnings()[0].text, "Signal level is too low, please repeat recording");
    EXPECT_EQ(few.Warnings()[0].caption, "Warning");

    const LevelCheckResult enough = CheckRecordingLevel(Capture(20000, 5513, 0));
    EXPECT_FALSE(enough.tooQuiet);
    EXPECT_TRUE(enough.accepted);
    EXPECT_EQ(enough.first, 400);
    EXPECT_EQ(enough.count, 20000);
    EXPECT_TRUE(enough.Warnings().empty());

    // 5513 loud samples suffice whatever the length.
    EXPECT_TRUE(CheckRecordingLevel(Capture(5513, 5513, 0)).accepted);
    EXPECT_TRUE(CheckRecordingLevel(Capture(300000, 5513, 0)).accepted);
}

TEST(LevelCheckTest, MagnitudesMustBeAboveTheLevels) {
    // 3000 is not loud, 32000 not clipped; -32768 is both.
    std::vector<std::int16_t> captured(400, 0);
    captured.insert(captured.end(), 6000, 3000);
    captured.insert(captured.end(), 100, 32000);
    const LevelCheckResult edge = CheckRecordingLevel(captured);
    EXPECT_EQ(edge.loudCount, 100);
    EXPECT_EQ(edge.clippedCount, 0);
    captured.push_back(-32768);
    captured.push_back(-3001);
    const LevelCheckResult over = CheckRecordingLevel(captured);
    EXPECT_EQ(over.loudCount, 102);
    EXPECT_EQ(over.clippedCount, 1);
}

TEST(LevelCheckTest, ExactlyFivePercentClippedIsAccepted) {
    // 20000 samples: 1000 clipped is 5 % exactly; 1001 is above.
    const LevelCheckResult exact = CheckRecordingLevel(Capture(20000, 6000, 1000));
    EXPECT_EQ(exact.clippedCount, 1000);
    EXPECT_FALSE(exact.clipped);
    EXPECT_TRUE(exact.accepted);

    const LevelCheckResult above = CheckRecordingLevel(Capture(20000, 6000, 1001));
    EXPECT_TRUE(above.clipped);
    EXPECT_FALSE(above.accepted);
    ASSERT_EQ(above.Warnings().size(), 1u);
    EXPECT_EQ(above.Warnings()[0].text, "Signal level is too high, please repeat recording");
    EXPECT_EQ(above.Warnings()[0].caption, "Warning");
}

TEST(LevelCheckTest, BothWarningsComeTooHighFirst) {
    // 1000 samples, 100 clipped (loud too, but far fewer than 5513).
    const LevelCheckResult both = CheckRecordingLevel(Capture(1000, 0, 100));
    EXPECT_TRUE(both.clipped);
    EXPECT_TRUE(both.tooQuiet);
    EXPECT_FALSE(both.accepted);
    const std::vector<LevelWarning> warnings = both.Warnings();
    ASSERT_EQ(warnings.size(), 2u);
    EXPECT_EQ(warnings[0].text, kLevelTooHighText);
    EXPECT_EQ(warnings[1].text, kLevelTooLowText);
    // The refused recording's range is still reported.
    EXPECT_EQ(both.first, 400);
    EXPECT_EQ(both.count, 1000);
}

TEST(LevelCheckTest, LongRecordingsAreCutToThirtySeconds) {
    // Loud samples only after the first 330750 must not count.
    std::vector<std::int16_t> captured(400 + 330750, 10);
    captured.insert(captured.end(), 10000, 5000);
    const LevelCheckResult cut = CheckRecordingLevel(captured);
    EXPECT_EQ(cut.first, 400);
    EXPECT_EQ(cut.count, 330750);
    EXPECT_EQ(cut.loudCount, 0);
    EXPECT_TRUE(cut.tooQuiet);

    std::vector<std::int16_t> exact(400 + 330750, 5000);
    EXPECT_EQ(CheckRecordingLevel(exact).count, 330750);
    exact.pop_back();
    EXPECT_EQ(CheckRecordingLevel(exact).count, 330749);
}

TEST(LevelCheckTest, CapturedCountPrefersTheReportedBytes) {
    EXPECT_EQ(CapturedSampleCount(2 * 5000, 4000), 5000);
    // 401 samples from the bytes are enough to use them.
    EXPECT_EQ(CapturedSampleCount(2 * 401, 9000), 401);
    // 400 or fewer: the position read before the stop decides.
    EXPECT_EQ(CapturedSampleCount(2 * 400, 9000), 9000);
    EXPECT_EQ(CapturedSampleCount(0, 300), 300);
    EXPECT_EQ(CapturedSampleCount(801, 0), 0);  // 400 whole samples
}

}  // namespace
}  // namespace quorvane
