#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "audio/WaveDevice.h"
#include "interfaces/Notifier.h"

namespace quorvane {

// The program's one sound buffer: 50 seconds of 16-bit signed mono PCM at 11025 samples
// per second (551250 samples, 1102500 bytes), used both for capture and for playback,
// together with the wave device that fills or plays it.
//
// The whole buffer is handed to the device in one piece: capture or playback runs in the
// background for as long as the user holds a button, then the device is stopped and closed.
// A direction is the text "In" (capture) or "Out" (playback).
//
// Calling orders:
//   recording: Open("In"), StartRecording(), ... RecordingPosition() ..., Stop("In"),
//              Close("In"); then RecordedBytes() holds the bytes captured.
//   playback:  Open("Out"), StartPlaying(), ..., Stop("Out"), Close("Out").
// At most one direction is open at a time.
//
// A failing step shows its warning through the notifier (text, caption) and the operation
// goes on with its next step, so with no input device one press of Record gives
// "No open wave In-device!", "No prepared header wave In-device!", then
// "No record wave In-device!" twice. Stop and Close report nothing.
//
// How the main window uses it:
//     SoundBuffer soundBuffer(std::make_unique<PortAudioDevice>(), notifier);
//     // Record pressed:
//     std::ranges::fill(soundBuffer.Pcm(), std::int16_t{0});
//     soundBuffer.Open("In");
//     soundBuffer.StartRecording();
//     // every 200 ms: soundBuffer.RecordingPosition() for the level meter
//     // Record released:
//     const std::int32_t p = soundBuffer.RecordingPosition();
//     soundBuffer.Stop("In");
//     soundBuffer.Close("In");
//     std::int32_t count = soundBuffer.RecordedBytes() / 2 - 400;   // samples in Pcm()
// Tests inject a ScriptedDevice (tests/support) instead of the PortAudioDevice.
//
// The buffer never clears or copies its own samples; the caller does, while no direction
// runs. While capture runs the device writes Pcm() in the background: samples below
// RecordingPosition() are complete and safe to read; samples at or beyond it may be
// being written.
class SoundBuffer final {
public:
    static constexpr std::int32_t kRate = 11025;                 // samples per second
    static constexpr std::int32_t kSeconds = 50;                 // length of the buffer
    static constexpr std::int32_t kCapacity = kRate * kSeconds;  // 551250 samples
    static constexpr std::int32_t kBytesPerSample = 2;           // 16-bit mono
    static constexpr std::int32_t kCapacityBytes = kCapacity * kBytesPerSample;  // 1102500

    // `device` is the backend; `notifier` shows the device warnings and must outlive the
    // buffer. Allocates the sample memory, all zero.
    SoundBuffer(std::unique_ptr<WaveDevice> device, Notifier& notifier);
    // Stops and closes a direction that is still open.
    ~SoundBuffer();
    SoundBuffer(const SoundBuffer&) = delete;
    SoundBuffer& operator=(const SoundBuffer&) = delete;

    // Opens the device of `direction` ("In" or "Out") and prepares the buffer for it;
    // "In" also sets RecordedBytes() to 0. Any other text: "No defined wave device!", "Error".
    void Open(std::string_view direction);
    // Hands the buffer to the input device and starts capture; RecordedBytes() = 0.
    void StartRecording();
    // Hands the buffer to the output device: the whole buffer plays from its first sample.
    void StartPlaying();
    // Stops the device of `direction`; for "In", RecordedBytes() becomes the bytes captured.
    // Any other text does nothing.
    void Stop(std::string_view direction);
    // Gives the buffer back and closes the device of `direction`. Any other text does nothing.
    void Close(std::string_view direction);
    // Samples captured so far by the input device (0 when none is open or running).
    [[nodiscard]] std::int32_t RecordingPosition();

    // The sample memory: kCapacity samples, the recording and what is played.
    [[nodiscard]] std::span<std::int16_t> Pcm() { return pcm_; }
    [[nodiscard]] std::span<const std::int16_t> Pcm() const { return pcm_; }
    [[nodiscard]] std::int32_t Capacity() const { return capacity_; }
    [[nodiscard]] std::int32_t Seconds() const { return seconds_; }
    [[nodiscard]] std::int32_t Rate() const { return rate_; }
    // Bytes captured by the last recording, taken at Stop("In"); 0 after Open("In") and
    // StartRecording. Open("Out") leaves it as it is.
    [[nodiscard]] std::int32_t RecordedBytes() const { return recordedBytes_; }
    [[nodiscard]] const WaveFormat& Format() const { return format_; }
    [[nodiscard]] WaveDevice& Device() { return *device_; }

private:
    // The one buffer header: it always describes the whole buffer.
    struct WaveHeader {
        std::int16_t* data = nullptr;
        std::int32_t bufferLength = 0;   // bytes
        std::int32_t bytesRecorded = 0;  // filled when capture is stopped
        bool preparedIn = false;
        bool preparedOut = false;
    };

    std::vector<std::int16_t> pcm_;
    std::int32_t capacity_ = kCapacity;
    std::int32_t seconds_ = kSeconds;
    std::int32_t recordedBytes_ = 0;
    std::int32_t rate_ = kRate;
    WaveFormat format_;
    std::unique_ptr<WaveDevice> device_;
    Notifier& notifier_;
    bool outOpen_ = false;  // Open("Out") was called and not yet closed
    bool inOpen_ = false;   // Open("In") was called and not yet closed
    WaveHeader header_;
    std::uint32_t positionBytes_ = 0;  // filled by RecordingPosition
};

}  // namespace quorvane
