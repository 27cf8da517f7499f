#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "ui_Seckey.h"

class Prompt;
class QShowEvent;

// "Security key": the user types the eight numbers of the key file, one per
// line, or loads them from the key file itself. One instance lives for the whole
// run; the decoding workflow empties Memo1 and fills Edit1 before each use. The
// controls are public members.
class TForm4 final : public QDialog, public Ui_TForm4 {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);

    // The prompt serves "Load key file..." (its file dialog and refusals).
    void SetPrompt(Prompt* prompt) { prompt_ = prompt; }

    // Memo1's lines as a multi-line edit counts them: an empty memo has none,
    // and a line end after the last line does not start another one.
    QStringList KeyLines() const;

    // "Load key file...": fills Memo1 with the eight numbers of a chosen key file
    // of the user in Edit1; any other file is refused with a message and leaves
    // Memo1 as it was.
    void Button3Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    Prompt* prompt_ = nullptr;
};
