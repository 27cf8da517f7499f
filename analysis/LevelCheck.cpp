#include "analysis/LevelCheck.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace quorvane {

std::vector<LevelWarning> LevelCheckResult::Warnings() const {
    std::vector<LevelWarning> warnings;
    if (clipped) {
        warnings.push_back({kLevelTooHighText, kLevelWarningCaption});
    }
    if (tooQuiet) {
        warnings.push_back({kLevelTooLowText, kLevelWarningCaption});
    }
    return warnings;
}

std::int32_t CapturedSampleCount(std::int64_t recordedBytes, std::int32_t position) {
    const std::int64_t fromBytes = recordedBytes / 2;
    if (fromBytes > kLeadSamplesDropped) {
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(fromBytes, std::numeric_limits<std::int32_t>::max()));
    }
    return position;
}

LevelCheckResult CheckRecordingLevel(std::span<const std::int16_t> captured,
                                     std::int32_t sampleRate) {
    LevelCheckResult result;
    if (captured.size() <= static_cast<std::size_t>(kLeadSamplesDropped)) {
        return result;
    }
    result.recorded = true;
    result.count = static_cast<std::int32_t>(
        std::min(captured.size() - kLeadSamplesDropped, std::size_t{kMaxRecordedSamples}));
    for (const std::int16_t sample :
         captured.subspan(kLeadSamplesDropped, static_cast<std::size_t>(result.count))) {
        const std::int32_t magnitude = std::abs(static_cast<std::int32_t>(sample));
        if (magnitude > kClipLevel) {
            ++result.clippedCount;
        }
        if (magnitude > kLoudLevel) {
            ++result.loudCount;
        }
    }
    // clipped / count > 1/20 and loud / rate < 1/2, in exact integer arithmetic.
    result.clipped = std::int64_t{result.clippedCount} * kClippedShareDenominator > result.count;
    result.tooQuiet = std::int64_t{result.loudCount} * kLoudSecondsDenominator < sampleRate;
    result.accepted = !result.clipped && !result.tooQuiet;
    return result;
}

}  // namespace quorvane
