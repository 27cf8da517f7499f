#include "tests/support/ScriptedDevice.h"

#include <algorithm>
#include <utility>

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// How often the real-time clock moves the capture and the playback on.
constexpr std::chrono::milliseconds kTick{10};

std::int32_t SamplesSince(Clock::time_point start, std::uint32_t rate) {
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    return static_cast<std::int32_t>(elapsed.count() * static_cast<std::int64_t>(rate) / 1000000);
}

}  // namespace

ScriptedDevice::~ScriptedDevice() {
    StopWorker();
}

void ScriptedDevice::SetCapture(std::vector<std::int16_t> samples, Pace pace) {
    const std::lock_guard lock(mutex_);
    capture_ = std::move(samples);
    pace_ = pace;
}

void ScriptedDevice::SetPace(Pace pace) {
    const std::lock_guard lock(mutex_);
    pace_ = pace;
}

void ScriptedDevice::SetFailures(const Failures& failures) {
    const std::lock_guard lock(mutex_);
    failures_ = failures;
}

void ScriptedDevice::RemoveInputDevice() {
    const std::lock_guard lock(mutex_);
    failures_.openInput = true;
}

void ScriptedDevice::RemoveOutputDevice() {
    const std::lock_guard lock(mutex_);
    failures_.openOutput = true;
}

void ScriptedDevice::Advance(std::int32_t samples) {
    const std::lock_guard lock(mutex_);
    if (samples <= 0) {
        return;
    }
    if (inputRunning_) {
        CaptureUpTo(written_.load(std::memory_order_relaxed) + samples);
    }
    if (outputRunning_) {
        PlayUpTo(playedCount_ + samples);
    }
}

std::vector<std::string> ScriptedDevice::Calls() const {
    const std::lock_guard lock(mutex_);
    return calls_;
}

void ScriptedDevice::ClearCalls() {
    const std::lock_guard lock(mutex_);
    calls_.clear();
}

std::vector<std::int16_t> ScriptedDevice::Played() const {
    const std::lock_guard lock(mutex_);
    return played_;
}

void ScriptedDevice::ClearPlayed() {
    const std::lock_guard lock(mutex_);
    played_.clear();
}

bool ScriptedDevice::InputOpen() const {
    const std::lock_guard lock(mutex_);
    return inputOpen_;
}

bool ScriptedDevice::OutputOpen() const {
    const std::lock_guard lock(mutex_);
    return outputOpen_;
}

bool ScriptedDevice::InputRunning() const {
    const std::lock_guard lock(mutex_);
    return inputRunning_;
}

bool ScriptedDevice::OutputRunning() const {
    const std::lock_guard lock(mutex_);
    return outputRunning_;
}

WaveFormat ScriptedDevice::LastFormat() const {
    const std::lock_guard lock(mutex_);
    return format_;
}

void ScriptedDevice::Log(const char* call) const {
    calls_.emplace_back(call);
}

void ScriptedDevice::CaptureUpTo(std::int32_t target) {
    const auto limit = static_cast<std::int32_t>(std::min(capture_.size(), inputBuffer_.size()));
    target = std::min(target, limit);
    const std::int32_t from = written_.load(std::memory_order_relaxed);
    if (target <= from) {
        return;
    }
    std::copy(capture_.begin() + from, capture_.begin() + target, inputBuffer_.begin() + from);
    // Release: a reader that sees the new count also sees the samples below it.
    written_.store(target, std::memory_order_release);
}

void ScriptedDevice::PlayUpTo(std::int32_t target) {
    target = std::min(target, static_cast<std::int32_t>(outputBuffer_.size()));
    if (target <= playedCount_) {
        return;
    }
    played_.insert(played_.end(), outputBuffer_.begin() + playedCount_,
                   outputBuffer_.begin() + target);
    playedCount_ = target;
}

void ScriptedDevice::StartWorkerLocked() {
    if (worker_.joinable()) {
        return;
    }
    stopWorker_ = false;
    worker_ = std::thread([this] { RunClock(); });
}

void ScriptedDevice::StopWorker() {
    std::thread worker;
    {
        const std::lock_guard lock(mutex_);
        stopWorker_ = true;
        worker = std::move(worker_);
    }
    wake_.notify_all();
    if (worker.joinable()) {
        worker.join();
    }
}

void ScriptedDevice::RunClock() {
    std::unique_lock lock(mutex_);
    while (!stopWorker_) {
        wake_.wait_for(lock, kTick, [this] { return stopWorker_; });
        if (stopWorker_) {
            break;
        }
        if (inputRunning_ && inputClocked_) {
            CaptureUpTo(SamplesSince(inputStart_, format_.samplesPerSec));
        }
        if (outputRunning_ && outputClocked_) {
            PlayUpTo(SamplesSince(outputStart_, format_.samplesPerSec));
        }
    }
}

bool ScriptedDevice::OpenInput(const WaveFormat& format) {
    const std::lock_guard lock(mutex_);
    Log("OpenInput");
    if (failures_.openInput || inputOpen_) {
        return false;
    }
    inputOpen_ = true;
    format_ = format;
    written_.store(0, std::memory_order_release);
    return true;
}

bool ScriptedDevice::PrepareInput(std::span<std::int16_t> buffer) {
    const std::lock_guard lock(mutex_);
    Log("PrepareInput");
    if (failures_.prepareInput || !inputOpen_) {
        return false;
    }
    inputBuffer_ = buffer;
    inputPrepared_ = true;
    return true;
}

bool ScriptedDevice::AddInputBuffer() {
    const std::lock_guard lock(mutex_);
    Log("AddInputBuffer");
    if (failures_.addInputBuffer || !inputPrepared_) {
        return false;
    }
    inputQueued_ = true;
    return true;
}

bool ScriptedDevice::StartInput() {
    const std::lock_guard lock(mutex_);
    Log("StartInput");
    if (failures_.startInput || !inputQueued_ || inputRunning_) {
        return false;
    }
    written_.store(0, std::memory_order_release);
    inputRunning_ = true;
    inputClocked_ = false;
    if (pace_ == Pace::Instant) {
        CaptureUpTo(static_cast<std::int32_t>(inputBuffer_.size()));
    } else if (pace_ == Pace::RealTime) {
        inputStart_ = Clock::now();
        inputClocked_ = true;
        StartWorkerLocked();
    }
    return true;
}

std::int32_t ScriptedDevice::InputPosition() const {
    {
        const std::lock_guard lock(mutex_);
        Log("InputPosition");
    }
    return written_.load(std::memory_order_acquire);
}

std::int32_t ScriptedDevice::ResetInput() {
    bool stopClock = false;
    {
        const std::lock_guard lock(mutex_);
        Log("ResetInput");
        if (inputRunning_ && inputClocked_) {
            // Whatever the clock has reached by now counts, as with a real device.
            CaptureUpTo(SamplesSince(inputStart_, format_.samplesPerSec));
        }
        inputRunning_ = false;
        inputClocked_ = false;
        inputQueued_ = false;
        stopClock = !outputRunning_;
    }
    if (stopClock) {
        StopWorker();
    }
    return written_.load(std::memory_order_acquire);
}

void ScriptedDevice::UnprepareInput() {
    const std::lock_guard lock(mutex_);
    Log("UnprepareInput");
    inputRunning_ = false;
    inputClocked_ = false;
    inputQueued_ = false;
    inputPrepared_ = false;
    inputBuffer_ = {};
}

void ScriptedDevice::CloseInput() {
    const std::lock_guard lock(mutex_);
    Log("CloseInput");
    inputRunning_ = false;
    inputClocked_ = false;
    inputQueued_ = false;
    inputPrepared_ = false;
    inputBuffer_ = {};
    inputOpen_ = false;
}

bool ScriptedDevice::OpenOutput(const WaveFormat& format) {
    const std::lock_guard lock(mutex_);
    Log("OpenOutput");
    if (failures_.openOutput || outputOpen_) {
        return false;
    }
    outputOpen_ = true;
    format_ = format;
    return true;
}

bool ScriptedDevice::PrepareOutput(std::span<const std::int16_t> buffer) {
    const std::lock_guard lock(mutex_);
    Log("PrepareOutput");
    if (failures_.prepareOutput || !outputOpen_) {
        return false;
    }
    outputBuffer_ = buffer;
    outputPrepared_ = true;
    return true;
}

bool ScriptedDevice::WriteOutput() {
    const std::lock_guard lock(mutex_);
    Log("WriteOutput");
    if (failures_.writeOutput || !outputPrepared_ || outputRunning_) {
        return false;
    }
    playedCount_ = 0;
    outputRunning_ = true;
    outputClocked_ = false;
    if (pace_ == Pace::Instant) {
        PlayUpTo(static_cast<std::int32_t>(outputBuffer_.size()));
    } else if (pace_ == Pace::RealTime) {
        outputStart_ = Clock::now();
        outputClocked_ = true;
        StartWorkerLocked();
    }
    return true;
}

void ScriptedDevice::ResetOutput() {
    bool stopClock = false;
    {
        const std::lock_guard lock(mutex_);
        Log("ResetOutput");
        if (outputRunning_ && outputClocked_) {
            PlayUpTo(SamplesSince(outputStart_, format_.samplesPerSec));
        }
        outputRunning_ = false;
        outputClocked_ = false;
        stopClock = !inputRunning_;
    }
    if (stopClock) {
        StopWorker();
    }
}

void ScriptedDevice::UnprepareOutput() {
    const std::lock_guard lock(mutex_);
    Log("UnprepareOutput");
    outputRunning_ = false;
    outputClocked_ = false;
    outputPrepared_ = false;
    outputBuffer_ = {};
}

void ScriptedDevice::CloseOutput() {
    const std::lock_guard lock(mutex_);
    Log("CloseOutput");
    outputRunning_ = false;
    outputClocked_ = false;
    outputPrepared_ = false;
    outputBuffer_ = {};
    outputOpen_ = false;
}

}  // namespace quorvane
