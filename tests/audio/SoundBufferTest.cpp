// The sound buffer's operations, calling orders and warnings, driven through the scripted
// device.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "audio/SoundBuffer.h"
#include "interfaces/Notifier.h"
#include "tests/support/ScriptedDevice.h"

namespace quorvane {
namespace {

using Calls = std::vector<std::string>;
using Entry = RecordingNotifier::Entry;

// A recognisable signal: sample i holds (i * 7) mod 20011 - 10005, never two equal
// neighbours, so a shifted or dropped sample shows.
std::vector<std::int16_t> Ramp(std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        samples[i] = static_cast<std::int16_t>(static_cast<int>((i * 7) % 20011) - 10005);
    }
    return samples;
}

// Lets a test keep the scripted device after the buffer that owns its front is gone.
class ForwardingDevice final : public WaveDevice {
public:
    explicit ForwardingDevice(WaveDevice& target) : target_(target) {}
    bool OpenInput(const WaveFormat& f) override { return target_.OpenInput(f); }
    bool PrepareInput(std::span<std::int16_t> b) override { return target_.PrepareInput(b); }
    bool AddInputBuffer() override { return target_.AddInputBuffer(); }
    bool StartInput() override { return target_.StartInput(); }
    std::int32_t InputPosition() const override { return target_.InputPosition(); }
    std::int32_t ResetInput() override { return target_.ResetInput(); }
    void UnprepareInput() override { target_.UnprepareInput(); }
    void CloseInput() override { target_.CloseInput(); }
    bool OpenOutput(const WaveFormat& f) override { return target_.OpenOutput(f); }
    bool PrepareOutput(std::span<const std::int16_t> b) override {
        return target_.PrepareOutput(b);
    }
    bool WriteOutput() override { return target_.WriteOutput(); }
    void ResetOutput() override { target_.ResetOutput(); }
    void UnprepareOutput() override { target_.UnprepareOutput(); }
    void CloseOutput() override { target_.CloseOutput(); }

private:
    WaveDevice& target_;
};

class SoundBufferTest : public ::testing::Test {
protected:
    SoundBufferTest() {
        auto device = std::make_unique<ScriptedDevice>();
        scripted = device.get();
        buffer = std::make_unique<SoundBuffer>(std::move(device), notifier);
    }

    // One press and release of Record as the main window does it; returns the position
    // read before the stop.
    std::int32_t Record() {
        buffer->Open("In");
        buffer->StartRecording();
        const std::int32_t position = buffer->RecordingPosition();
        buffer->Stop("In");
        buffer->Close("In");
        return position;
    }

    void Play() {
        buffer->Open("Out");
        buffer->StartPlaying();
        buffer->Stop("Out");
        buffer->Close("Out");
    }

    RecordingNotifier notifier;
    ScriptedDevice* scripted = nullptr;
    std::unique_ptr<SoundBuffer> buffer;
};

TEST_F(SoundBufferTest, CreationGivesFiftySecondsOfSilenceAtElevenKilohertz) {
    EXPECT_EQ(buffer->Capacity(), 551250);
    EXPECT_EQ(buffer->Seconds(), 50);
    EXPECT_EQ(buffer->Rate(), 11025);
    EXPECT_EQ(buffer->RecordedBytes(), 0);
    ASSERT_EQ(buffer->Pcm().size(), 551250U);
    EXPECT_EQ(buffer->Pcm().size_bytes(), 1102500U);
    EXPECT_TRUE(std::all_of(buffer->Pcm().begin(), buffer->Pcm().end(),
                            [](std::int16_t s) { return s == 0; }));
    const WaveFormat& format = buffer->Format();
    EXPECT_EQ(format.formatTag, 1);
    EXPECT_EQ(format.channels, 1);
    EXPECT_EQ(format.samplesPerSec, 11025U);
    EXPECT_EQ(format.avgBytesPerSec, 22050U);
    EXPECT_EQ(format.blockAlign, 2);
    EXPECT_EQ(format.bitsPerSample, 16);
    EXPECT_EQ(format.extraSize, 0);
    EXPECT_TRUE(scripted->Calls().empty());
}

TEST_F(SoundBufferTest, RecordingCapturesInOrderAndCountsBytesAtTheStop) {
    const std::vector<std::int16_t> phrase = Ramp(12345);
    scripted->SetCapture(phrase, ScriptedDevice::Pace::Instant);

    EXPECT_EQ(Record(), 12345);

    EXPECT_EQ(buffer->RecordedBytes(), 24690);
    EXPECT_TRUE(std::equal(phrase.begin(), phrase.end(), buffer->Pcm().begin()));
    EXPECT_TRUE(std::all_of(buffer->Pcm().begin() + 12345, buffer->Pcm().end(),
                            [](std::int16_t s) { return s == 0; }));
    EXPECT_EQ(scripted->Calls(),
              (Calls{"OpenInput", "PrepareInput", "AddInputBuffer", "StartInput", "InputPosition",
                     "ResetInput", "UnprepareInput", "CloseInput"}));
    EXPECT_EQ(scripted->LastFormat().samplesPerSec, 11025U);
    EXPECT_FALSE(scripted->InputOpen());
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(SoundBufferTest, PositionFollowsTheDeviceWhileRecording) {
    scripted->SetCapture(Ramp(5000), ScriptedDevice::Pace::Manual);
    buffer->Open("In");
    buffer->StartRecording();
    EXPECT_EQ(buffer->RecordingPosition(), 0);
    scripted->Advance(2205);
    EXPECT_EQ(buffer->RecordingPosition(), 2205);
    EXPECT_EQ(buffer->Pcm()[2204], Ramp(2205)[2204]);
    EXPECT_EQ(buffer->Pcm()[2205], 0);  // not reached yet
    scripted->Advance(2205);
    EXPECT_EQ(buffer->RecordingPosition(), 4410);
    // The given samples run out: the capture stays where they ended.
    scripted->Advance(2205);
    EXPECT_EQ(buffer->RecordingPosition(), 5000);
    EXPECT_EQ(buffer->RecordedBytes(), 0);  // taken only at the stop
    buffer->Stop("In");
    EXPECT_EQ(buffer->RecordedBytes(), 10000);
    // After the stop nothing more lands in the buffer.
    scripted->Advance(100);
    EXPECT_EQ(buffer->RecordingPosition(), 5000);
    buffer->Close("In");
}

TEST_F(SoundBufferTest, CaptureLongerThanTheBufferStopsAtItsEnd) {
    scripted->SetCapture(Ramp(600000), ScriptedDevice::Pace::Instant);
    EXPECT_EQ(Record(), 551250);
    EXPECT_EQ(buffer->RecordedBytes(), 1102500);
    const std::vector<std::int16_t> expected = Ramp(551250);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), buffer->Pcm().begin()));
}

TEST_F(SoundBufferTest, RealTimeCaptureGrowsWithTheTimeHeld) {
    scripted->SetCapture(Ramp(110250), ScriptedDevice::Pace::RealTime);
    buffer->Open("In");
    const auto start = std::chrono::steady_clock::now();
    buffer->StartRecording();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::int32_t position = buffer->RecordingPosition();
    const auto held = std::chrono::steady_clock::now() - start;
    buffer->Stop("In");
    buffer->Close("In");
    const double heldSamples = std::chrono::duration<double>(held).count() * 11025.0;
    // The device moves on in 10 ms steps (110 samples); a loaded machine may lag more.
    EXPECT_LE(position, heldSamples + 1.0);
    EXPECT_GE(position, heldSamples * 0.5);
    EXPECT_GE(buffer->RecordedBytes() / 2, position);
    const std::vector<std::int16_t> expected = Ramp(110250);
    const auto count = static_cast<std::size_t>(buffer->RecordedBytes() / 2);
    EXPECT_TRUE(std::equal(expected.begin(), expected.begin() + count, buffer->Pcm().begin()));
}

TEST_F(SoundBufferTest, PlaybackPlaysTheWholeBufferFromItsFirstSample) {
    scripted->SetCapture(Ramp(4000), ScriptedDevice::Pace::Instant);
    Record();
    scripted->ClearCalls();

    Play();

    const std::vector<std::int16_t> played = scripted->Played();
    ASSERT_EQ(played.size(), 551250U);
    EXPECT_TRUE(std::equal(played.begin(), played.end(), buffer->Pcm().begin()));
    EXPECT_EQ(played[3999], Ramp(4000)[3999]);
    EXPECT_EQ(played[4000], 0);  // the rest is the silence left in the buffer
    EXPECT_EQ(scripted->Calls(), (Calls{"OpenOutput", "PrepareOutput", "WriteOutput", "ResetOutput",
                                        "UnprepareOutput", "CloseOutput"}));
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(SoundBufferTest, PlaybackStopsWhereTheButtonWasReleased) {
    scripted->SetPace(ScriptedDevice::Pace::Manual);
    std::copy_n(Ramp(3000).begin(), 3000, buffer->Pcm().begin());
    buffer->Open("Out");
    buffer->StartPlaying();
    scripted->Advance(1000);
    scripted->Advance(500);
    buffer->Stop("Out");
    scripted->Advance(1000);
    buffer->Close("Out");
    const std::vector<std::int16_t> played = scripted->Played();
    const std::vector<std::int16_t> expected = Ramp(1500);
    EXPECT_EQ(played, expected);
}

TEST_F(SoundBufferTest, RealTimePlaybackAdvancesWithTheClock) {
    scripted->SetPace(ScriptedDevice::Pace::RealTime);
    std::copy_n(Ramp(20000).begin(), 20000, buffer->Pcm().begin());
    const auto start = std::chrono::steady_clock::now();
    buffer->Open("Out");
    buffer->StartPlaying();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    buffer->Stop("Out");
    const auto held = std::chrono::steady_clock::now() - start;
    buffer->Close("Out");
    const std::vector<std::int16_t> played = scripted->Played();
    const double heldSamples = std::chrono::duration<double>(held).count() * 11025.0;
    EXPECT_LE(static_cast<double>(played.size()), heldSamples + 1.0);
    EXPECT_GE(static_cast<double>(played.size()), heldSamples * 0.5);
    const std::vector<std::int16_t> expected = Ramp(played.size());
    EXPECT_EQ(played, expected);

    // A second playback adds to what was played; clearing starts afresh.
    scripted->SetPace(ScriptedDevice::Pace::Instant);
    Play();
    EXPECT_EQ(scripted->Played().size(), played.size() + 551250U);
    scripted->ClearPlayed();
    EXPECT_TRUE(scripted->Played().empty());
}

TEST_F(SoundBufferTest, OnlyRecordingChangesTheRecordedBytes) {
    scripted->SetCapture(Ramp(1000), ScriptedDevice::Pace::Manual);
    buffer->Open("In");
    buffer->StartRecording();
    scripted->Advance(1000);
    buffer->Stop("In");
    buffer->Close("In");
    ASSERT_EQ(buffer->RecordedBytes(), 2000);

    buffer->Open("Out");
    EXPECT_EQ(buffer->RecordedBytes(), 2000);
    buffer->StartPlaying();
    buffer->Stop("Out");
    buffer->Close("Out");
    EXPECT_EQ(buffer->RecordedBytes(), 2000);

    buffer->Open("In");
    EXPECT_EQ(buffer->RecordedBytes(), 0);
    buffer->Stop("In");
    buffer->Close("In");
}

TEST_F(SoundBufferTest, NoInputDeviceGivesEachWarningInTurn) {
    scripted->RemoveInputDevice();
    scripted->SetCapture(Ramp(1000), ScriptedDevice::Pace::Instant);

    buffer->Open("In");
    buffer->StartRecording();
    EXPECT_EQ(buffer->RecordingPosition(), 0);
    buffer->Stop("In");
    buffer->Close("In");

    const std::vector<Entry>& shown = notifier.entries;
    ASSERT_EQ(shown.size(), 4U);
    EXPECT_EQ(shown[0].text, "No open wave In-device!");
    EXPECT_EQ(shown[1].text, "No prepared header wave In-device!");
    EXPECT_EQ(shown[2].text, "No record wave In-device!");
    EXPECT_EQ(shown[3].text, "No record wave In-device!");
    for (const Entry& entry : shown) {
        EXPECT_EQ(entry.caption, "Record Error");
        EXPECT_TRUE(entry.warning);
    }
    EXPECT_EQ(buffer->RecordedBytes(), 0);
    EXPECT_TRUE(std::all_of(buffer->Pcm().begin(), buffer->Pcm().end(),
                            [](std::int16_t s) { return s == 0; }));
    // Every step was still tried, in order, and the stop and close went through silently.
    EXPECT_EQ(scripted->Calls(),
              (Calls{"OpenInput", "PrepareInput", "AddInputBuffer", "StartInput", "InputPosition",
                     "ResetInput", "UnprepareInput", "CloseInput"}));
}

TEST_F(SoundBufferTest, NoOutputDeviceGivesEachPlayWarningInTurn) {
    scripted->RemoveOutputDevice();
    Play();
    const std::vector<Entry>& shown = notifier.entries;
    ASSERT_EQ(shown.size(), 3U);
    EXPECT_EQ(shown[0].text, "No open wave Out-device!");
    EXPECT_EQ(shown[1].text, "No prepared header wave Out-device!");
    EXPECT_EQ(shown[2].text, "No play wave Out-device!");
    for (const Entry& entry : shown) {
        EXPECT_EQ(entry.caption, "Play Error");
        EXPECT_TRUE(entry.warning);
    }
    EXPECT_TRUE(scripted->Played().empty());
}

TEST_F(SoundBufferTest, EachFailingStepShowsOnlyWhatFollowsFromIt) {
    ScriptedDevice::Failures failures;
    failures.prepareInput = true;
    scripted->SetFailures(failures);
    Record();
    EXPECT_EQ(notifier.Texts(),
              (std::vector<std::string>{"No prepared header wave In-device!",
                                        "No record wave In-device!", "No record wave In-device!"}));

    notifier.entries.clear();
    failures = {};
    failures.startInput = true;
    scripted->SetFailures(failures);
    Record();
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"No record wave In-device!"}));

    notifier.entries.clear();
    failures = {};
    failures.prepareOutput = true;
    scripted->SetFailures(failures);
    Play();
    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"No prepared header wave Out-device!",
                                                          "No play wave Out-device!"}));

    notifier.entries.clear();
    failures = {};
    failures.writeOutput = true;
    scripted->SetFailures(failures);
    Play();
    ASSERT_EQ(notifier.entries.size(), 1U);
    EXPECT_EQ(notifier.entries[0].caption, "Play Error");

    // The device comes back: the next press works and shows nothing.
    notifier.entries.clear();
    scripted->SetFailures({});
    scripted->SetCapture(Ramp(800), ScriptedDevice::Pace::Instant);
    EXPECT_EQ(Record(), 800);
    EXPECT_EQ(buffer->RecordedBytes(), 1600);
    EXPECT_TRUE(notifier.entries.empty());
}

TEST_F(SoundBufferTest, UnknownDirectionOpensNothing) {
    buffer->Open("in");
    buffer->Open("Up");
    buffer->Stop("Up");
    buffer->Close("Up");
    ASSERT_EQ(notifier.entries.size(), 2U);
    for (const Entry& entry : notifier.entries) {
        EXPECT_EQ(entry.text, "No defined wave device!");
        EXPECT_EQ(entry.caption, "Error");
        EXPECT_TRUE(entry.warning);
    }
    EXPECT_TRUE(scripted->Calls().empty());
}

TEST_F(SoundBufferTest, ASecondPressWithoutReleaseStartsAfresh) {
    scripted->SetCapture(Ramp(700), ScriptedDevice::Pace::Manual);
    buffer->Open("In");
    buffer->StartRecording();
    scripted->Advance(300);
    // The release got lost: the next press must not fail on a device still open.
    buffer->Open("In");
    buffer->StartRecording();
    scripted->Advance(200);
    buffer->Stop("In");
    buffer->Close("In");
    EXPECT_TRUE(notifier.entries.empty());
    EXPECT_EQ(buffer->RecordedBytes(), 400);
    EXPECT_FALSE(scripted->InputOpen());
}

TEST(SoundBufferLifetime, DestroyingTheBufferStopsAndClosesTheDevice) {
    ScriptedDevice scripted;
    RecordingNotifier notifier;
    scripted.SetCapture(Ramp(100000), ScriptedDevice::Pace::RealTime);
    {
        SoundBuffer buffer(std::make_unique<ForwardingDevice>(scripted), notifier);
        buffer.Open("In");
        buffer.StartRecording();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    EXPECT_FALSE(scripted.InputRunning());
    EXPECT_FALSE(scripted.InputOpen());
    const Calls calls = scripted.Calls();
    ASSERT_GE(calls.size(), 3U);
    EXPECT_EQ((Calls{calls.end() - 3, calls.end()}),
              (Calls{"ResetInput", "UnprepareInput", "CloseInput"}));
    EXPECT_TRUE(notifier.entries.empty());
}

}  // namespace
}  // namespace quorvane
