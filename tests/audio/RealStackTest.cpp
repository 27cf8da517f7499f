// Capture and playback through the real sound stack: PortAudio, ALSA's pulse plugin and a
// private PulseAudio server with two null sinks (see private-pulse.sh). A spoken phrase is
// played into the "microphone" sink and captured through SoundBuffer; the buffer is played
// and recorded back from the "speaker" sink's monitor.
//
// Skipped, with the reason, where no PulseAudio server can be started.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <memory>
#include <numbers>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/PortAudioDevice.h"
#include "audio/SoundBuffer.h"
#include "interfaces/Notifier.h"
#include "tests/audio/TestEnvironment.h"

#ifndef QUORVANE_PRIVATE_PULSE
#error "QUORVANE_PRIVATE_PULSE must name tests/audio/private-pulse.sh"
#endif

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr double kRate = 11025.0;

std::vector<char> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::uint32_t LittleEndian(const std::vector<char>& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8U) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    }
    return value;
}

std::vector<std::int16_t> FromLittleEndian(const std::vector<char>& bytes, std::size_t from,
                                           std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(LittleEndian(bytes, from + 2 * i, 2));
    }
    return samples;
}

// The samples of a RIFF WAVE file of 16-bit mono PCM at 11025 Hz; empty for anything else.
std::vector<std::int16_t> ReadWave(const std::filesystem::path& path) {
    const std::vector<char> bytes = ReadBytes(path);
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        return {};
    }
    bool formatOk = false;
    std::size_t at = 12;
    while (at + 8 <= bytes.size()) {
        const std::uint32_t size = LittleEndian(bytes, at + 4, 4);
        const std::size_t body = at + 8;
        if (std::memcmp(bytes.data() + at, "fmt ", 4) == 0 && body + 16 <= bytes.size()) {
            formatOk = LittleEndian(bytes, body, 2) == 1 && LittleEndian(bytes, body + 2, 2) == 1 &&
                       LittleEndian(bytes, body + 4, 4) == 11025 &&
                       LittleEndian(bytes, body + 14, 2) == 16;
        } else if (std::memcmp(bytes.data() + at, "data", 4) == 0 && formatOk) {
            const std::size_t available = std::min<std::size_t>(size, bytes.size() - body);
            return FromLittleEndian(bytes, body, available / 2);
        }
        at = body + size + (size & 1U);
    }
    return {};
}

std::vector<std::int16_t> ReadRaw(const std::filesystem::path& path) {
    const std::vector<char> bytes = ReadBytes(path);
    return FromLittleEndian(bytes, 0, bytes.size() / 2);
}

struct Match {
    double correlation = 0.0;
    std::size_t lag = 0;
};

// Where `reference` best matches a stretch of `signal` starting at a lag up to `maxLag`:
// the normalised cross-correlation (1 = the same waveform up to a gain).
Match BestMatch(const std::vector<std::int16_t>& signal, const std::vector<std::int16_t>& reference,
                std::size_t maxLag) {
    Match best;
    if (signal.size() < reference.size() || reference.empty()) {
        return best;
    }
    maxLag = std::min(maxLag, signal.size() - reference.size());
    double referenceEnergy = 0.0;
    for (const std::int16_t r : reference) {
        referenceEnergy += static_cast<double>(r) * r;
    }
    double windowEnergy = 0.0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        windowEnergy += static_cast<double>(signal[i]) * signal[i];
    }
    for (std::size_t lag = 0; lag <= maxLag; ++lag) {
        if (lag > 0) {
            const double leaving = signal[lag - 1];
            const double entering = signal[lag + reference.size() - 1];
            windowEnergy += entering * entering - leaving * leaving;
        }
        if (windowEnergy <= 0.0) {
            continue;
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < reference.size(); ++i) {
            sum += static_cast<double>(signal[lag + i]) * reference[i];
        }
        const double correlation = sum / std::sqrt(referenceEnergy * windowEnergy);
        if (correlation > best.correlation) {
            best = {correlation, lag};
        }
    }
    return best;
}

// First and one past the last sample whose magnitude exceeds `threshold`.
std::pair<std::size_t, std::size_t> LoudSpan(const std::vector<std::int16_t>& samples,
                                             int threshold) {
    const auto loud = [threshold](std::int16_t s) {
        return std::abs(static_cast<int>(s)) > threshold;
    };
    const auto first = std::find_if(samples.begin(), samples.end(), loud);
    if (first == samples.end()) {
        return {0, 0};
    }
    const auto last = std::find_if(samples.rbegin(), samples.rend(), loud);
    return {static_cast<std::size_t>(first - samples.begin()),
            static_cast<std::size_t>(samples.rend() - last)};
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class RealStack : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<audiotest::TemporaryFolder>("quorvane-pulse");
        if (folder->Path().empty()) {
            skipReason = "no temporary folder";
            return;
        }
        for (const char* tool :
             {"bash", "pulseaudio", "pactl", "pacat", "paplay", "parec", "espeak-ng", "sox"}) {
            if (!audiotest::HaveProgram(tool)) {
                skipReason = std::string("no ") + tool + " on this machine";
                return;
            }
        }
        const std::filesystem::path dir = folder->Path();
        const std::filesystem::path log = dir / "start.log";
        if (!Script("start " + audiotest::ShellQuote(dir.string()) + " " +
                    std::to_string(audiotest::ProcessId()) + " >" +
                    audiotest::ShellQuote(log.string()) + " 2>&1")) {
            const std::vector<char> text = ReadBytes(log);
            skipReason = "no PulseAudio server could be started here: " +
                         std::string(text.begin(), text.end());
            Script("stop " + audiotest::ShellQuote(dir.string()));
            return;
        }
        serverStarted = true;
        std::ofstream(dir / "client.conf") << "autospawn = no\n";
        environment = std::make_unique<audiotest::ScopedEnvironment>();
        environment->Set("PULSE_SERVER", "unix:" + (dir / "native").string());
        environment->Set("PULSE_CLIENTCONFIG", (dir / "client.conf").string());
        environment->Set("XDG_RUNTIME_DIR", (dir / "run").string());
        environment->Set("HOME", (dir / "home").string());
        environment->Set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        environment->Set("JACK_NO_START_SERVER", "1");

        // The phrase: synthetic speech at 11025 Hz mono, 3 dB below full scale.
        const std::string spoken = audiotest::ShellQuote((dir / "spoken.wav").string());
        const std::string phraseFile = audiotest::ShellQuote((dir / "phrase.wav").string());
        if (!audiotest::RunCommand("espeak-ng -w " + spoken +
                                   " 'Open the door, my voice is my key' >/dev/null 2>&1 && "
                                   "sox -D " +
                                   spoken + " -r 11025 -c 1 -b 16 -e signed-integer " + phraseFile +
                                   " gain -n -3 >/dev/null 2>&1")) {
            skipReason = "espeak-ng or sox could not make the test phrase";
            return;
        }
        phrase = ReadWave(dir / "phrase.wav");
        if (phrase.size() < 5000) {
            skipReason = "the test phrase came out empty";
        }
    }

    static void TearDownTestSuite() {
        environment.reset();
        if (serverStarted) {
            Script("stop " + audiotest::ShellQuote(folder->Path().string()));
        }
        folder.reset();
        serverStarted = false;
        skipReason.clear();
        phrase.clear();
    }

    void SetUp() override {
        if (!skipReason.empty()) {
            GTEST_SKIP() << skipReason;
        }
    }

    static bool Script(const std::string& arguments) {
        return audiotest::RunCommand(
            std::string("bash ") + audiotest::ShellQuote(QUORVANE_PRIVATE_PULSE) + " " + arguments);
    }

    static std::string Dir() { return audiotest::ShellQuote(folder->Path().string()); }

    // Records what arrives on the speaker sink while `play` runs.
    static std::vector<std::int16_t> RecordSpeaker(const std::function<void()>& play) {
        const std::filesystem::path file = folder->Path() / "speaker.raw";
        std::filesystem::remove(file);
        EXPECT_TRUE(Script("record-start " + Dir() + " " + audiotest::ShellQuote(file.string())));
        std::this_thread::sleep_for(milliseconds(300));  // parec connects
        play();
        std::this_thread::sleep_for(milliseconds(300));  // the last samples reach the monitor
        EXPECT_TRUE(Script("record-stop " + Dir()));
        return ReadRaw(file);
    }

    static std::unique_ptr<audiotest::TemporaryFolder> folder;
    static std::unique_ptr<audiotest::ScopedEnvironment> environment;
    static bool serverStarted;
    static std::string skipReason;
    static std::vector<std::int16_t> phrase;
};

std::unique_ptr<audiotest::TemporaryFolder> RealStack::folder;
std::unique_ptr<audiotest::ScopedEnvironment> RealStack::environment;
bool RealStack::serverStarted = false;
std::string RealStack::skipReason;
std::vector<std::int16_t> RealStack::phrase;

TEST_F(RealStack, CaptureHoldsThePhraseAndAsManySamplesAsTheTimeHeld) {
    // One capture of the phrase played into the private server; its correlation with the phrase.
    const auto capture = [&]() -> double {
        RecordingNotifier notifier;
        auto device = std::make_unique<PortAudioDevice>();
        const PortAudioDevice& portAudio = *device;
        SoundBuffer buffer(std::move(device), notifier);

        buffer.Open("In");
        const Clock::time_point pressed = Clock::now();
        buffer.StartRecording();
        if (!notifier.entries.empty()) {
            ADD_FAILURE() << notifier.entries.front().text;
            return 0.0;
        }
        if (!Script("play " + Dir() + " " +
                    audiotest::ShellQuote((folder->Path() / "phrase.wav").string()))) {
            ADD_FAILURE() << "the phrase could not be played";
            return 0.0;
        }
        std::this_thread::sleep_for(milliseconds(300));
        const std::int32_t position = buffer.RecordingPosition();
        const Clock::time_point released = Clock::now();
        buffer.Stop("In");
        const Clock::time_point stopped = Clock::now();
        buffer.Close("In");
        EXPECT_TRUE(notifier.entries.empty());

        const std::int32_t count = buffer.RecordedBytes() / 2;
        const double heldSamples = Seconds(released - pressed) * kRate;
        if (!portAudio.FirstInputDelay().has_value()) {
            ADD_FAILURE() << "no sample arrived";
            return 0.0;
        }
        const double firstMs =
            std::chrono::duration<double, std::milli>(*portAudio.FirstInputDelay()).count();
        std::cout << "[ MEASURED ] first sample " << firstMs << " ms after the start; held "
                  << Seconds(released - pressed) * 1000.0 << " ms = " << heldSamples
                  << " samples; captured " << count << " (position at release " << position
                  << "), difference " << (count - heldSamples)
                  << " samples = " << (count - heldSamples) / kRate * 1000.0 << " ms; stop took "
                  << Seconds(stopped - released) * 1000.0 << " ms\n";
        RecordProperty("first_sample_ms", std::to_string(firstMs));
        RecordProperty("captured_minus_held_samples", std::to_string(count - heldSamples));

        EXPECT_LT(firstMs, 250.0);
        // The count follows the clock: within 150 ms of the time held. Measured: ~10 ms on an
        // idle machine, up to 45 ms short on two loaded cores (the samples still on their way
        // at the release are not counted); a stalled source or a wrong rate is off by seconds.
        EXPECT_NEAR(count, heldSamples, 0.15 * kRate);
        EXPECT_GE(count, position);
        EXPECT_LE(count - position, 0.05 * kRate);
        EXPECT_TRUE(portAudio.LastInputStopWasClean());
        EXPECT_LT(stopped - released, milliseconds(200));

        const std::vector<std::int16_t> captured(buffer.Pcm().begin(),
                                                 buffer.Pcm().begin() + count);
        const Match match = BestMatch(captured, phrase, static_cast<std::size_t>(1.5 * kRate));
        std::cout << "[ MEASURED ] phrase found " << match.lag / kRate * 1000.0
                  << " ms into the capture, correlation " << match.correlation << "\n";
        // Nothing beyond the capture was written.
        EXPECT_TRUE(std::all_of(buffer.Pcm().begin() + count, buffer.Pcm().end(),
                                [](std::int16_t s) { return s == 0; }));
        return match.correlation;
    };
    // The sound server sometimes starts delivering the played phrase before the capture stream
    // is fully connected, so the capture misses its start: up to three tries, one must hold the
    // whole phrase. Every try's counts and timings are checked.
    double best = 0.0;
    for (int attempt = 0; attempt < 3 && best <= 0.95; ++attempt) {
        best = std::max(best, capture());
    }
    EXPECT_GT(best, 0.95);
}

TEST_F(RealStack, PlaybackArrivesOnTheSpeakerAndEndsAtTheRelease) {
    RecordingNotifier notifier;
    SoundBuffer buffer(std::make_unique<PortAudioDevice>(), notifier);
    std::copy(phrase.begin(), phrase.end(), buffer.Pcm().begin());
    const double phraseSeconds = static_cast<double>(phrase.size()) / kRate;

    const std::vector<std::int16_t> heard = RecordSpeaker([&] {
        buffer.Open("Out");
        buffer.StartPlaying();
        std::this_thread::sleep_for(milliseconds(static_cast<int>(phraseSeconds * 1000) + 300));
        buffer.Stop("Out");
        buffer.Close("Out");
    });
    EXPECT_TRUE(notifier.entries.empty());

    const Match match = BestMatch(heard, phrase, heard.size());
    std::cout << "[ MEASURED ] played phrase heard " << match.lag / kRate * 1000.0
              << " ms after the monitor recording began, correlation " << match.correlation << "\n";
    EXPECT_GT(match.correlation, 0.9);
    // Before and after the phrase the speaker carries the silence of the buffer.
    const std::vector<std::int16_t> after(
        heard.begin() +
            static_cast<std::ptrdiff_t>(std::min(heard.size(), match.lag + phrase.size() + 100)),
        heard.end());
    EXPECT_EQ(LoudSpan(after, 300).second, 0U) << "sound after the phrase";
}

TEST_F(RealStack, ReleaseEndsPlaybackPromptly) {
    RecordingNotifier notifier;
    SoundBuffer buffer(std::make_unique<PortAudioDevice>(), notifier);
    // Ten seconds of a 500 Hz tone; the button is held for one.
    for (std::size_t i = 0; i < 110250; ++i) {
        buffer.Pcm()[i] = static_cast<std::int16_t>(
            10000.0 * std::sin(2.0 * std::numbers::pi * 500.0 * static_cast<double>(i) / kRate));
    }
    Clock::duration held{};
    Clock::duration stopTook{};
    const std::vector<std::int16_t> heard = RecordSpeaker([&] {
        buffer.Open("Out");
        const Clock::time_point pressed = Clock::now();
        buffer.StartPlaying();
        std::this_thread::sleep_for(milliseconds(1000));
        const Clock::time_point released = Clock::now();
        buffer.Stop("Out");
        stopTook = Clock::now() - released;
        buffer.Close("Out");
        held = released - pressed;
    });
    const auto [first, end] = LoudSpan(heard, 2000);
    const double heardMs = static_cast<double>(end - first) / kRate * 1000.0;
    std::cout << "[ MEASURED ] held " << Seconds(held) * 1000.0 << " ms, tone heard for " << heardMs
              << " ms, stop took " << Seconds(stopTook) * 1000.0 << " ms\n";
    EXPECT_NEAR(heardMs, Seconds(held) * 1000.0, 100.0);
    EXPECT_LT(stopTook, milliseconds(400));
}

TEST_F(RealStack, PlaybackToTheEndOfItsBufferIsHeardToTheLastSample) {
    // Straight through the device with a short buffer, so it runs to its end: the last
    // ~46 ms are lost unless the stream is drained.
    PortAudioDevice device;
    std::vector<std::int16_t> tone(5513);  // 0.5 s
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<std::int16_t>(
            10000.0 * std::sin(2.0 * std::numbers::pi * 500.0 * static_cast<double>(i) / kRate));
    }
    const std::vector<std::int16_t> heard = RecordSpeaker([&] {
        ASSERT_TRUE(device.OpenOutput(WaveFormat{}));
        ASSERT_TRUE(device.PrepareOutput(tone));
        ASSERT_TRUE(device.WriteOutput());
        std::this_thread::sleep_for(milliseconds(1000));
        device.ResetOutput();
        device.UnprepareOutput();
        device.CloseOutput();
    });
    const auto [first, end] = LoudSpan(heard, 2000);
    std::cout << "[ MEASURED ] a 5513-sample tone played to its end was heard for " << (end - first)
              << " samples\n";
    // Within 4 ms: cutting the tail loses ~110 ms, losing the stream's start ~10 ms.
    EXPECT_NEAR(static_cast<double>(end - first), 5513.0, 0.004 * kRate);
    EXPECT_TRUE(device.LastPlaybackRanToItsEnd());
}

TEST_F(RealStack, CaptureStopsAtTheEndOfItsBuffer) {
    PortAudioDevice device;
    // A 0.2 s buffer inside a larger block whose tail must stay untouched.
    std::vector<std::int16_t> block(4000, std::int16_t{12345});
    const std::span<std::int16_t> buffer(block.data(), 2205);
    ASSERT_TRUE(device.OpenInput(WaveFormat{}));
    ASSERT_TRUE(device.PrepareInput(buffer));
    ASSERT_TRUE(device.AddInputBuffer());
    ASSERT_TRUE(device.StartInput());
    std::this_thread::sleep_for(milliseconds(600));
    EXPECT_EQ(device.InputPosition(), 2205);
    EXPECT_EQ(device.ResetInput(), 2205);
    device.UnprepareInput();
    device.CloseInput();
    EXPECT_TRUE(
        std::all_of(block.begin() + 2205, block.end(), [](std::int16_t s) { return s == 12345; }));
    // The capture really wrote the buffer: the silent monitor gives zeros.
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](std::int16_t s) { return s == 0; }));
}

TEST_F(RealStack, ASoundServerThatAppearsAfterTheStartIsFoundAtTheNextPress) {
    RecordingNotifier notifier;
    std::unique_ptr<SoundBuffer> buffer;
    {
        // The program starts while no server can be reached.
        audiotest::ScopedEnvironment away;
        away.Set("PULSE_SERVER", "unix:" + (folder->Path() / "no-such-socket").string());
        buffer = std::make_unique<SoundBuffer>(std::make_unique<PortAudioDevice>(), notifier);
        buffer->Open("In");
        buffer->StartRecording();
        buffer->Stop("In");
        buffer->Close("In");
        EXPECT_EQ(notifier.entries.size(), 4U);
    }
    // The server is back: the next press records without a warning.
    notifier.entries.clear();
    buffer->Open("In");
    buffer->StartRecording();
    std::this_thread::sleep_for(milliseconds(300));
    buffer->Stop("In");
    buffer->Close("In");
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_NEAR(buffer->RecordedBytes() / 2, 0.3 * kRate, 0.1 * kRate);
}

TEST_F(RealStack, StopReturnsWhenTheSourceDeliversNothing) {
    // A suspended source delivers no data at all; a plain stop of such a stream would wait
    // for a callback that never comes.
    ASSERT_TRUE(audiotest::RunCommand("pactl suspend-sink micfeed 1"));
    RecordingNotifier notifier;
    std::int32_t count = -1;
    Clock::duration stopTook{};
    {
        auto device = std::make_unique<PortAudioDevice>();
        const PortAudioDevice& portAudio = *device;
        SoundBuffer buffer(std::move(device), notifier);
        buffer.Open("In");
        buffer.StartRecording();
        std::this_thread::sleep_for(milliseconds(300));
        const Clock::time_point released = Clock::now();
        buffer.Stop("In");
        stopTook = Clock::now() - released;
        buffer.Close("In");
        count = buffer.RecordedBytes() / 2;
        EXPECT_FALSE(portAudio.FirstInputDelay().has_value());
    }
    EXPECT_TRUE(audiotest::RunCommand("pactl suspend-sink micfeed 0"));
    std::cout << "[ MEASURED ] stop with no data took " << Seconds(stopTook) * 1000.0 << " ms\n";
    EXPECT_EQ(count, 0);
    EXPECT_LT(stopTook, PortAudioDevice::kStopTimeout + milliseconds(500));
    EXPECT_TRUE(notifier.entries.empty());
}

}  // namespace
}  // namespace quorvane
