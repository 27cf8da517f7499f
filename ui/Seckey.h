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

// Reads one typed key number: a signed 32-bit decimal integer, as the key file
// writes it. Surrounding blanks are ignored; an optional sign and decimal digits
// within the 32-bit range are accepted, nothing else (no hexadecimal forms, no
// inner blanks, no fraction). Empty when the text is not such a number.
std::optional<std::int32_t> ParseKeyNumber(const QString& text);
