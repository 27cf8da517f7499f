#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

#include "ui_Seckey.h"

class QShowEvent;

// "Security key": the user types the eight numbers of the key file, one per
// line. One instance lives for the whole run; the decoding workflow empties
// Memo1 and fills Edit1 before each use. The controls are public members.
class TForm4 final : public QDialog, public Ui_TForm4 {
    Q_OBJECT

public:
    explicit TForm4(QWidget* parent = nullptr);

    // Memo1's lines as a multi-line edit counts them: an empty memo has none,
    // and a line end after the last line does not start another one.
    QStringList KeyLines() const;

protected:
    void showEvent(QShowEvent* event) override;
};
