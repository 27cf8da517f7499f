#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "audio/WaveDevice.h"

namespace quorvane {

// A sound device for tests. It "captures" samples the test gives it and keeps what it
// played, and it can be told to fail any step (for example no input device at all).
//
// Pace decides when captured samples land in the buffer and how far playback gets:
//   Instant  - at StartInput every given sample is written at once (up to the buffer's
//              end); WriteOutput plays the whole buffer at once.
//   RealTime - a background thread writes the given samples at the format's rate, in
//              blocks of about 10 ms, from StartInput until they run out, the buffer is
//              full or ResetInput; playback advances with the clock until ResetOutput.
//   Manual   - nothing happens by itself: each Advance(n) captures (or plays) the next n
//              samples. Lets a GUI test hold a button for an exact number of samples.
//
// Typical use:
//     auto device = std::make_unique<ScriptedDevice>();
//     ScriptedDevice& scripted = *device;          // keep a reference for the checks
//     scripted.SetCapture(phrase, ScriptedDevice::Pace::Instant);
//     SoundBuffer buffer(std::move(device), notifier);
//     ... press and release Record ...
//     EXPECT_EQ(scripted.Calls(), (std::vector<std::string>{"OpenInput", ...}));
class ScriptedDevice final : public WaveDevice {
public:
    enum class Pace { Instant, RealTime, Manual };

    // Steps to fail. A failed open also makes every later step of that direction fail,
    // as a missing device would.
    struct Failures {
        bool openInput = false;
        bool prepareInput = false;
        bool addInputBuffer = false;
        bool startInput = false;
        bool openOutput = false;
        bool prepareOutput = false;
        bool writeOutput = false;
    };

    ScriptedDevice() = default;
    ~ScriptedDevice() override;
    ScriptedDevice(const ScriptedDevice&) = delete;
    ScriptedDevice& operator=(const ScriptedDevice&) = delete;

    // What the next capture delivers, and how fast; playback uses the same pace.
    void SetCapture(std::vector<std::int16_t> samples, Pace pace = Pace::Instant);
    void SetPace(Pace pace);
    void SetFailures(const Failures& failures);
    // Shorthands for a system without that device: its open fails.
    void RemoveInputDevice();
    void RemoveOutputDevice();

    // Manual pace: captures the next `samples` given samples into the running capture (no
    // further than the given samples and the buffer reach), or plays the next `samples` of
    // the running playback.
    void Advance(std::int32_t samples);

    // Every device call in order, by name: "OpenInput", "PrepareInput", "AddInputBuffer",
    // "StartInput", "InputPosition", "ResetInput", "UnprepareInput", "CloseInput",
    // "OpenOutput", "PrepareOutput", "WriteOutput", "ResetOutput", "UnprepareOutput",
    // "CloseOutput".
    [[nodiscard]] std::vector<std::string> Calls() const;
    void ClearCalls();
    // The samples played so far, in order, across all playbacks since the last clear; each
    // sample is taken from the buffer at the moment it is played.
    [[nodiscard]] std::vector<std::int16_t> Played() const;
    void ClearPlayed();
    // Whether a direction is open right now (between a successful open and its close).
    [[nodiscard]] bool InputOpen() const;
    [[nodiscard]] bool OutputOpen() const;
    // Whether a direction is running right now (between its start and its reset).
    [[nodiscard]] bool InputRunning() const;
    [[nodiscard]] bool OutputRunning() const;
    // The format handed to the last successful open.
    [[nodiscard]] WaveFormat LastFormat() const;

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

private:
    using Clock = std::chrono::steady_clock;

    // The helpers below expect mutex_ held, except StopWorker, which takes it itself.
    void Log(const char* call) const;
    void CaptureUpTo(std::int32_t target);
    void PlayUpTo(std::int32_t target);
    void StartWorkerLocked();
    void StopWorker();
    void RunClock();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::thread worker_;
    bool stopWorker_ = false;

    Pace pace_ = Pace::Instant;
    Failures failures_;
    std::vector<std::int16_t> capture_;
    WaveFormat format_;
    mutable std::vector<std::string> calls_;
    std::vector<std::int16_t> played_;

    bool inputOpen_ = false;
    bool inputPrepared_ = false;
    bool inputQueued_ = false;
    bool inputRunning_ = false;
    bool inputClocked_ = false;  // the real-time clock moves this capture on
    Clock::time_point inputStart_;
    std::span<std::int16_t> inputBuffer_;
    std::atomic<std::int32_t> written_{0};

    bool outputOpen_ = false;
    bool outputPrepared_ = false;
    bool outputRunning_ = false;
    bool outputClocked_ = false;
    Clock::time_point outputStart_;
    std::span<const std::int16_t> outputBuffer_;
    std::int32_t playedCount_ = 0;
};

}  // namespace quorvane
