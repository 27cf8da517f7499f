#pragma once

// Enrolment on the "Study" page: the current recording, the three phrase codebooks and
// the trained threshold, with the commands that change them ("Add phrase", "Train
// system...") and the verification test ("Verify"). The state lasts for one run of the
// front end; "Add new user..." (workflow/Users.h) stores it.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analysis/LevelCheck.h"
#include "analysis/VoiceCodebook.h"
#include "files/Result.h"
#include "speaker/Decision.h"  // the security levels FrontEnd::ChooseSecurityLevel returns
#include "speaker/Training.h"  // kTooFewVectorsText, the refusal of a recording
#include "workflow/FrontEnd.h"

namespace quorvane {

// What a command did: done, or refused with the message to show.
struct StepResult {
    bool done = false;
    std::string message;  // empty when there is nothing to show
    // What failed beneath a refusal: the file and the system's (or a lower layer's) reason.
    // The front ends show it with the message, worded by CauseText.
    std::optional<Failure> cause;

    [[nodiscard]] static StepResult Done() {
        StepResult result;
        result.done = true;
        return result;
    }
    [[nodiscard]] static StepResult Refused(std::string message,
                                            std::optional<Failure> cause = std::nullopt) {
        StepResult result;
        result.message = std::move(message);
        result.cause = std::move(cause);
        return result;
    }
};

struct TrainResult : StepResult {
    float threshold = 0.0f;
    std::string statusText;  // "Threshold: " + the threshold in general notation
};

// Trains `codebook` on a recording as "Add phrase", "Verify" and voice decoding do (11025 Hz,
// at most 64 codewords; progress on the front end's bar, notices through it). False when
// the recording gives too few feature vectors.
[[nodiscard]] bool TrainRecording(VoiceCodebook& codebook, std::span<const std::int16_t> recording,
                                  FrontEnd& front);

// A fresh recording judged against three voice models and their threshold.
struct VerifyResult : StepResult {  // done: the recording was judged
    bool accepted = false;
    float distance = 0.0f;  // the smallest codebook distance
    float threshold = 0.0f;
    std::string verdictText;  // "Your result: Positive" or "Your result: Negative"
    std::string statusText;   // "Threshold: T  Distance:D", fixed notation
};

// The one verification of the program, as "Verify", the verify command and decoding by voice
// make it: trains a temporary codebook on the recording (progress on the front end's bar,
// lower-layer notices through it) and verifies it against `models`; a recording with too few
// feature vectors is refused with kTooFewVectorsText.
[[nodiscard]] VerifyResult VerifyRecording(std::span<const VoiceCodebook, 3> models,
                                           float threshold, std::span<const std::int16_t> recording,
                                           FrontEnd& front);

class Enrolment final {
public:
    // Samples a recording holds: 30 seconds at 11025 Hz.
    static constexpr std::int32_t kRecordingCapacity = 330750;

    Enrolment();

    // ---- The current recording ----
    // Runs the level checks on the captured samples (dropped start included). A recording
    // that stands replaces the current one and may be added as a phrase again; a refused
    // one leaves no recording. The front end shows kSoundNotRecordedText or the warnings
    // of the returned result.
    LevelCheckResult TakeRecording(std::span<const std::int16_t> captured);
    // No usable recording any more (a new choice of files to decode needs a new one).
    void DropRecording() { recordedCount_ = 0; }
    // Frees the sample memory (the window's close).
    void Release();
    [[nodiscard]] std::int32_t RecordedCount() const { return recordedCount_; }
    [[nodiscard]] const std::vector<std::int16_t>& RecordedSamples() const { return samples_; }
    [[nodiscard]] std::span<const std::int16_t> Recording() const;
    // The current recording was added as a phrase already.
    [[nodiscard]] bool PhraseAdded() const { return phraseAdded_; }

    // ---- Phrases and threshold ----
    [[nodiscard]] const std::array<VoiceCodebook, 3>& PhraseCodebooks() const { return phrases_; }
    [[nodiscard]] float Threshold() const { return threshold_; }
    // Direct access for tools and tests that prepare an enrolment.
    [[nodiscard]] std::array<VoiceCodebook, 3>& MutablePhraseCodebooks() { return phrases_; }
    void SetThreshold(float threshold) { threshold_ = threshold; }

    // "Add phrase": trains slot 0, 1 or 2 on the current recording. A failed training
    // leaves the slot untrained.
    StepResult AddPhrase(int slot, FrontEnd& front);
    // "Train system...": refuses while a slot is untrained (naming the first), then asks
    // the security level and takes the threshold of that level.
    TrainResult Train(FrontEnd& front);
    // "Verify": the current recording against the three phrases and the threshold.
    // Changes nothing.
    [[nodiscard]] VerifyResult Verify(FrontEnd& front) const;

private:
    std::vector<std::int16_t> samples_;
    std::int32_t recordedCount_ = 0;
    bool phraseAdded_ = false;
    std::array<VoiceCodebook, 3> phrases_;
    float threshold_;
};

}  // namespace quorvane
