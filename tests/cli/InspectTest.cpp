#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <bit>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "analysis/LevelCheck.h"
#include "analysis/VoiceCodebook.h"
#include "cli/SoundFile.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "speaker/Training.h"
#include "tests/cli/RunCli.h"
#include "tests/speaker/SpokenPhrase.h"

namespace quorvane {
namespace {

using testing::ScratchFolder;

using testing::CliRun;
using testing::RunCli;

std::size_t Lines(const std::string& text) {
    std::size_t count = 0;
    for (const char c : text) {
        count += c == '\n' ? 1 : 0;
    }
    return count;
}

// A spoken phrase brought to a healthy level, as 16-bit mono 11025 Hz and as
// 44.1 kHz stereo.
class SpokenFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testing::EspeakAvailable()) {
            GTEST_SKIP() << "espeak-ng is not installed: no spoken phrases to inspect";
        }
        const std::filesystem::path spoken = folder.Path() / "spoken.wav";
        ASSERT_TRUE(testing::SpeakToWav(
            "en", "Seven slender swans swam swiftly across the silver lake at dawn", spoken));
        ASSERT_TRUE(testing::ConvertWithSox(spoken, "-r 11025 -c 1 -b 16", phrase, "gain -n -3"));
        ASSERT_TRUE(testing::ConvertWithSox(phrase, "-r 44100 -c 2 -b 16", stereo));
        const std::filesystem::path other = folder.Path() / "other.wav";
        ASSERT_TRUE(testing::SpeakToWav(
            "en+f3", "Bright yellow leaves were falling from the old oak tree", other));
        ASSERT_TRUE(testing::ConvertWithSox(other, "-r 11025 -c 1 -b 16", second, "gain -n -3"));
    }

    ScratchFolder folder;
    std::filesystem::path phrase = folder.Path() / "phrase.wav";
    std::filesystem::path stereo = folder.Path() / "phrase-44k-stereo.wav";
    std::filesystem::path second = folder.Path() / "second.wav";
};

TEST_F(SpokenFiles, InspectShowsEveryStage) {
    // A name with a terminal's escape sequence in it is shown escaped, never sent raw.
    const std::filesystem::path named = folder.Path() / "\x1b[2Jphrase.wav";
    std::filesystem::copy_file(phrase, named);
    const CliRun run = RunCli(folder.Path(), "inspect " + testing::Quoted(named));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(run.err.empty()) << run.err;
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("level check: accepted"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("frameLength: 275\n"), std::string::npos);
    EXPECT_NE(run.out.find("frameCount: "), std::string::npos);
    EXPECT_NE(run.out.find("active frames ("), std::string::npos);
    EXPECT_NE(run.out.find("unstable frames ("), std::string::npos);
    EXPECT_NE(run.out.find("training: codewordCount 64\n"), std::string::npos);
    EXPECT_NE(run.out.find("codeword 63: memberCount "), std::string::npos);
}

TEST_F(SpokenFiles, InspectJsonMatchesTrainingInProcessBitForBit) {
    const CliRun run = RunCli(folder.Path(), "inspect --json " + testing::Quoted(phrase));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json report = nlohmann::json::parse(run.out);

    // The same file trained here, through TrainCodebook, on the range the
    // level checks accept.
    const Result<std::vector<std::int16_t>> read = ReadSoundFile(phrase);
    ASSERT_TRUE(read) << SoundFileProblemText(read.error());
    const std::vector<std::int16_t>& samples = *read;
    const LevelCheckResult level = CheckRecordingLevel(samples);
    ASSERT_TRUE(level.accepted);
    const auto recording = std::span<const std::int16_t>(samples).subspan(
        static_cast<std::size_t>(level.first), static_cast<std::size_t>(level.count));
    VoiceCodebook book;
    NullProgress progress;
    SilentNotifier notifier;
    ASSERT_TRUE(TrainCodebook(book, recording, level.count, kSampleRate, kMaxCodewords, progress,
                              notifier));

    EXPECT_EQ(report.at("sampleCount").get<std::size_t>(), samples.size());
    EXPECT_EQ(report.at("levelCheck").at("accepted").get<bool>(), true);
    EXPECT_EQ(report.at("levelCheck").at("first").get<int>(), level.first);
    EXPECT_EQ(report.at("frameLength").get<int>(), 275);
    EXPECT_EQ(report.at("frameCount").get<int>(), book.frameCount);
    const int vectorCount = report.at("vectorCount").get<int>();
    EXPECT_EQ(vectorCount, book.vectorCount);
    EXPECT_EQ(report.at("vectors").size(), static_cast<std::size_t>(vectorCount));
    EXPECT_EQ(report.at("activeFrames").size() - report.at("unstableFrames").size(),
              static_cast<std::size_t>(vectorCount));
    // Active frames in increasing order; the first ten frames are never active.
    const std::vector<int> active = report.at("activeFrames").get<std::vector<int>>();
    ASSERT_FALSE(active.empty());
    EXPECT_GE(active.front(), 10);
    EXPECT_TRUE(std::is_sorted(active.begin(), active.end()));

    ASSERT_EQ(report.at("codewordCount").get<int>(), book.codewordCount);
    const nlohmann::json& codewords = report.at("codewords");
    ASSERT_EQ(codewords.size(), static_cast<std::size_t>(book.codewordCount));
    for (std::size_t k = 0; k < codewords.size(); ++k) {
        const Codeword& expected = (*book.codewords)[k];
        EXPECT_EQ(codewords[k].at("memberCount").get<int>(), expected.memberCount);
        // Nine significant digits read back as the very same float32.
        EXPECT_EQ(std::bit_cast<std::uint32_t>(codewords[k].at("distortion").get<float>()),
                  std::bit_cast<std::uint32_t>(expected.distortion));
        const std::vector<float> values = codewords[k].at("values").get<std::vector<float>>();
        ASSERT_EQ(values.size(), expected.values.size());
        for (std::size_t j = 0; j < values.size(); ++j) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(values[j]),
                      std::bit_cast<std::uint32_t>(expected.values[j]))
                << "codeword " << k << " value " << j;
        }
    }
}

TEST_F(SpokenFiles, InspectReadsA44kStereoFile) {
    const CliRun mono = RunCli(folder.Path(), "inspect --json " + testing::Quoted(phrase));
    const CliRun run = RunCli(folder.Path(), "inspect --json " + testing::Quoted(stereo));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const nlohmann::json fromStereo = nlohmann::json::parse(run.out);
    const nlohmann::json fromMono = nlohmann::json::parse(mono.out);
    // Down to the same rate again: the same length within a few samples.
    EXPECT_NEAR(fromStereo.at("sampleCount").get<double>(),
                fromMono.at("sampleCount").get<double>(), 4.0);
    EXPECT_TRUE(fromStereo.at("trained").get<bool>());
    EXPECT_EQ(fromStereo.at("codewordCount").get<int>(), 64);
}

TEST_F(SpokenFiles, QuietRecordingIsExplainedNotRefused) {
    const std::filesystem::path quiet = folder.Path() / "quiet.wav";
    ASSERT_TRUE(testing::ConvertWithSox(phrase, "", quiet, "vol 0.05"));
    const CliRun run = RunCli(folder.Path(), "inspect " + testing::Quoted(quiet));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(
        run.out.find("level check: refused: Signal level is too low, please repeat recording"),
        std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("vectorCount: "), std::string::npos);
}

TEST_F(SpokenFiles, DistanceOfAFileToItselfIsZeroAndSymmetric) {
    const CliRun self = RunCli(
        folder.Path(), "distance " + testing::Quoted(phrase) + " " + testing::Quoted(phrase));
    ASSERT_EQ(self.exitCode, 0) << self.err;
    EXPECT_EQ(self.out, "0\n");
    const CliRun ab = RunCli(folder.Path(),
                             "distance " + testing::Quoted(phrase) + " " + testing::Quoted(second));
    const CliRun ba = RunCli(folder.Path(),
                             "distance " + testing::Quoted(second) + " " + testing::Quoted(phrase));
    ASSERT_EQ(ab.exitCode, 0) << ab.err;
    EXPECT_GT(std::stof(ab.out), 0.0f);
    EXPECT_EQ(ab.out, ba.out);
}

TEST(CliErrors, UnreadableFilesGiveOneLineNamingTheFile) {
    const ScratchFolder folder;
    const std::filesystem::path text = folder.Path() / "letter.txt";
    std::ofstream(text) << "Dear reader, this is no sound.\n";
    const std::filesystem::path missing = folder.Path() / "missing.wav";
    for (const std::filesystem::path& bad : {text, missing}) {
        for (const std::string& command :
             {std::string("inspect "), std::string("inspect --json ")}) {
            const CliRun run = RunCli(folder.Path(), command + testing::Quoted(bad));
            EXPECT_NE(run.exitCode, 0) << command << bad;
            EXPECT_TRUE(run.out.empty()) << run.out;
            EXPECT_EQ(Lines(run.err), 1u) << run.err;
            EXPECT_NE(run.err.find(bad.string()), std::string::npos) << run.err;
        }
        const CliRun distance =
            RunCli(folder.Path(), "distance " + testing::Quoted(bad) + " " + testing::Quoted(bad));
        EXPECT_NE(distance.exitCode, 0);
        EXPECT_TRUE(distance.out.empty());
        EXPECT_EQ(Lines(distance.err), 1u) << distance.err;
        EXPECT_NE(distance.err.find(bad.string()), std::string::npos) << distance.err;
    }
    // A line end in a file's name is shown escaped: the error stays one line.
    const std::filesystem::path broken = folder.Path() / "new\nline.wav";
    for (const std::string& command :
         {std::string("inspect ") + testing::Quoted(broken),
          "distance " + testing::Quoted(broken) + " " + testing::Quoted(broken)}) {
        const CliRun run = RunCli(folder.Path(), command);
        EXPECT_NE(run.exitCode, 0) << command;
        EXPECT_EQ(Lines(run.err), 1u) << run.err;
        EXPECT_NE(run.err.find("new\\x0Aline.wav"), std::string::npos) << run.err;
    }
}

TEST(CliErrors, TooShortRecordingCannotBeComparedButCanBeInspected) {
    const ScratchFolder folder;
    const std::filesystem::path silence = folder.Path() / "silence.wav";
    ASSERT_EQ(std::system(("sox -n -r 11025 -c 1 -b 16 " + testing::Quoted(silence) +
                           " trim 0 2 > /dev/null 2>&1")
                              .c_str()),
              0);
    const CliRun inspect = RunCli(folder.Path(), "inspect " + testing::Quoted(silence));
    EXPECT_EQ(inspect.exitCode, 0) << inspect.err;
    EXPECT_NE(inspect.out.find("training: refused: Too little feature vectors, please repeat "
                               "recording"),
              std::string::npos)
        << inspect.out;
    const CliRun distance = RunCli(
        folder.Path(), "distance " + testing::Quoted(silence) + " " + testing::Quoted(silence));
    EXPECT_EQ(distance.exitCode, 2);
    EXPECT_TRUE(distance.out.empty());
    EXPECT_NE(distance.err.find(silence.string() + ": Too little feature vectors"),
              std::string::npos)
        << distance.err;
}

}  // namespace
}  // namespace quorvane
