#pragma once

#include <cstdint>
#include <span>

namespace quorvane {

// The sample format handed to both directions: PCM (format tag 1), mono, 16-bit signed,
// 11025 samples per second, so 22050 bytes per second and 2 bytes per sample frame.
struct WaveFormat {
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 11025;
    std::uint32_t avgBytesPerSec = 22050;
    std::uint16_t blockAlign = 2;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraSize = 0;
};

// One sound device with a capture side and a playback side, each driven through one fixed
// buffer handed over in one piece: open, prepare the buffer, start, reset (stop), unprepare,
// close. Every step that can fail returns true on success, false on failure, and a step
// also fails when an earlier one of its direction did not succeed (no device, no prepared
// buffer), so a missing device makes each later step fail in turn.
//
// The device writes the capture buffer (or reads the playback buffer) in the background
// between the start and the reset; all calls come from one thread, except InputPosition,
// which may be called at any time and never blocks. Reset never hangs: a device that does
// not stop in time is aborted.
class WaveDevice {
public:
    virtual ~WaveDevice() = default;

    // Capture.
    // Opens the system's default input device for `format`.
    [[nodiscard]] virtual bool OpenInput(const WaveFormat& format) = 0;
    // Makes `buffer` the one capture buffer. It must stay valid until UnprepareInput.
    [[nodiscard]] virtual bool PrepareInput(std::span<std::int16_t> buffer) = 0;
    // Queues the prepared buffer: capture will fill it from its first sample.
    [[nodiscard]] virtual bool AddInputBuffer() = 0;
    // Starts capture. Samples are written in order until the buffer is full or reset.
    [[nodiscard]] virtual bool StartInput() = 0;
    // Samples written into the buffer since the start; 0 when nothing runs or ran.
    // Every sample below the returned count is fully written (release/acquire ordering).
    [[nodiscard]] virtual std::int32_t InputPosition() const = 0;
    // Stops capture (bounded in time) and returns the number of samples written, the same
    // count InputPosition gives afterwards; 0 when capture never started.
    virtual std::int32_t ResetInput() = 0;
    // Gives the buffer back and closes the input device. Safe after any failure.
    virtual void UnprepareInput() = 0;
    virtual void CloseInput() = 0;

    // Playback.
    // Opens the system's default output device for `format`.
    [[nodiscard]] virtual bool OpenOutput(const WaveFormat& format) = 0;
    // Makes `buffer` the one playback buffer. It must stay valid until UnprepareOutput.
    [[nodiscard]] virtual bool PrepareOutput(std::span<const std::int16_t> buffer) = 0;
    // Starts playing the whole buffer from its first sample, in the background.
    [[nodiscard]] virtual bool WriteOutput() = 0;
    // Stops playback at once (bounded in time).
    virtual void ResetOutput() = 0;
    // Gives the buffer back and closes the output device. Safe after any failure.
    virtual void UnprepareOutput() = 0;
    virtual void CloseOutput() = 0;
};

}  // namespace quorvane
