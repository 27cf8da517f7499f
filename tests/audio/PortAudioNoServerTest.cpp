// The PortAudio device on a machine where no sound server can be reached and ALSA has no
// card: every press must give the device warnings in order, quickly, without a crash.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/PortAudioDevice.h"
#include "audio/SoundBuffer.h"
#include "interfaces/Notifier.h"
#include "tests/audio/TestEnvironment.h"

namespace quorvane {
namespace {

using Clock = std::chrono::steady_clock;

class PortAudioNoServer : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(folder.Path().empty());
        const std::filesystem::path runtime = folder.Path() / "run";
        std::filesystem::create_directory(runtime);
        // A client configuration that never starts a server of its own.
        const std::filesystem::path clientConfig = folder.Path() / "client.conf";
        std::ofstream(clientConfig) << "autospawn = no\n";
        environment.Set("PULSE_SERVER", std::nullopt);
        environment.Set("PULSE_CLIENTCONFIG", clientConfig.string());
        environment.Set("XDG_RUNTIME_DIR", runtime.string());
        environment.Set("HOME", folder.Path().string());
        environment.Set("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        environment.Set("JACK_NO_START_SERVER", "1");
    }

    audiotest::TemporaryFolder folder{"quorvane-noserver"};
    audiotest::ScopedEnvironment environment;
};

TEST_F(PortAudioNoServer, RecordPressGivesTheInputWarningsAndTheReleaseNothing) {
    RecordingNotifier notifier;
    SoundBuffer buffer(std::make_unique<PortAudioDevice>(), notifier);

    const Clock::time_point start = Clock::now();
    buffer.Open("In");
    if (notifier.entries.empty()) {
        buffer.Stop("In");
        buffer.Close("In");
        GTEST_SKIP() << "this machine has an input device that ALSA reaches without a sound "
                        "server; the no-device case cannot be produced here";
    }
    buffer.StartRecording();
    const std::int32_t position = buffer.RecordingPosition();
    buffer.Stop("In");
    buffer.Close("In");
    const auto took = Clock::now() - start;

    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{
                                    "No open wave In-device!", "No prepared header wave In-device!",
                                    "No record wave In-device!", "No record wave In-device!"}));
    for (const RecordingNotifier::Entry& entry : notifier.entries) {
        EXPECT_EQ(entry.caption, "Record Error");
        EXPECT_TRUE(entry.warning);
    }
    EXPECT_EQ(position, 0);
    EXPECT_EQ(buffer.RecordedBytes(), 0);
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST_F(PortAudioNoServer, PlayPressGivesTheOutputWarnings) {
    RecordingNotifier notifier;
    SoundBuffer buffer(std::make_unique<PortAudioDevice>(), notifier);

    const Clock::time_point start = Clock::now();
    buffer.Open("Out");
    if (notifier.entries.empty()) {
        buffer.Close("Out");
        GTEST_SKIP() << "this machine has an output device that ALSA reaches without a sound "
                        "server; the no-device case cannot be produced here";
    }
    buffer.StartPlaying();
    buffer.Stop("Out");
    buffer.Close("Out");

    EXPECT_EQ(notifier.Texts(), (std::vector<std::string>{"No open wave Out-device!",
                                                          "No prepared header wave Out-device!",
                                                          "No play wave Out-device!"}));
    for (const RecordingNotifier::Entry& entry : notifier.entries) {
        EXPECT_EQ(entry.caption, "Play Error");
    }
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST_F(PortAudioNoServer, RepeatedPressesKeepFailingTheSameWay) {
    RecordingNotifier notifier;
    SoundBuffer buffer(std::make_unique<PortAudioDevice>(), notifier);
    for (int press = 0; press < 3; ++press) {
        notifier.entries.clear();
        buffer.Open("In");
        if (notifier.entries.empty()) {
            buffer.Close("In");
            GTEST_SKIP() << "this machine has an input device without a sound server";
        }
        buffer.StartRecording();
        buffer.Stop("In");
        buffer.Close("In");
        EXPECT_EQ(notifier.entries.size(), 4U) << "press " << press;
        notifier.entries.clear();
        buffer.Open("Out");
        buffer.StartPlaying();
        buffer.Stop("Out");
        buffer.Close("Out");
        EXPECT_EQ(notifier.entries.size(), 3U) << "press " << press;
    }
}

// Opening a device probes every device of ALSA's configuration and JACK; what they print
// about it reaches standard error only when QUORVANE_VERBOSE=1 asks for it.
TEST_F(PortAudioNoServer, SoundLibraryMessagesOnlyWhenAskedFor) {
    const auto openInput = [] {
        ::testing::internal::CaptureStderr();
        {
            PortAudioDevice device;
            if (device.OpenInput(WaveFormat{})) {
                device.CloseInput();
            }
        }
        return ::testing::internal::GetCapturedStderr();
    };
    environment.Set("QUORVANE_VERBOSE", "1");
    const std::string verbose = openInput();
    if (verbose.empty()) {
        GTEST_SKIP() << "the sound libraries of this machine say nothing when probed";
    }
    EXPECT_TRUE(verbose.find("ALSA lib") != std::string::npos ||
                verbose.find("jack") != std::string::npos)
        << verbose;
    environment.Set("QUORVANE_VERBOSE", std::nullopt);
    EXPECT_EQ(openInput(), "");
}

}  // namespace
}  // namespace quorvane
