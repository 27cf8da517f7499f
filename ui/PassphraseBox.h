#pragma once

#include <QDialog>

#include "files/Secret.h"

class QCheckBox;
class QLineEdit;

// The passphrase of a protected user: one masked edit (PassphraseEdit), a second one to
// confirm a new passphrase (PassphraseAgainEdit), and "Remember in the keyring"
// (RememberCheckBox), shown and taken only when a keyring answers. Shown through the prompt's
// ShowModal like every dialog of the program.
class PassphraseBox final : public QDialog {
    Q_OBJECT
public:
    PassphraseBox(const QString& name, bool confirm, QWidget* parent = nullptr);
    ~PassphraseBox() override;

    // The typed passphrase as UTF-8 (and the second entry), wiped edits afterwards.
    [[nodiscard]] quorvane::SecretText TakePassphrase();
    [[nodiscard]] quorvane::SecretText TakeAgain();
    [[nodiscard]] bool Remember() const;

private:
    QLineEdit* passphrase_ = nullptr;
    QLineEdit* again_ = nullptr;
    QCheckBox* remember_ = nullptr;
};
