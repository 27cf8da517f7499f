#pragma once

#include <cstdint>
#include <functional>

namespace quorvane {

// Called now and then during long file work (every few MiB, and once at the end) with the bytes
// done and the total, so callers can show progress. Runs on the calling thread.
using ProgressFn = std::function<void(std::uint64_t doneBytes, std::uint64_t totalBytes)>;

}  // namespace quorvane
