#include "workflow/Enrolment.h"

#include <algorithm>

#include "workflow/Figures.h"
#include "workflow/Messages.h"

namespace quorvane {

bool TrainRecording(VoiceCodebook& codebook, std::span<const std::int16_t> recording,
                    FrontEnd& front) {
    return TrainCodebook(codebook, recording, static_cast<std::int32_t>(recording.size()),
                         kSampleRate, kMaxCodewords, front.Bar(), front);
}

VerifyResult VerifyRecording(std::span<const VoiceCodebook, 3> models, float threshold,
                             std::span<const std::int16_t> recording, FrontEnd& front) {
    VerifyResult result;
    result.threshold = threshold;
    VoiceCodebook test;
    if (!TrainRecording(test, recording, front)) {
        result.message = kTooFewVectorsText;
        return result;
    }
    result.done = true;
    result.accepted = VerifySpeaker(models, test, threshold, result.distance);
    result.verdictText = result.accepted ? kVerifyPositiveText : kVerifyNegativeText;
    result.statusText = std::string(kThresholdStatusPrefix) + FixedText(threshold) +
                        std::string(kDistanceStatusInfix) + FixedText(result.distance);
    return result;
}

Enrolment::Enrolment()
    : samples_(static_cast<std::size_t>(kRecordingCapacity), 0), threshold_(kUntrainedThreshold) {}

LevelCheckResult Enrolment::TakeRecording(std::span<const std::int16_t> captured) {
    const LevelCheckResult check = CheckRecordingLevel(captured);
    recordedCount_ = 0;
    if (!check.recorded || samples_.empty()) {
        return check;
    }
    // The recording without its dropped start, at most kRecordingCapacity samples of it.
    const auto count =
        std::min<std::size_t>(static_cast<std::size_t>(check.count), samples_.size());
    const auto kept = captured.subspan(static_cast<std::size_t>(check.first), count);
    std::copy(kept.begin(), kept.end(), samples_.begin());
    if (check.accepted) {
        recordedCount_ = static_cast<std::int32_t>(count);
        phraseAdded_ = false;
    }
    return check;
}

void Enrolment::Release() {
    samples_.clear();
    samples_.shrink_to_fit();
    recordedCount_ = 0;
}

std::span<const std::int16_t> Enrolment::Recording() const {
    return std::span<const std::int16_t>(samples_).first(static_cast<std::size_t>(recordedCount_));
}

StepResult Enrolment::AddPhrase(int slot, FrontEnd& front) {
    if (recordedCount_ == 0) {
        return StepResult::Refused(std::string(kRecordPhraseFirstMessage));
    }
    if (phraseAdded_) {
        return StepResult::Refused(std::string(kPhraseAlreadyAddedMessage));
    }
    VoiceCodebook& phrase = phrases_[static_cast<std::size_t>(std::clamp(slot, 0, 2))];
    if (!TrainRecording(phrase, Recording(), front)) {
        return StepResult::Refused(std::string(kTooFewVectorsText));
    }
    phraseAdded_ = true;
    return StepResult::Done();
}

TrainResult Enrolment::Train(FrontEnd& front) {
    TrainResult result;
    for (int slot = 0; slot < 3; ++slot) {
        if (!phrases_[static_cast<std::size_t>(slot)].Trained()) {
            result.message = AddPhraseFirstMessage(slot + 1);
            return result;
        }
    }
    const int level = front.ChooseSecurityLevel();
    threshold_ = ComputeThreshold(phrases_, level);
    result.done = true;
    result.threshold = threshold_;
    result.statusText = std::string(kThresholdStatusPrefix) + GeneralText(threshold_);
    return result;
}

VerifyResult Enrolment::Verify(FrontEnd& front) const {
    VerifyResult result;
    if (!(threshold_ > 0.0f)) {
        result.message = kVerifyTrainingFirstMessage;
        return result;
    }
    if (recordedCount_ == 0) {
        result.message = kRecordForRecognitionMessage;
        return result;
    }
    return VerifyRecording(phrases_, threshold_, Recording(), front);
}

}  // namespace quorvane
