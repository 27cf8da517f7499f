#pragma once

// The checks a fresh recording passes when the Record button is released,
// shared by the program and the command line.
//
// The device captures into the sound buffer; the first 400 samples (the
// click of the button, about 36 ms) are always dropped. The rest, cut to the
// first 330750 samples (30 seconds, the size of the recording store), is the
// recording. It is refused when more than 5 % of its samples are clipped
// (magnitude above 32000) or when it has less than half a second of loud
// samples (magnitude above 3000; fewer than 5513 at 11025 Hz). Both tests are
// always made, so both warnings can apply, "too high" first.
//
// Typical use on release of Record:
//   const std::int32_t captured = CapturedSampleCount(recordedBytes, position);
//   const LevelCheckResult check = CheckRecordingLevel(buffer.first(captured));
//   if (!check.recorded) { notice(kSoundNotRecordedText); recordedCount = 0; return; }
//   copy buffer[check.first .. check.first + check.count - 1] to recordedSamples;
//   for (const LevelWarning& w : check.Warnings()) { warning(w.text, w.caption); }
//   recordedCount = check.accepted ? check.count : 0;

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/VoiceCodebook.h"

namespace quorvane {

// Samples dropped from the start of every recording.
inline constexpr std::int32_t kLeadSamplesDropped = 400;
// Longest recording kept after the dropped samples: 30 s at 11025 Hz.
inline constexpr std::int32_t kMaxRecordedSamples = 330750;
// A sample whose magnitude is above this counts as clipped.
inline constexpr std::int32_t kClipLevel = 32000;
// A sample whose magnitude is above this counts as loud.
inline constexpr std::int32_t kLoudLevel = 3000;
// Largest clipped share still accepted: 0.05, as the fraction 1/20 so that the
// test is exact (exactly 5 % passes).
inline constexpr std::int32_t kClippedShareDenominator = 20;
// Loud samples needed: half a second, as the fraction 1/2 of the rate
// (loud / rate < 0.5 refuses; at 11025 Hz 5512 are too few, 5513 enough).
inline constexpr std::int32_t kLoudSecondsDenominator = 2;

// Texts and caption of the release, exactly as the program shows them.
inline constexpr std::string_view kSoundNotRecordedText = "The sound was not recorded";
inline constexpr std::string_view kLevelTooHighText =
    "Signal level is too high, please repeat recording";
inline constexpr std::string_view kLevelTooLowText =
    "Signal level is too low, please repeat recording";
inline constexpr std::string_view kLevelWarningCaption = "Warning";

// One warning box: the text and its caption (shown with an OK button and the
// warning icon).
struct LevelWarning {
    std::string_view text;
    std::string_view caption;
};

struct LevelCheckResult {
    // More than 400 samples were captured. When false nothing else applies:
    // the program shows kSoundNotRecordedText and keeps no recording.
    bool recorded = false;
    // The warnings that apply, in the order they are shown.
    bool clipped = false;   // more than 5 % of the recording clipped ("too high")
    bool tooQuiet = false;  // fewer loud samples than half a second ("too low")
    // The recording within the captured samples: captured[first .. first + count - 1].
    // Set whenever recorded is true, also for a refused recording (the command
    // line analyses it anyway to explain the refusal).
    std::int32_t first = kLeadSamplesDropped;
    std::int32_t count = 0;
    // True when the recording stands: recorded, neither clipped nor too quiet.
    bool accepted = false;
    // The counts behind the two tests.
    std::int32_t clippedCount = 0;
    std::int32_t loudCount = 0;

    // The warning boxes to show, in order: "too high" before "too low".
    std::vector<LevelWarning> Warnings() const;
};

// Samples the device captured, from what it reports at the stop: the recorded
// bytes / 2 when that gives more than the 400 dropped samples, otherwise the
// position read just before the stop.
std::int32_t CapturedSampleCount(std::int64_t recordedBytes, std::int32_t position);

// Runs the level checks on the captured samples (the start of the sound
// buffer, 400 dropped samples included) at the given sampling rate.
[[nodiscard]] LevelCheckResult CheckRecordingLevel(std::span<const std::int16_t> captured,
                                                   std::int32_t sampleRate = kSampleRate);

}  // namespace quorvane
