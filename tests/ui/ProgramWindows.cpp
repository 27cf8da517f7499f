#include "tests/ui/ProgramWindows.h"

#include <QTest>
#include <utility>

#include "tests/support/ScriptedDevice.h"
#include "tests/ui/ScriptedPrompt.h"

ProgramWindows::ProgramWindows(ScriptedPrompt& prompt, const std::filesystem::path& speakers)
    : prompt(prompt) {
    auto scripted = std::make_unique<quorvane::ScriptedDevice>();
    device = scripted.get();
    Open(std::move(scripted), speakers);
}

ProgramWindows::ProgramWindows(ScriptedPrompt& prompt, std::unique_ptr<quorvane::WaveDevice> sound,
                               const std::filesystem::path& speakers)
    : prompt(prompt) {
    Open(std::move(sound), speakers);
}

void ProgramWindows::Open(std::unique_ptr<quorvane::WaveDevice> sound,
                          const std::filesystem::path& speakers) {
    form1 = std::make_unique<TForm1>(prompt, std::move(sound), speakers);
    form2 = std::make_unique<TForm2>();
    form3 = std::make_unique<TForm3>(&prompt);
    form4 = std::make_unique<TForm4>();
    form1->AttachDialogs(*form2, *form3, *form4);
    form1->show();
}

ProgramWindows::~ProgramWindows() {
    form1.reset();
    form4.reset();
    form3.reset();
    form2.reset();
}

void ProgramWindows::Record(const std::vector<std::int16_t>& samples) {
    device->SetCapture(samples, quorvane::ScriptedDevice::Pace::Instant);
    QTest::mousePress(ui().BitBtn1, Qt::LeftButton);
    QTest::mouseRelease(ui().BitBtn1, Qt::LeftButton);
}

void ProgramWindows::Click(QAbstractButton* button) const {
    QTest::mouseClick(button, Qt::LeftButton);
}
