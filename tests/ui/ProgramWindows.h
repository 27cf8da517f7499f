#pragma once

#include <QAbstractButton>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "ui/Encode.h"
#include "ui/Main.h"
#include "ui/Seckey.h"
#include "ui/Secparam.h"
#include "ui_Main.h"

class ScriptedPrompt;

namespace quorvane {
class ScriptedDevice;
class WaveDevice;
}  // namespace quorvane

// The program's four windows, wired together as the program wires them, the main
// window shown; driven as a person would, through their buttons. The main window goes
// first on destruction: it refers to the others.
class ProgramWindows {
public:
    // With the scripted sound device, reachable through `device`.
    ProgramWindows(ScriptedPrompt& prompt, const std::filesystem::path& speakers);
    // With the given sound device; `device` stays null.
    ProgramWindows(ScriptedPrompt& prompt, std::unique_ptr<quorvane::WaveDevice> sound,
                   const std::filesystem::path& speakers);
    ~ProgramWindows();
    ProgramWindows(const ProgramWindows&) = delete;
    ProgramWindows& operator=(const ProgramWindows&) = delete;

    // The main window's controls, by their form names.
    Ui::TForm1& ui() const { return *form1->ui; }

    // Hold Record while the scripted device delivers `samples`, then release.
    void Record(const std::vector<std::int16_t>& samples);
    void Click(QAbstractButton* button) const;

    ScriptedPrompt& prompt;
    quorvane::ScriptedDevice* device = nullptr;
    std::unique_ptr<TForm1> form1;
    std::unique_ptr<TForm2> form2;
    std::unique_ptr<TForm3> form3;
    std::unique_ptr<TForm4> form4;

private:
    void Open(std::unique_ptr<quorvane::WaveDevice> sound, const std::filesystem::path& speakers);
};
