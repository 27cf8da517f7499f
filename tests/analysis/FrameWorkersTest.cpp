#include "analysis/FrameWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace quorvane {
namespace {

TEST(FrameWorkersTest, EveryFrameIsVisitedExactlyOnce) {
    for (const std::int32_t count : {0, 1, 31, 32, 63, 64, 65, 100, 2412}) {
        for (const std::int32_t threads : {-1, 0, 1, 2, 3, 7, 8, 100}) {
            std::vector<std::atomic<int>> visits(static_cast<std::size_t>(count));
            RunOverFrames(count, threads, [&](std::int32_t begin, std::int32_t end) {
                ASSERT_LE(0, begin);
                ASSERT_LE(begin, end);
                ASSERT_LE(end, count);
                for (std::int32_t i = begin; i < end; ++i) {
                    ++visits[static_cast<std::size_t>(i)];
                }
            });
            for (std::int32_t i = 0; i < count; ++i) {
                EXPECT_EQ(visits[static_cast<std::size_t>(i)].load(), 1)
                    << "count " << count << " threads " << threads << " frame " << i;
            }
        }
    }
}

TEST(FrameWorkersTest, SmallJobsStayOnTheCallingThread) {
    int calls = 0;
    RunOverFrames(40, 8, [&calls](std::int32_t begin, std::int32_t end) {
        ++calls;  // one range only, so no data race on calls
        EXPECT_EQ(begin, 0);
        EXPECT_EQ(end, 40);
    });
    EXPECT_EQ(calls, 1);
}

TEST(FrameWorkersTest, DefaultThreadCountIsSensible) {
    EXPECT_GE(DefaultAnalysisThreads(), 1);
    EXPECT_LE(DefaultAnalysisThreads(), 8);
}

}  // namespace
}  // namespace quorvane
