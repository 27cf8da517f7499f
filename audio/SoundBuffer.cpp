#include "audio/SoundBuffer.h"

#include <utility>

namespace quorvane {

namespace {

constexpr std::string_view kIn = "In";
constexpr std::string_view kOut = "Out";

constexpr const char* kRecordError = "Record Error";
constexpr const char* kPlayError = "Play Error";

}  // namespace

SoundBuffer::SoundBuffer(std::unique_ptr<WaveDevice> device, Notifier& notifier)
    : pcm_(static_cast<std::size_t>(kCapacity), 0),
      device_(std::move(device)),
      notifier_(notifier) {
    header_.data = pcm_.data();
    header_.bufferLength = capacity_ * kBytesPerSample;
}

SoundBuffer::~SoundBuffer() {
    // The device must not go on writing or reading the memory that is about to be freed.
    if (inOpen_) {
        Stop(kIn);
        Close(kIn);
    }
    if (outOpen_) {
        Stop(kOut);
        Close(kOut);
    }
}

void SoundBuffer::Open(std::string_view direction) {
    if (direction == kIn) {
        // A press whose release never arrived leaves the device open; give it back first so
        // the new recording starts from a clean device.
        if (inOpen_) {
            Stop(kIn);
            Close(kIn);
        }
        inOpen_ = true;
        if (!device_->OpenInput(format_)) {
            notifier_.Warning("No open wave In-device!", kRecordError);
        }
        header_.bytesRecorded = 0;
        header_.preparedIn = device_->PrepareInput(pcm_);
        if (!header_.preparedIn) {
            notifier_.Warning("No prepared header wave In-device!", kRecordError);
        }
        recordedBytes_ = 0;
    } else if (direction == kOut) {
        if (outOpen_) {
            Stop(kOut);
            Close(kOut);
        }
        outOpen_ = true;
        if (!device_->OpenOutput(format_)) {
            notifier_.Warning("No open wave Out-device!", kPlayError);
        }
        header_.preparedOut = device_->PrepareOutput(std::span<const std::int16_t>(pcm_));
        if (!header_.preparedOut) {
            notifier_.Warning("No prepared header wave Out-device!", kPlayError);
        }
    } else {
        notifier_.Warning("No defined wave device!", "Error");
    }
}

void SoundBuffer::StartRecording() {
    if (!device_->AddInputBuffer()) {
        notifier_.Warning("No record wave In-device!", kRecordError);
    }
    if (!device_->StartInput()) {
        notifier_.Warning("No record wave In-device!", kRecordError);
    }
    recordedBytes_ = 0;
}

void SoundBuffer::StartPlaying() {
    if (!device_->WriteOutput()) {
        notifier_.Warning("No play wave Out-device!", kPlayError);
    }
}

void SoundBuffer::Stop(std::string_view direction) {
    if (direction == kIn) {
        const std::int32_t samples = device_->ResetInput();
        header_.bytesRecorded = samples * kBytesPerSample;
        recordedBytes_ = header_.bytesRecorded;
    } else if (direction == kOut) {
        device_->ResetOutput();
    }
}

void SoundBuffer::Close(std::string_view direction) {
    if (direction == kIn) {
        device_->UnprepareInput();
        device_->CloseInput();
        header_.preparedIn = false;
        inOpen_ = false;
    } else if (direction == kOut) {
        device_->UnprepareOutput();
        device_->CloseOutput();
        header_.preparedOut = false;
        outOpen_ = false;
    }
}

std::int32_t SoundBuffer::RecordingPosition() {
    positionBytes_ = static_cast<std::uint32_t>(device_->InputPosition()) *
                     static_cast<std::uint32_t>(kBytesPerSample);
    return static_cast<std::int32_t>(positionBytes_ >> 1U);
}

}  // namespace quorvane
