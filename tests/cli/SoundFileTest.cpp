#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "cli/RecordingFile.h"
#include "cli/SoundFile.h"
#include "tests/speaker/SpokenPhrase.h"

namespace quorvane {
namespace {

using testing::ScratchFolder;

// Writes interleaved frames with libsndfile in the given format.
template <typename Sample>
void WriteSound(const std::filesystem::path& path, int format, int rate, int channels,
                const std::vector<Sample>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
    const auto frames =
        static_cast<sf_count_t>(interleaved.size() / static_cast<std::size_t>(channels));
    if constexpr (std::is_same_v<Sample, short>) {
        EXPECT_EQ(sf_writef_short(file, interleaved.data(), frames), frames);
    } else {
        EXPECT_EQ(sf_writef_float(file, interleaved.data(), frames), frames);
    }
    sf_close(file);
}

TEST(ReadSoundFile, ProgramFormatPassesThroughSampleForSample) {
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "exact.wav";
    std::vector<short> written;
    for (int i = 0; i < 5000; ++i) {
        written.push_back(static_cast<short>((i * 7919) % 65536 - 32768));
    }
    written[0] = -32768;
    written[1] = 32767;
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 1, written);
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(wav);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    EXPECT_EQ(*samples, std::vector<std::int16_t>(written.begin(), written.end()));
}

TEST(ReadSoundFile, ChannelsAreMixedByTheirMean) {
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "stereo.wav";
    // Left 8192, right 24576: the mean is 16384; left -100, right 101: 0.5 rounds to 1.
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 2,
               std::vector<short>{8192, 24576, -100, 101, -32768, -32768});
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(wav);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    EXPECT_EQ(*samples, (std::vector<std::int16_t>{16384, 1, -32768}));
}

TEST(ReadSoundFile, FloatSamplesAreRoundedAndClipped) {
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "float.wav";
    const float lsb = 1.0f / 32768.0f;
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_FLOAT, 11025, 1,
               std::vector<float>{1.5f, -1.5f, 1.4f * lsb, 1.6f * lsb, -2.6f * lsb, 0.0f});
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(wav);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    EXPECT_EQ(*samples, (std::vector<std::int16_t>{32767, -32768, 1, 2, -3, 0}));
}

TEST(ReadSoundFile, OtherRatesAreConvertedTo11025) {
    // Two seconds of a 441 Hz tone at half scale, 44100 Hz stereo.
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "tone.wav";
    const int rate = 44100;
    const double frequency = 441.0;
    std::vector<short> interleaved;
    for (int n = 0; n < 2 * rate; ++n) {
        const auto value = static_cast<short>(
            std::lround(16384.0 * std::sin(2.0 * std::numbers::pi * frequency * n / rate)));
        interleaved.push_back(value);
        interleaved.push_back(value);
    }
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, 2, interleaved);
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(wav);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    ASSERT_NEAR(static_cast<double>(samples->size()), 2.0 * 11025.0, 2.0);
    // Away from the ends the tone is the same tone at the new rate.
    double worst = 0.0;
    for (std::size_t n = 500; n + 500 < samples->size(); ++n) {
        const double expected = 16384.0 * std::sin(2.0 * std::numbers::pi * frequency *
                                                   static_cast<double>(n) / 11025.0);
        worst = std::max(worst, std::abs((*samples)[n] - expected));
    }
    EXPECT_LT(worst, 8.0);
}

TEST(ReadSoundFile, EmptySoundFileGivesNoSamples) {
    const ScratchFolder folder;
    const std::filesystem::path wav = folder.Path() / "empty.wav";
    WriteSound(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, std::vector<short>{});
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(wav);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    EXPECT_TRUE(samples->empty());
}

// Each refusal of a sound file, or of a recording file with too little in it, has its code and
// is worded as one line that names the file; libsndfile's words and the rate come as detail.
TEST(ReadRecordingFile, FailuresHaveTheirCodeAndNameTheFile) {
    const ScratchFolder folder;
    const std::filesystem::path text = folder.Path() / "notes.txt";
    std::ofstream(text) << "these are not sound samples\n";
    const std::filesystem::path slow = folder.Path() / "40-hz.wav";
    WriteSound(slow, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 40, 1, std::vector<short>(40, 5));
    const std::filesystem::path brief = folder.Path() / "brief.wav";
    WriteSound(brief, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 1, std::vector<short>(400, 5));
    struct Case {
        std::filesystem::path path;
        SoundFileError code;
        std::string why;  // after "FILE: " (libsndfile's words where it is theirs)
    };
    const std::vector<Case> cases = {
        {folder.Path() / "missing.wav", SoundFileError::NoSuchFile, "no such file"},
        {folder.Path(), SoundFileError::IsFolder, "is a folder, not a sound file"},
        {text, SoundFileError::NotSoundFile, ""},
        {slow, SoundFileError::RateNotConvertible,
         "sampling rate 40 Hz cannot be converted to 11025 Hz"},
        {brief, SoundFileError::NotRecorded, "The sound was not recorded"},
    };
    for (const Case& c : cases) {
        const Result<RecordingFile> read = ReadRecordingFile(c.path);
        ASSERT_FALSE(read) << c.path;
        const Failure& failure = read.error();
        EXPECT_EQ(failure.code(), MakeError(c.code)) << c.path << ": " << failure.Reason();
        EXPECT_EQ(failure.path(), c.path);
        std::string why = c.why;
        if (c.code == SoundFileError::NotSoundFile) {
            EXPECT_FALSE(failure.detail().empty());
            why = "not a readable sound file (" + failure.detail() + ")";
        }
        EXPECT_EQ(SoundFileProblemText(failure), c.path.string() + ": " + why);
    }
}

TEST(ReadSoundFile, LongerThanTheLimitIsRefused) {
    const ScratchFolder folder;
    const std::filesystem::path exact = folder.Path() / "exact.wav";
    const std::filesystem::path other = folder.Path() / "other.wav";
    WriteSound(exact, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 11025, 1, std::vector<short>(200, 5));
    WriteSound(other, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, std::vector<short>(400, 5));
    for (const std::filesystem::path& path : {exact, other}) {
        const Result<std::vector<std::int16_t>> refused = ReadSoundFile(path, 100);
        ASSERT_FALSE(refused) << path;
        EXPECT_EQ(refused.error().code(), MakeError(SoundFileError::TooLong));
        const Result<std::vector<std::int16_t>> read = ReadSoundFile(path, 250);
        EXPECT_TRUE(read) << SoundFileProblemText(read.error());
    }
}

// A FLAC file whose header (STREAMINFO's total samples) claims about 72 days while one
// second of sound follows: read as it is, it would pass; the header alone refuses it.
TEST(ReadSoundFile, LengthInTheHeaderBeyondTheLimitIsRefusedBeforeReading) {
    const ScratchFolder folder;
    const std::filesystem::path path = folder.Path() / "claims-72-days.flac";
    WriteSound(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 11025, 1, std::vector<short>(11025, 5));
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(path);
    ASSERT_TRUE(samples) << SoundFileProblemText(samples.error());
    ASSERT_EQ(samples->size(), 11025u);

    // "fLaC", the block header, then STREAMINFO: 10 bytes of block and frame sizes, then
    // rate, channels and bits, with the 36-bit total in the last 4 bits of byte 21 and 22..25.
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    char byte21 = 0;
    file.seekg(21);
    file.get(byte21);
    file.seekp(21);
    file.put(static_cast<char>(byte21 | 0x0F));
    file.write("\xFF\xFF\xFF\xFF", 4);
    file.close();

    const Result<std::vector<std::int16_t>> refused = ReadSoundFile(path);
    ASSERT_FALSE(refused);
    EXPECT_EQ(SoundFileProblemText(refused.error()),
              path.string() + ": too long (more than one hour of sound)");
}

}  // namespace
}  // namespace quorvane
