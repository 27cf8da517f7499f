// The press-and-hold controls of the main window: Record (BitBtn1) and Play (BitBtn2) held
// with the left mouse button or with Space, their hover hints in the status panel
// (BitBtn1MouseMove, BitBtn2MouseMove, FormMouseMove), and the level meter on Pr1 driven by
// Timer1 while a button is held.

#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <utility>

#include "audio/SoundBuffer.h"
#include "ui/Accessible.h"
#include "ui/Main.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/WidgetLooks.h"
#include "ui_Main.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"

namespace {

constexpr std::int32_t kFullScale = 32768;  // a 16-bit sample's full scale, for the meter

}  // namespace

using ui::FromUtf8;
using ui::SetTextColour;

void TForm1::BitBtn1MouseMove() {
    SetStatusText(QStringLiteral("Press and hold to record sound"));
}

void TForm1::BitBtn2MouseMove() {
    SetStatusText(QStringLiteral("Press and hold to play recorded sound"));
}

void TForm1::FormMouseMove() {
    SetStatusText(QString());
}

void TForm1::BitBtn1MouseDown(Qt::MouseButton button) {
    ui->Pr1->setRange(0, 100);
    ui->Pr1->setValue(0);
    pr1Progress.SetStep(1);
    ui->Label2->setText(QString());
    ui::NameAfterText(*ui->Label2, ui::kVerificationResultName);
    SetTextColour(ui->Label4, kClGreen);
    ui->Label4->setText(QStringLiteral("Result"));
    ui::NameAfterText(*ui->Label4, ui::kDecodingResultName);
    // Only a left press starts a recording, and only when no button is held already.
    if (button != Qt::LeftButton || hold_ != Hold::None || !soundBuffer) {
        return;
    }
    SetStatusText(QStringLiteral("Release button to stop recording"));
    const std::span<std::int16_t> pcm = soundBuffer->Pcm();
    std::fill(pcm.begin(), pcm.end(), std::int16_t{0});
    enrolment.DropRecording();
    hold_ = Hold::Recording;
    const int shownBefore = front.Shown();
    soundBuffer->Open("In");
    soundBuffer->StartRecording();
    elapsedMs = 0;
    Timer1->start();
    FinishHoldIfReleased(shownBefore, button);
}

void TForm1::FinishHoldIfReleased(int shownBefore, Qt::MouseButton button) {
    if (front.Shown() == shownBefore || (QGuiApplication::mouseButtons() & button) != 0) {
        return;
    }
    if (hold_ == Hold::Recording) {
        BitBtn1MouseUp(button);
    } else if (hold_ == Hold::Playing) {
        BitBtn2MouseUp(button);
    }
}

void TForm1::BitBtn1MouseUp(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::Recording || !soundBuffer) {
        return;
    }
    hold_ = Hold::None;
    Timer1->stop();
    const std::int32_t position = soundBuffer->RecordingPosition();
    soundBuffer->Stop("In");
    soundBuffer->Close("In");
    elapsedMs = 0;
    ui->Pr1->setValue(0);

    // The bytes taken at the stop decide the length; when they give nothing beyond the
    // dropped start, the position read just before the stop does.
    const std::int32_t captured =
        std::clamp(quorvane::CapturedSampleCount(soundBuffer->RecordedBytes(), position), 0,
                   soundBuffer->Capacity());
    const std::span<const std::int16_t> recording =
        std::span<const std::int16_t>(soundBuffer->Pcm()).first(static_cast<std::size_t>(captured));
    const quorvane::LevelCheckResult check = enrolment.TakeRecording(recording);
    if (!check.recorded) {
        prompt.Message(FromUtf8(quorvane::kSoundNotRecordedText));
        return;
    }
    for (const quorvane::LevelWarning& warning : check.Warnings()) {
        prompt.Box(FromUtf8(warning.text), FromUtf8(warning.caption), Prompt::Icon::Warning);
    }
}

void TForm1::BitBtn2MouseDown(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::None || !soundBuffer) {
        return;
    }
    ui->Pr1->setRange(0, 100);
    ui->Pr1->setValue(0);
    pr1Progress.SetStep(1);
    SetStatusText(QStringLiteral("Release button to stop playing"));
    hold_ = Hold::Playing;
    const int shownBefore = front.Shown();
    soundBuffer->Open("Out");
    elapsedMs = 0;
    Timer1->start();
    soundBuffer->StartPlaying();
    FinishHoldIfReleased(shownBefore, button);
}

void TForm1::BitBtn2MouseUp(Qt::MouseButton button) {
    if (button != Qt::LeftButton || hold_ != Hold::Playing || !soundBuffer) {
        return;
    }
    hold_ = Hold::None;
    Timer1->stop();
    soundBuffer->Stop("Out");
    soundBuffer->Close("Out");
    ui->Pr1->setValue(0);
    elapsedMs = 0;
}

void TForm1::SpaceDown(bool record, bool autoRepeat) {
    if (keyRelease_->isActive()) {
        // A press within the grace time: the key never came up.
        keyRelease_->stop();
        return;
    }
    if (autoRepeat || keyHold_ != Hold::None || hold_ != Hold::None) {
        return;
    }
    keyHold_ = record ? Hold::Recording : Hold::Playing;
    (record ? ui->BitBtn1 : ui->BitBtn2)->setDown(true);
    pressing_ = true;
    keyHoldEnded_ = false;
    record ? BitBtn1MouseDown(Qt::LeftButton) : BitBtn2MouseDown(Qt::LeftButton);
    pressing_ = false;
    // A hold that a warning box already ended, or whose key came up meanwhile.
    if (hold_ == Hold::None || keyHoldEnded_) {
        EndKeyHold();
    }
}

void TForm1::SpaceUp(bool autoRepeat) {
    if (!autoRepeat && keyHold_ != Hold::None) {
        keyRelease_->start();
    }
}

void TForm1::KeyHoldReleased() {
    keyRelease_->stop();
    // Inside the press handler the hold ends once the press has finished.
    if (pressing_) {
        keyHoldEnded_ = true;
    } else {
        EndKeyHold();
    }
}

void TForm1::EndKeyHold() {
    keyRelease_->stop();
    const Hold held = std::exchange(keyHold_, Hold::None);
    if (held == Hold::Recording) {
        ui->BitBtn1->setDown(false);
        BitBtn1MouseUp(Qt::LeftButton);
    } else if (held == Hold::Playing) {
        ui->BitBtn2->setDown(false);
        BitBtn2MouseUp(Qt::LeftButton);
    }
}

void TForm1::Timer1Timer() {
    if (!soundBuffer) {
        return;
    }
    // The meter follows the clock: each tick reads the 200 ms of the buffer the device
    // should have reached by now (2205 samples at 11025 Hz), never beyond the buffer.
    const std::int64_t rate = soundBuffer->Rate();
    const std::int64_t capacity = soundBuffer->Capacity();
    const std::int64_t start = std::min(rate * elapsedMs / 1000, capacity);
    elapsedMs += Timer1->interval();
    const std::int64_t end = std::min(rate * elapsedMs / 1000, capacity);
    if (end <= start) {
        ui->Pr1->setValue(0);
        return;
    }
    // While capturing, samples the device has not written yet are read as the zeros
    // the press put there, without touching memory the device may be writing.
    std::int64_t readable = end;
    if (hold_ == Hold::Recording) {
        readable = std::clamp<std::int64_t>(soundBuffer->RecordingPosition(), start, end);
    }
    const std::span<const std::int16_t> pcm = soundBuffer->Pcm();
    std::int64_t sum = 0;
    for (std::int64_t i = start; i < readable; ++i) {
        sum += std::abs(static_cast<std::int32_t>(pcm[static_cast<std::size_t>(i)]));
    }
    const std::int64_t mean = sum / (end - start);
    ui->Pr1->setValue(static_cast<int>(std::min<std::int64_t>(mean * 100 / kFullScale, 100)));
}
