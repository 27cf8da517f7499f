#include "audio/PortAudioDevice.h"

#include <portaudio.h>

#ifdef QUORVANE_QUIET_ALSA
#include <alsa/asoundlib.h>
#endif
#ifdef QUORVANE_QUIET_JACK
#include <jack/jack.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

namespace quorvane {

namespace {

using Clock = std::chrono::steady_clock;

// Silence played after the last sample before a playback stream is let go: the sound
// system still holds the stream's own latency worth of samples at that point, and stopping
// earlier cuts them off (about 46 ms with the ALSA pulse plugin).
constexpr std::chrono::milliseconds kDrainMargin{60};
// Silence played before the first sample: a new stream loses its first ~10 ms (measured
// with the ALSA pulse plugin), which would otherwise be the start of the recording.
constexpr std::chrono::milliseconds kLeadIn{20};
// Smallest output latency asked for; see OpenDefaultStream.
constexpr double kMinOutputLatencySeconds = 0.1;
// Polling step while a stopping stream finishes its last callback.
constexpr std::chrono::milliseconds kStopPoll{2};

// The sound libraries under PortAudio report every device they probe and cannot open:
// ALSA's "Unknown PCM ..." for each device of its configuration that this machine lacks,
// JACK's "Cannot connect to server socket" when no JACK server runs. That is some seventy
// lines on the terminal at every start, none of which a user can act on: the program's
// own warnings say when no device opens. They are dropped unless QUORVANE_VERBOSE=1 asks
// for them. Read at every initialisation, so a test can ask for them and stop asking.
bool SoundLibraryMessagesWanted() {
    const char* verbose = std::getenv("QUORVANE_VERBOSE");
    return verbose != nullptr && std::string_view(verbose) == "1";
}

#ifdef QUORVANE_QUIET_ALSA
void DropAlsaMessage(const char* /*file*/, int /*line*/, const char* /*function*/, int /*error*/,
                     const char* /*format*/, ...) {}
#endif

#ifdef QUORVANE_QUIET_JACK
void DropJackMessage(const char* /*message*/) {}
#endif

// Sends the sound libraries' messages to the terminal (their defaults) or nowhere.
void RouteSoundLibraryMessages() {
    [[maybe_unused]] const bool wanted = SoundLibraryMessagesWanted();
#ifdef QUORVANE_QUIET_ALSA
    snd_lib_error_set_handler(wanted ? nullptr : &DropAlsaMessage);
#endif
#ifdef QUORVANE_QUIET_JACK
    jack_set_error_function(wanted ? nullptr : &DropJackMessage);
    jack_set_info_function(wanted ? nullptr : &DropJackMessage);
#endif
}

// PortAudio initialised for as long as a device holds it. The program keeps one device
// for its lifetime, so PortAudio is initialised once; tests that create devices one after
// another get a fresh initialisation each, which picks up a changed sound environment.
class PortAudioLibrary final {
public:
    static std::shared_ptr<PortAudioLibrary> Acquire() {
        static std::mutex mutex;
        static std::weak_ptr<PortAudioLibrary> current;
        const std::lock_guard lock(mutex);
        std::shared_ptr<PortAudioLibrary> library = current.lock();
        if (!library) {
            library = std::make_shared<PortAudioLibrary>();
            current = library;
        }
        return library;
    }

    PortAudioLibrary() : ready_(Initialize()) {}
    ~PortAudioLibrary() {
        if (ready_) {
            Pa_Terminate();
        }
    }
    PortAudioLibrary(const PortAudioLibrary&) = delete;
    PortAudioLibrary& operator=(const PortAudioLibrary&) = delete;

    [[nodiscard]] bool Ready() const { return ready_; }

private:
    static bool Initialize() {
        RouteSoundLibraryMessages();
        return Pa_Initialize() == paNoError;
    }

    bool ready_;
};

std::int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

// Opens a callback stream of 16-bit samples on the default device of one direction.
PaStream* OpenDefaultStream(bool input, const WaveFormat& format, PaStreamCallback* callback,
                            void* userData) {
    if (format.formatTag != 1 || format.bitsPerSample != 16 || format.channels < 1) {
        return nullptr;
    }
    const PaDeviceIndex device = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
    if (device == paNoDevice) {
        return nullptr;
    }
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (info == nullptr) {
        return nullptr;
    }
    PaStreamParameters parameters{};
    parameters.device = device;
    parameters.channelCount = format.channels;
    parameters.sampleFormat = paInt16;
    // Capture takes the device's low latency: the first sample arrives after ~10 ms.
    // Playback needs a deeper buffer: at the low latency (~12 ms, 64-frame callbacks) the
    // ALSA pulse plugin underflows on every callback and PortAudio consumes the buffer
    // faster than real time, so most of it is never heard.
    parameters.suggestedLatency =
        input ? info->defaultLowInputLatency
              : std::max(info->defaultHighOutputLatency, kMinOutputLatencySeconds);
    parameters.hostApiSpecificStreamInfo = nullptr;
    PaStream* stream = nullptr;
    const PaError result =
        Pa_OpenStream(&stream, input ? &parameters : nullptr, input ? nullptr : &parameters,
                      static_cast<double>(format.samplesPerSec), paFramesPerBufferUnspecified,
                      paClipOff | paDitherOff, callback, userData);
    if (result != paNoError) {
        return nullptr;
    }
    return stream;
}

// Lets a started stream come to rest: waits up to `timeout` for its callback to have
// returned paComplete, then stops it; a stream that is still active then is aborted.
// Returns true when the stream stopped by itself in time.
bool StopBounded(PaStream* stream, std::chrono::milliseconds timeout) {
    const Clock::time_point deadline = Clock::now() + timeout;
    while (Pa_IsStreamActive(stream) == 1 && Clock::now() < deadline) {
        std::this_thread::sleep_for(kStopPoll);
    }
    if (Pa_IsStreamActive(stream) != 0) {
        // Still running (or in an unknown state): the callback is not being called, as with
        // a source that delivers nothing, and a normal stop would wait for it forever.
        Pa_AbortStream(stream);
        return false;
    }
    Pa_StopStream(stream);
    return true;
}

}  // namespace

struct PortAudioDevice::Impl {
    std::shared_ptr<PortAudioLibrary> library = PortAudioLibrary::Acquire();

    // Capture. The callback thread writes `inBuffer` and `written`; the caller's thread
    // reads `written` at any time and the samples below it.
    PaStream* inStream = nullptr;
    std::span<std::int16_t> inBuffer;
    bool inPrepared = false;
    bool inQueued = false;
    bool inRunning = false;
    std::atomic<std::int32_t> written{0};
    std::atomic<bool> inStopRequested{false};
    std::atomic<std::int64_t> inStartUs{0};
    std::atomic<std::int64_t> firstInputUs{-1};
    bool inStopClean = false;

    // Playback. The callback reads `outBuffer` from `playPosition` on.
    PaStream* outStream = nullptr;
    std::span<const std::int16_t> outBuffer;
    bool outPrepared = false;
    bool outRunning = false;
    std::atomic<std::int32_t> playPosition{0};
    std::atomic<bool> outStopRequested{false};
    std::int32_t drainFrames = 0;  // silence to play after the last sample
    std::int32_t leadFrames = 0;   // silence to play before the first sample
    std::int32_t drainLeft = 0;    // callback only, once started
    std::int32_t leadLeft = 0;     // callback only, once started
    bool outRanToEnd = false;

    static int InputCallback(const void* input, void* output, unsigned long frames,
                             const PaStreamCallbackTimeInfo* timeInfo,
                             PaStreamCallbackFlags statusFlags, void* userData);
    static int OutputCallback(const void* input, void* output, unsigned long frames,
                              const PaStreamCallbackTimeInfo* timeInfo,
                              PaStreamCallbackFlags statusFlags, void* userData);

    void CloseInputStream();
    PaStream* OpenStream(bool input, const WaveFormat& format);
    void StopOutputStream();
    void CloseOutputStream();
};

int PortAudioDevice::Impl::InputCallback(const void* input, void* /*output*/, unsigned long frames,
                                         const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                         PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    Impl& self = *static_cast<Impl*>(userData);
    if (self.inStopRequested.load(std::memory_order_acquire)) {
        return paComplete;
    }
    const std::int32_t position = self.written.load(std::memory_order_relaxed);
    const auto room = static_cast<std::int32_t>(self.inBuffer.size()) - position;
    const auto count = static_cast<std::int32_t>(
        std::min<unsigned long>(frames, static_cast<unsigned long>(std::max(room, 0))));
    if (count > 0) {
        std::int16_t* target = self.inBuffer.data() + position;
        if (input != nullptr) {
            std::memcpy(target, input, static_cast<std::size_t>(count) * sizeof(std::int16_t));
        } else {
            std::fill(target, target + count, std::int16_t{0});
        }
        if (position == 0) {
            self.firstInputUs.store(NowMicroseconds() - self.inStartUs.load(),
                                    std::memory_order_relaxed);
        }
        // Release: whoever reads the new count also sees the samples below it.
        self.written.store(position + count, std::memory_order_release);
    }
    return position + count >= static_cast<std::int32_t>(self.inBuffer.size()) ? paComplete
                                                                               : paContinue;
}

int PortAudioDevice::Impl::OutputCallback(const void* /*input*/, void* output, unsigned long frames,
                                          const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                          PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    Impl& self = *static_cast<Impl*>(userData);
    auto* target = static_cast<std::int16_t*>(output);
    const auto wanted = static_cast<std::int32_t>(frames);
    // Lead-in silence first: the sound system loses the first ~10 ms of a new stream.
    const std::int32_t lead = std::min(self.leadLeft, wanted);
    std::fill(target, target + lead, std::int16_t{0});
    self.leadLeft -= lead;
    std::int32_t done = lead;
    if (!self.outStopRequested.load(std::memory_order_acquire)) {
        const std::int32_t position = self.playPosition.load(std::memory_order_relaxed);
        const auto left = static_cast<std::int32_t>(self.outBuffer.size()) - position;
        const std::int32_t count = std::clamp(left, 0, wanted - done);
        std::memcpy(target + done, self.outBuffer.data() + position,
                    static_cast<std::size_t>(count) * sizeof(std::int16_t));
        self.playPosition.store(position + count, std::memory_order_relaxed);
        done += count;
        if (done == wanted) {
            return paContinue;
        }
    }
    std::fill(target + done, target + wanted, std::int16_t{0});
    // Past the last sample: play silence until what is already queued in the sound system
    // has been heard, then finish.
    self.drainLeft -= wanted - done;
    return self.drainLeft > 0 ? paContinue : paComplete;
}

PaStream* PortAudioDevice::Impl::OpenStream(bool input, const WaveFormat& format) {
    PaStreamCallback* callback = input ? &InputCallback : &OutputCallback;
    PaStream* stream =
        library->Ready() ? OpenDefaultStream(input, format, callback, this) : nullptr;
    // PortAudio learns the devices when it is initialised. When nothing else uses it, start
    // it afresh after a failed open, so that a device or sound server that appeared after
    // the program started is found at the next press.
    if (stream == nullptr && inStream == nullptr && outStream == nullptr &&
        library.use_count() == 1) {
        library.reset();
        library = PortAudioLibrary::Acquire();
        if (library->Ready()) {
            stream = OpenDefaultStream(input, format, callback, this);
        }
    }
    return stream;
}

void PortAudioDevice::Impl::CloseInputStream() {
    if (inStream != nullptr) {
        if (Pa_IsStreamStopped(inStream) == 0) {
            inStopRequested.store(true, std::memory_order_release);
            inStopClean = StopBounded(inStream, kStopTimeout);
        }
        Pa_CloseStream(inStream);
        inStream = nullptr;
    }
    inRunning = false;
    inQueued = false;
    inPrepared = false;
    inBuffer = {};
}

void PortAudioDevice::Impl::StopOutputStream() {
    outStopRequested.store(true, std::memory_order_release);
    if (Pa_IsStreamActive(outStream) != 0) {
        // Released while playing: playback ends at once, what is still queued is dropped.
        // An abort does not wait for the callback, so it cannot hang.
        Pa_AbortStream(outStream);
        outRanToEnd = false;
    } else {
        // The callback finished by itself after the buffer's end and the drain.
        Pa_StopStream(outStream);
        outRanToEnd = true;
    }
}

void PortAudioDevice::Impl::CloseOutputStream() {
    if (outStream != nullptr) {
        if (Pa_IsStreamStopped(outStream) == 0) {
            StopOutputStream();
        }
        Pa_CloseStream(outStream);
        outStream = nullptr;
    }
    outRunning = false;
    outPrepared = false;
    outBuffer = {};
}

PortAudioDevice::PortAudioDevice() : impl_(std::make_unique<Impl>()) {}

PortAudioDevice::~PortAudioDevice() {
    impl_->CloseInputStream();
    impl_->CloseOutputStream();
}

bool PortAudioDevice::OpenInput(const WaveFormat& format) {
    Impl& d = *impl_;
    if (d.inStream != nullptr) {
        return false;
    }
    d.written.store(0, std::memory_order_release);
    d.inStream = d.OpenStream(true, format);
    return d.inStream != nullptr;
}

bool PortAudioDevice::PrepareInput(std::span<std::int16_t> buffer) {
    Impl& d = *impl_;
    if (d.inStream == nullptr || d.inRunning || buffer.empty()) {
        return false;
    }
    d.inBuffer = buffer;
    d.inPrepared = true;
    return true;
}

bool PortAudioDevice::AddInputBuffer() {
    Impl& d = *impl_;
    if (!d.inPrepared || d.inRunning) {
        return false;
    }
    d.inQueued = true;
    return true;
}

bool PortAudioDevice::StartInput() {
    Impl& d = *impl_;
    if (!d.inQueued || d.inRunning) {
        return false;
    }
    d.written.store(0, std::memory_order_release);
    d.inStopRequested.store(false, std::memory_order_release);
    d.firstInputUs.store(-1, std::memory_order_relaxed);
    d.inStartUs.store(NowMicroseconds());
    if (Pa_StartStream(d.inStream) != paNoError) {
        return false;
    }
    d.inRunning = true;
    return true;
}

std::int32_t PortAudioDevice::InputPosition() const {
    return impl_->written.load(std::memory_order_acquire);
}

std::int32_t PortAudioDevice::ResetInput() {
    Impl& d = *impl_;
    if (d.inRunning) {
        d.inStopRequested.store(true, std::memory_order_release);
        d.inStopClean = StopBounded(d.inStream, kStopTimeout);
        d.inRunning = false;
        d.inQueued = false;
    }
    return d.written.load(std::memory_order_acquire);
}

void PortAudioDevice::UnprepareInput() {
    Impl& d = *impl_;
    if (d.inRunning) {
        ResetInput();
    }
    d.inQueued = false;
    d.inPrepared = false;
}

void PortAudioDevice::CloseInput() {
    impl_->CloseInputStream();
}

bool PortAudioDevice::OpenOutput(const WaveFormat& format) {
    Impl& d = *impl_;
    if (d.outStream != nullptr) {
        return false;
    }
    d.outStream = d.OpenStream(false, format);
    if (d.outStream == nullptr) {
        return false;
    }
    const PaStreamInfo* info = Pa_GetStreamInfo(d.outStream);
    const double latency = info != nullptr ? info->outputLatency : 0.0;
    const double drainSeconds = latency + std::chrono::duration<double>(kDrainMargin).count();
    d.drainFrames = static_cast<std::int32_t>(drainSeconds * format.samplesPerSec);
    d.leadFrames = static_cast<std::int32_t>(std::chrono::duration<double>(kLeadIn).count() *
                                             format.samplesPerSec);
    return true;
}

bool PortAudioDevice::PrepareOutput(std::span<const std::int16_t> buffer) {
    Impl& d = *impl_;
    if (d.outStream == nullptr || d.outRunning || buffer.empty()) {
        return false;
    }
    d.outBuffer = buffer;
    d.outPrepared = true;
    return true;
}

bool PortAudioDevice::WriteOutput() {
    Impl& d = *impl_;
    if (!d.outPrepared || d.outRunning) {
        return false;
    }
    d.playPosition.store(0, std::memory_order_relaxed);
    d.drainLeft = d.drainFrames;
    d.leadLeft = d.leadFrames;
    d.outStopRequested.store(false, std::memory_order_release);
    if (Pa_StartStream(d.outStream) != paNoError) {
        return false;
    }
    d.outRunning = true;
    return true;
}

void PortAudioDevice::ResetOutput() {
    Impl& d = *impl_;
    if (!d.outRunning) {
        return;
    }
    d.StopOutputStream();
    d.outRunning = false;
}

void PortAudioDevice::UnprepareOutput() {
    Impl& d = *impl_;
    if (d.outRunning) {
        ResetOutput();
    }
    d.outPrepared = false;
}

void PortAudioDevice::CloseOutput() {
    impl_->CloseOutputStream();
}

std::optional<std::chrono::microseconds> PortAudioDevice::FirstInputDelay() const {
    const std::int64_t delay = impl_->firstInputUs.load(std::memory_order_relaxed);
    if (delay < 0) {
        return std::nullopt;
    }
    return std::chrono::microseconds(delay);
}

bool PortAudioDevice::LastInputStopWasClean() const {
    return impl_->inStopClean;
}

bool PortAudioDevice::LastPlaybackRanToItsEnd() const {
    return impl_->outRanToEnd;
}

}  // namespace quorvane
