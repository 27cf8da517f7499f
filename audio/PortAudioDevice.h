#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "audio/WaveDevice.h"

namespace quorvane {

// The system's default input and output devices through PortAudio.
//
// Each direction is one callback stream of 16-bit mono samples at the format's rate. The
// capture callback writes straight into the prepared buffer, in order, and stops by itself
// at the buffer's end; nothing is allocated or copied while it runs. The count of samples
// written is an atomic counter, so InputPosition never takes a lock. Playback plays the
// whole prepared buffer from its first sample until reset (which ends it at once) or until
// its end; after the end it plays silence for its own latency before it finishes, so the
// tail is heard rather than cut off.
//
// PortAudio is initialised when the first PortAudioDevice is created and terminated when
// the last one is destroyed: the program creates one device for its lifetime, so that is
// once per program, not once per press. The one exception: an open that finds no device,
// while nothing else uses PortAudio, initialises it afresh (~0.1 s), so a device or sound
// server that appeared after the start is found at the next press.
//
// Stopping never hangs: a capture that does not stop within kStopTimeout (a source that
// delivers nothing never calls back) is aborted; playback cut short is aborted at once.
class PortAudioDevice final : public WaveDevice {
public:
    static constexpr std::chrono::milliseconds kStopTimeout{500};

    PortAudioDevice();
    ~PortAudioDevice() override;  // aborts and closes whatever is still open
    PortAudioDevice(const PortAudioDevice&) = delete;
    PortAudioDevice& operator=(const PortAudioDevice&) = delete;

    bool OpenInput(const WaveFormat& format) override;
    bool PrepareInput(std::span<std::int16_t> buffer) override;
    bool AddInputBuffer() override;
    bool StartInput() override;
    std::int32_t InputPosition() const override;
    std::int32_t ResetInput() override;
    void UnprepareInput() override;
    void CloseInput() override;

    bool OpenOutput(const WaveFormat& format) override;
    bool PrepareOutput(std::span<const std::int16_t> buffer) override;
    bool WriteOutput() override;
    void ResetOutput() override;
    void UnprepareOutput() override;
    void CloseOutput() override;

    // For measurements: time from StartInput to the first captured sample of the last
    // capture, if any arrived.
    [[nodiscard]] std::optional<std::chrono::microseconds> FirstInputDelay() const;
    // Whether the last ResetInput found the capture stopping by itself in time (false: it
    // had to be aborted after kStopTimeout, or nothing was running).
    [[nodiscard]] bool LastInputStopWasClean() const;
    // Whether the last playback played its whole buffer and drained before ResetOutput
    // (false: it was cut off by the ResetOutput).
    [[nodiscard]] bool LastPlaybackRanToItsEnd() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quorvane
