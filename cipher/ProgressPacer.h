#pragma once

#include <cstdint>

#include "files/ByteProgress.h"

namespace quorvane {

// Calls progress at most every kInterval bytes, and once at the end.
class ProgressPacer final {
public:
    static constexpr std::uint64_t kInterval = std::uint64_t{4} << 20;

    ProgressPacer(const ProgressFn& progress, std::uint64_t total)
        : progress_(progress), total_(total) {}
    void Add(std::uint64_t bytes) {
        done_ += bytes;
        if (progress_ && (done_ - reported_ >= kInterval || done_ == total_)) {
            reported_ = done_;
            progress_(done_, total_);
        }
    }

private:
    const ProgressFn& progress_;
    std::uint64_t total_;
    std::uint64_t done_ = 0;
    std::uint64_t reported_ = 0;
};

}  // namespace quorvane
