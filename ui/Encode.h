#pragma once

#include <QDialog>

#include "ui_Encode.h"

class Prompt;
class QShowEvent;

// "Files for encoding": confirms a batch of files and its output folder. One
// instance lives for the whole run; the encoding and the decoding workflows set
// its texts before each use. The controls are public members (Edit1, ListBox1,
// CheckBox1, Edit2, ...) because both workflows fill and read them directly.
class TForm3 final : public QDialog, public Ui_TForm3 {
    Q_OBJECT

public:
    // The prompt serves the "Change folder..." chooser; it may be set later.
    explicit TForm3(Prompt* prompt = nullptr, QWidget* parent = nullptr);

    void SetPrompt(Prompt* prompt) { prompt_ = prompt; }

    // "Change folder...": a folder chooser starting at Edit2's folder; a chosen
    // folder replaces Edit2's text, a cancelled chooser leaves it as it was.
    void Button2Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Prompt* prompt_ = nullptr;
};
