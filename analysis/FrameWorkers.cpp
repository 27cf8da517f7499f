#include "analysis/FrameWorkers.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace quorvane {
namespace {

// Below this many frames per thread, starting a thread costs more than it saves.
constexpr std::int32_t kMinFramesPerThread = 32;
constexpr std::int32_t kMaxThreads = 8;

}  // namespace

std::int32_t DefaultAnalysisThreads() {
    const auto hardware = static_cast<std::int32_t>(std::thread::hardware_concurrency());
    return std::clamp(hardware, 1, kMaxThreads);
}

void RunOverFrames(std::int32_t count, std::int32_t threadCount,
                   const std::function<void(std::int32_t, std::int32_t)>& work) {
    if (count <= 0) {
        return;
    }
    const std::int32_t threads =
        std::clamp(std::min(threadCount, count / kMinFramesPerThread), 1, kMaxThreads);
    if (threads == 1) {
        work(0, count);
        return;
    }
    const std::int32_t share = (count + threads - 1) / threads;
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(threads - 1));
    for (std::int32_t t = 1; t < threads; ++t) {
        const std::int32_t begin = std::min(count, t * share);
        const std::int32_t end = std::min(count, begin + share);
        if (begin >= end) {
            continue;
        }
        try {
            helpers.emplace_back([&work, begin, end] { work(begin, end); });
        } catch (const std::system_error&) {
            // No thread to be had: do this range here; the result is the same.
            work(begin, end);
        }
    }
    work(0, std::min(count, share));
    // The jthreads join as they leave scope.
}

}  // namespace quorvane
