#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "analysis/AnalysisFrame.h"
#include "analysis/FeatureStage.h"
#include "analysis/FrameSelection.h"
#include "analysis/RecordingAnalysis.h"
#include "analysis/VoiceCodebook.h"
#include "tests/analysis/ReferenceAnalysis.h"
#include "tests/analysis/SyntheticVoice.h"

namespace quorvane {
namespace {

VoiceCodebook Analyse(const std::vector<std::int16_t>& samples, std::int32_t threads,
                      RecordingNotifier& notifier) {
    VoiceCodebook codebook;
    codebook.sampleCount = static_cast<std::int32_t>(samples.size());
    codebook.sampleRate = kSampleRate;
    AnalyseRecording(codebook, samples, notifier, threads);
    return codebook;
}

// Same count and the same bits in every value of every valid vector.
void ExpectBitIdentical(const VoiceCodebook& a, const VoiceCodebook& b) {
    ASSERT_EQ(a.frameCount, b.frameCount);
    ASSERT_EQ(a.vectorCount, b.vectorCount);
    ASSERT_TRUE(a.vectors && b.vectors);
    ASSERT_EQ(a.vectors->size(), b.vectors->size());
    for (std::size_t i = 0; i < a.vectors->size(); ++i) {
        const std::vector<float>& u = (*a.vectors)[i].values;
        const std::vector<float>& v = (*b.vectors)[i].values;
        ASSERT_EQ(u.size(), v.size());
        EXPECT_EQ(std::memcmp(u.data(), v.data(), u.size() * sizeof(float)), 0) << "vector " << i;
    }
}

TEST(AnalyseRecordingTest, AgreesWithAnIndependentDoublePrecisionAnalysis) {
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(3 * kSampleRate, 7);
    const testing::ReferenceResult reference = testing::ReferenceAnalysis(samples);

    // The frame selection alone: the same frames survive both gates, with the
    // same band energies to within float32 rounding.
    std::vector<float> x(samples.size());
    ConvertSamples(samples, x);
    PreEmphasise(x, 0.97f);
    VoiceCodebook codebook;
    codebook.frameLength = 275;
    codebook.frameCount = FrameCountOf(static_cast<std::int32_t>(x.size()), 275, 137);
    ASSERT_EQ(codebook.frameCount, reference.frameCount);
    std::vector<AnalysisFrame> frames = CutFrames(x, 275, 137, codebook.frameCount);
    SelectFrames(codebook, frames);
    std::vector<std::int32_t> active;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].active == 1) {
            active.push_back(static_cast<std::int32_t>(i));
            const std::vector<double>& expected = reference.bandEnergies[i];
            ASSERT_EQ(expected.size(), 23u);
            for (std::size_t g = 0; g < 23; ++g) {
                EXPECT_NEAR(frames[i].bandEnergy[g], expected[g], 1e-4 * expected[g] + 1e-3)
                    << "frame " << i << " band " << g;
            }
        }
    }
    EXPECT_EQ(active, reference.activeFrames);
    ASSERT_GT(active.size(), 100u);

    // The whole analysis: the same frames and vectors in the same order.
    RecordingNotifier notifier;
    VoiceCodebook analysed;
    analysed.sampleCount = static_cast<std::int32_t>(samples.size());
    analysed.sampleRate = kSampleRate;
    AnalysisReport report;
    report.unstableFrames = {99};  // stale content the analysis must clear
    AnalyseRecording(analysed, samples, notifier, 2, report);
    EXPECT_EQ(report.activeFrames, reference.activeFrames);
    EXPECT_TRUE(report.unstableFrames.empty());
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_EQ(analysed.frameLength, 275);
    EXPECT_EQ(analysed.frameCount, reference.frameCount);
    ASSERT_EQ(analysed.vectorCount, static_cast<std::int32_t>(reference.vectors.size()));
    double worst = 0;
    for (std::size_t i = 0; i < reference.vectors.size(); ++i) {
        const std::vector<float>& values = (*analysed.vectors)[i].values;
        ASSERT_EQ(values.size(), 22u);
        for (std::size_t j = 0; j < 22; ++j) {
            worst = std::max(worst, std::fabs(values[j] - reference.vectors[i][j]));
        }
    }
    // Order-14 models in float32 against double: agreement well within 1e-3.
    EXPECT_LT(worst, 1e-3);
}

TEST(AnalyseRecordingTest, TheSameSamplesGiveTheSameBits) {
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(2 * kSampleRate, 3);
    RecordingNotifier first;
    RecordingNotifier second;
    const VoiceCodebook a = Analyse(samples, 1, first);
    const VoiceCodebook b = Analyse(samples, 1, second);
    ASSERT_GT(a.vectorCount, 0);
    ExpectBitIdentical(a, b);
}

TEST(AnalyseRecordingTest, ThreadsChangeNoBit) {
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(8 * kSampleRate, 11);
    RecordingNotifier serialNotices;
    const VoiceCodebook serial = Analyse(samples, 1, serialNotices);
    ASSERT_GT(serial.vectorCount, 300);
    for (const std::int32_t threads : {2, 3, 8}) {
        RecordingNotifier notices;
        const VoiceCodebook parallel = Analyse(samples, threads, notices);
        ExpectBitIdentical(serial, parallel);
        EXPECT_EQ(notices.Texts(), serialNotices.Texts());
    }
    // The default entry point uses the hardware's threads: still the same bits.
    VoiceCodebook byDefault;
    byDefault.sampleCount = static_cast<std::int32_t>(samples.size());
    byDefault.sampleRate = kSampleRate;
    SilentNotifier silent;
    AnalyseRecording(byDefault, samples, silent);
    ExpectBitIdentical(serial, byDefault);
}

TEST(AnalyseRecordingTest, ReanalysisReplacesTheVectorsAndLeavesTheCodebook) {
    VoiceCodebook codebook;
    codebook.codewords.emplace(1);
    (*codebook.codewords)[0].values = {4.0f};
    codebook.vectors.emplace(500);
    codebook.vectorCount = 500;
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(2 * kSampleRate, 5);
    codebook.sampleCount = static_cast<std::int32_t>(samples.size());
    codebook.sampleRate = kSampleRate;
    SilentNotifier notifier;
    AnalyseRecording(codebook, samples, notifier);
    ASSERT_TRUE(codebook.vectors.has_value());
    EXPECT_EQ(codebook.vectors->size(), static_cast<std::size_t>(codebook.vectorCount));
    EXPECT_LT(codebook.vectorCount, 500);
    ASSERT_TRUE(codebook.codewords.has_value());
    EXPECT_EQ((*codebook.codewords)[0].values, std::vector<float>{4.0f});
    for (const Codeword& vector : *codebook.vectors) {
        EXPECT_EQ(vector.values.size(), 22u);
        EXPECT_EQ(vector.label, 0);
        EXPECT_EQ(vector.memberCount, 0);
    }
}

TEST(AnalyseRecordingTest, SilenceAndHumGiveNoVectors) {
    // Nothing passes the amplitude gate: 100 after pre-emphasis is 3.
    const std::vector<std::int16_t> hum(3 * kSampleRate, 100);
    RecordingNotifier notifier;
    const VoiceCodebook codebook = Analyse(hum, 2, notifier);
    EXPECT_EQ(codebook.frameCount, (3 * kSampleRate - 275) / 137);
    EXPECT_EQ(codebook.vectorCount, 0);
    EXPECT_TRUE(codebook.vectors->empty());
    EXPECT_TRUE(notifier.entries.empty());
}

TEST(AnalyseRecordingTest, ReadsOnlyTheSamplesGiven) {
    // A sample count beyond the buffer is limited to the buffer.
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(kSampleRate, 2);
    VoiceCodebook codebook;
    codebook.sampleCount = 10 * kSampleRate;
    codebook.sampleRate = kSampleRate;
    SilentNotifier notifier;
    AnalyseRecording(codebook, samples, notifier, 1);
    EXPECT_EQ(codebook.frameCount, (kSampleRate - 275) / 137);
}

// Frames 0 .. 59, active from 10 on; the models of frames 12 and 40 unstable.
TEST(FeatureStageTest, UnstableFramesAreReportedInOrderAndLeaveNoGap) {
    VoiceCodebook codebook;
    std::vector<AnalysisFrame> frames(60);
    FrameFeatures features;
    features.dimension = 22;
    features.values.assign(60 * 22, 0.0f);
    features.stable.assign(60, 0);
    for (std::size_t f = 10; f < 60; ++f) {
        frames[f].active = 1;
        features.stable[f] = (f == 12 || f == 40) ? 0 : 1;
        for (std::size_t j = 0; j < 22; ++j) {
            features.values[f * 22 + j] = static_cast<float>(f) + 0.01f * static_cast<float>(j);
        }
    }
    codebook.vectorCount = CountActiveFrames(frames);
    ASSERT_EQ(codebook.vectorCount, 50);
    codebook.vectors.emplace();
    ASSERT_EQ(InitCodewordArray(codebook, *codebook.vectors, 50), 50);
    RecordingNotifier notifier;
    const std::vector<std::int32_t> unstable = CommitFeatures(codebook, frames, features, notifier);
    EXPECT_EQ(unstable, (std::vector<std::int32_t>{12, 40}));
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"Unstable LPC system in the 12 frame",
                                                          "Unstable LPC system in the 40 frame"}));
    EXPECT_FALSE(notifier.entries[0].warning);
    EXPECT_EQ(codebook.vectorCount, 48);
    // Entries follow the stable frames in order: 10, 11, 13, ..., 39, 41, ..., 59.
    std::vector<float> firstValues;
    for (std::int32_t i = 0; i < codebook.vectorCount; ++i) {
        firstValues.push_back((*codebook.vectors)[static_cast<std::size_t>(i)].values[0]);
    }
    std::vector<float> expected;
    for (int f = 10; f < 60; ++f) {
        if (f != 12 && f != 40) {
            expected.push_back(static_cast<float>(f));
        }
    }
    EXPECT_EQ(firstValues, expected);
    EXPECT_EQ((*codebook.vectors)[2].values[21], 13.0f + 0.01f * 21.0f);
    // The two spare entries stay zero vectors.
    EXPECT_EQ((*codebook.vectors)[48].values, std::vector<float>(22, 0.0f));
    EXPECT_EQ((*codebook.vectors)[49].values, std::vector<float>(22, 0.0f));
}

TEST(FeatureStageTest, AllUnstableLeavesNoVector) {
    VoiceCodebook codebook;
    std::vector<AnalysisFrame> frames(15);
    for (std::size_t f = 10; f < 15; ++f) {
        frames[f].active = 1;
    }
    FrameFeatures features;
    features.dimension = 22;
    features.values.assign(15 * 22, 1.0f);
    features.stable.assign(15, 0);
    codebook.vectorCount = 5;
    codebook.vectors.emplace();
    ASSERT_EQ(InitCodewordArray(codebook, *codebook.vectors, 5), 5);
    RecordingNotifier notifier;
    EXPECT_EQ(CommitFeatures(codebook, frames, features, notifier),
              (std::vector<std::int32_t>{10, 11, 12, 13, 14}));
    EXPECT_EQ(codebook.vectorCount, 0);
    EXPECT_EQ(notifier.entries.size(), 5u);
    EXPECT_EQ(notifier.entries.front().text, "Unstable LPC system in the 10 frame");
}

TEST(FeatureStageTest, ComputesOnlyActiveFrames) {
    const std::vector<std::int16_t> samples = testing::SyntheticVoice(kSampleRate, 4);
    std::vector<float> x(samples.size());
    ConvertSamples(samples, x);
    PreEmphasise(x, 0.97f);
    VoiceCodebook codebook;
    codebook.frameLength = 275;
    codebook.frameCount = FrameCountOf(static_cast<std::int32_t>(x.size()), 275, 137);
    std::vector<AnalysisFrame> frames = CutFrames(x, 275, 137, codebook.frameCount);
    SelectFrames(codebook, frames);
    const FrameFeatures serial = ComputeFrameFeatures(codebook, frames, 1);
    const FrameFeatures parallel = ComputeFrameFeatures(codebook, frames, 2);
    EXPECT_EQ(serial.values, parallel.values);
    EXPECT_EQ(serial.stable, parallel.stable);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        EXPECT_EQ(serial.stable[f], frames[f].active) << f;
    }
}

// Reads the samples of a 16-bit mono WAV file chunk by chunk.
bool ReadWav16(const std::filesystem::path& path, std::vector<std::int16_t>& samples) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return false;
    }
    auto read32 = [&bytes](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::uint32_t size = read32(at + 4);
        if (std::memcmp(bytes.data() + at, "data", 4) == 0) {
            const std::size_t count = std::min<std::size_t>(size, bytes.size() - at - 8) / 2;
            samples.resize(count);
            for (std::size_t i = 0; i < count; ++i) {
                const auto lo = static_cast<unsigned char>(bytes[at + 8 + 2 * i]);
                const auto hi = static_cast<unsigned char>(bytes[at + 9 + 2 * i]);
                samples[i] = static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | hi << 8));
            }
            return true;
        }
        at += 8 + size + (size & 1);
    }
    return false;
}

TEST(AnalyseRecordingTest, ARealVoicePhraseGivesEnoughVectors) {
#ifdef _WIN32
    const char* const probe = "espeak-ng --version > NUL 2>&1";
#else
    const char* const probe = "espeak-ng --version > /dev/null 2>&1";
#endif
    if (std::system(probe) != 0) {
        GTEST_SKIP() << "espeak-ng is not installed; the spoken phrase cannot be made";
    }
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() /
        ("quorvane-analysis-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir);
    const std::filesystem::path spoken = dir / "spoken.wav";
    const std::filesystem::path phrase = dir / "phrase.wav";
    const std::string make = "espeak-ng -w \"" + spoken.string() +
                             "\" \"My voice is my password, please open the files\" && sox \"" +
                             spoken.string() + "\" -r 11025 -c 1 -b 16 \"" + phrase.string() + "\"";
    const int status = std::system(make.c_str());
    std::vector<std::int16_t> samples;
    const bool read = status == 0 && ReadWav16(phrase, samples);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    ASSERT_EQ(status, 0) << "could not make the phrase with espeak-ng and sox: " << make;
    ASSERT_TRUE(read);
    ASSERT_GT(samples.size(), 15345u);  // at least 1.4 s of speech

    RecordingNotifier notifier;
    const VoiceCodebook codebook = Analyse(samples, 2, notifier);
    EXPECT_GT(codebook.vectorCount, kMinFeatureVectors);
    EXPECT_LE(codebook.vectorCount, codebook.frameCount - 10);
    // Real speech gives varied, finite coefficients.
    const std::vector<float>& first = (*codebook.vectors)[0].values;
    const std::vector<float>& last =
        (*codebook.vectors)[static_cast<std::size_t>(codebook.vectorCount - 1)].values;
    EXPECT_GT(FeatureDistance(22, first.data(), last.data()), 0.0f);
    // Real speech too comes out the same on one thread as on two.
    RecordingNotifier serialNotices;
    ExpectBitIdentical(codebook, Analyse(samples, 1, serialNotices));
    EXPECT_EQ(serialNotices.Texts(), notifier.Texts());
    for (std::int32_t i = 0; i < codebook.vectorCount; ++i) {
        for (const float v : (*codebook.vectors)[static_cast<std::size_t>(i)].values) {
            ASSERT_TRUE(std::isfinite(v));
        }
    }
}

}  // namespace
}  // namespace quorvane
