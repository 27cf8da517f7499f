// Enrolment from spoken phrases (refusals out of order, phrases, threshold by level,
// verification) and the voice path of decoding, KeyFromVoice.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "speaker/UserKey.h"
#include "tests/speaker/SpokenPhrase.h"
#include "tests/support/ScriptedDecodeSteps.h"
#include "tests/support/ScriptedFrontEnd.h"
#include "tests/support/TestFiles.h"
#include "tests/workflow/Fixtures.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Enrolment.h"
#include "workflow/Figures.h"
#include "workflow/Messages.h"

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedFrontEnd;

// A phrase spoken by espeak-ng, compressed as a close microphone would record it (raw
// espeak has peaks the level checks refuse), as 16-bit mono at 11025 Hz.
std::vector<std::int16_t> Speak(const std::string& text) {
    const testing::ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "spoken.wav";
    const std::filesystem::path raw = folder.Path() / "spoken.raw";
    if (!testing::SpeakToWav("en -s 140", text, wav) ||
        !testing::ConvertWithSox(wav, "-r 11025 -c 1 -b 16 -e signed-integer -L -t raw", raw,
                                 "gain -n -10 compand 0.02,0.20 -60,-60,-30,-15,-20,-10,0,-3 "
                                 "gain -n -1")) {
        return {};
    }
    const std::string bytes = testing::ReadText(raw);
    std::vector<std::int16_t> samples;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto lo = static_cast<std::uint8_t>(bytes[i]);
        const auto hi = static_cast<std::uint8_t>(bytes[i + 1]);
        samples.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8))));
    }
    return samples;
}

// Three phrases and a fourth for verification, spoken once for all tests.
const std::vector<std::vector<std::int16_t>>& Spoken() {
    static const std::vector<std::vector<std::int16_t>> phrases = [] {
        std::vector<std::vector<std::int16_t>> spoken;
        for (const char* text : {"My voice is my key, open the files for me.",
                                 "Seven green lanterns shine above the quiet harbour.",
                                 "Please remember the number forty two and the colour blue.",
                                 "The quick brown fox jumps over the lazy dog"}) {
            spoken.push_back(Speak(text));
            if (spoken.back().empty()) {
                return std::vector<std::vector<std::int16_t>>{};
            }
        }
        return spoken;
    }();
    return phrases;
}

class SpokenEnrolment : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::EspeakAvailable()) {
            GTEST_SKIP() << "espeak-ng is not installed: no phrases to enrol";
        }
        ASSERT_EQ(Spoken().size(), 4u) << "espeak-ng or sox failed";
    }
    // An enrolment of the three phrases, trained at `level`.
    Enrolment Enrolled(int level) {
        Enrolment enrolment;
        front_.level = level;
        for (int slot = 0; slot < 3; ++slot) {
            EXPECT_TRUE(enrolment.TakeRecording(Spoken()[static_cast<std::size_t>(slot)]).accepted)
                << slot;
            EXPECT_TRUE(enrolment.AddPhrase(slot, front_).done) << slot;
        }
        const TrainResult trained = enrolment.Train(front_);
        EXPECT_TRUE(trained.done);
        EXPECT_EQ(trained.statusText,
                  std::string(kThresholdStatusPrefix) + GeneralText(trained.threshold));
        return enrolment;
    }
    ScriptedFrontEnd front_;
};

TEST_F(SpokenEnrolment, StepsOutOfOrderAreRefused) {
    Enrolment enrolment;
    EXPECT_EQ(enrolment.AddPhrase(0, front_).message, kRecordPhraseFirstMessage);
    EXPECT_EQ(enrolment.Verify(front_).message, kVerifyTrainingFirstMessage);
    ASSERT_TRUE(enrolment.TakeRecording(Spoken()[0]).accepted);
    ASSERT_TRUE(enrolment.AddPhrase(0, front_).done);
    EXPECT_EQ(enrolment.AddPhrase(1, front_).message, kPhraseAlreadyAddedMessage);
    EXPECT_EQ(enrolment.Train(front_).message, AddPhraseFirstMessage(2));
    EXPECT_FALSE(enrolment.Threshold() > 0.0f);
}

TEST_F(SpokenEnrolment, StricterLevelsGiveLowerThresholdsAndVerifyingJudgesByThem) {
    const float high = Enrolled(kSecurityHigh).Threshold();
    const float medium = Enrolled(kSecurityMedium).Threshold();
    Enrolment low = Enrolled(kSecurityLow);
    EXPECT_GT(high, 0.0f);
    EXPECT_LE(high, medium);
    EXPECT_LE(medium, low.Threshold());
    ASSERT_TRUE(low.TakeRecording(Spoken()[3]).accepted);
    const VerifyResult verified = low.Verify(front_);
    ASSERT_TRUE(verified.done);
    EXPECT_EQ(verified.accepted, verified.distance <= low.Threshold());
    EXPECT_EQ(verified.verdictText, verified.accepted ? kVerifyPositiveText : kVerifyNegativeText);
    EXPECT_EQ(verified.statusText,
              std::string(kThresholdStatusPrefix) + FixedText(low.Threshold()) +
                  std::string(kDistanceStatusInfix) + FixedText(verified.distance));
}

TEST_F(SpokenEnrolment, TheVoiceGivesTheKeyOnlyWhenAccepted) {
    const Enrolment enrolment = Enrolled(kSecurityLow);
    UserList users;
    AppendUser(users, enrolment.PhraseCodebooks(), "lenient", 1.0e9f);
    AppendUser(users, enrolment.PhraseCodebooks(), "strict", 1.0e-9f);
    const std::vector<std::int16_t>& fourth = Spoken()[3];
    const struct {
        std::string name;
        std::vector<std::int16_t> recording;
        bool trained, accepted;
        std::string message;
    } cases[] = {
        {"lenient", fourth, true, true, ""},
        {"strict", fourth, true, false, ""},
        {"nobody", fourth, false, false, UserNotFoundMessage("nobody")},
        {"lenient", {}, false, false, std::string(kRecordForVerificationMessage)},
    };
    for (const auto& c : cases) {
        const VoiceKeyResult voice = KeyFromVoice(users, c.name, c.recording, front_);
        EXPECT_EQ(voice.verdict.done, c.trained) << c.name;
        EXPECT_EQ(voice.verdict.accepted, c.accepted) << c.name;
        EXPECT_EQ(voice.done, c.accepted) << c.name;
        EXPECT_EQ(voice.message, c.message) << c.name;
        EXPECT_EQ(voice.key, c.accepted ? DeriveUserKey(enrolment.PhraseCodebooks()) : GostKey{})
            << c.name;
        if (c.trained) {
            EXPECT_EQ(voice.verdictText, c.accepted ? kResultPositiveText : kResultNegativeText);
        }
    }
}

// Decoding by voice shows the verdict as soon as the recording is judged, and goes on to the
// files only when it is positive.
TEST_F(SpokenEnrolment, DecodingByVoiceShowsTheVerdictAndGoesOnOnlyWhenAccepted) {
    const Enrolment enrolment = Enrolled(kSecurityLow);
    const testing::ScratchFolder folder;
    const fs::path plain = folder.Path() / "notes.txt";
    testing::WriteText(plain, "plain notes");
    const struct {
        float threshold;
        DecodeEnding ending;
        std::string verdict;
    } cases[] = {{1.0e9f, DecodeEnding::Decoded, std::string(kResultPositiveText)},
                 {1.0e-9f, DecodeEnding::Rejected, std::string(kResultNegativeText)}};
    for (const auto& c : cases) {
        Users users(folder.Path() / "Speakers");
        AppendUser(users.Records(), enrolment.PhraseCodebooks(), "anna", c.threshold);
        ScriptedFrontEnd front;
        const fs::path encoded = EncodedOutputPath({}, plain);
        fs::remove(encoded);
        fs::remove_all(folder.Path() / "out");
        ASSERT_EQ(EncodeFiles(*users.List().Find("anna"), {plain}, {}, false, front)
                      .Count(FileStatus::Done),
                  1);
        DecodeRequest request;
        request.files = {encoded};
        request.recording = Spoken()[3];
        request.outputFolder = folder.Path() / "out";
        request.createOutputFolder = true;
        testing::ScriptedDecodeSteps steps(front);
        const DecodeOutcome outcome = Decode(request, users, front, steps);
        EXPECT_EQ(outcome.ending, c.ending);
        EXPECT_EQ(steps.verdicts, std::vector<std::string>{c.verdict});
        EXPECT_EQ(steps.batchesRun, c.ending == DecodeEnding::Decoded ? 1 : 0);
        EXPECT_EQ(testing::ReadText(folder.Path() / "out" / "notes.txt"),
                  c.ending == DecodeEnding::Decoded ? "plain notes" : "");
    }
}

}  // namespace
}  // namespace quorvane
