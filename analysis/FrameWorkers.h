#pragma once

// Runs per-frame work of the analysis on several threads. Frames are
// independent (each stage of a frame reads and writes only that frame), so
// splitting them into contiguous ranges changes no result, only the time.

#include <cstdint>
#include <functional>

namespace quorvane {

// Threads the analysis uses by default: the hardware's, at most 8, at least 1.
std::int32_t DefaultAnalysisThreads();

// Calls work(begin, end) over contiguous ranges covering 0 .. count-1, on up
// to threadCount threads (the calling thread takes the first range), and
// returns when all ranges are done. threadCount <= 1 runs everything on the
// calling thread.
void RunOverFrames(std::int32_t count, std::int32_t threadCount,
                   const std::function<void(std::int32_t, std::int32_t)>& work);

}  // namespace quorvane
