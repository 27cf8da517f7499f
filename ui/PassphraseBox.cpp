#include "ui/PassphraseBox.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include "keyring/Keyring.h"
#include "ui/TitleBar.h"

namespace {

// The edit's text as UTF-8 in wiped memory; the edit is emptied.
quorvane::SecretText Take(QLineEdit* edit) {
    quorvane::SecretText text;
    if (edit == nullptr) {
        return text;
    }
    QByteArray bytes = edit->text().toUtf8();
    text.assign(bytes.begin(), bytes.end());
    quorvane::WipeMemory(bytes.data(), static_cast<std::size_t>(bytes.size()));
    edit->clear();
    return text;
}

}  // namespace

PassphraseBox::PassphraseBox(const QString& name, bool confirm, QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("PassphraseBox"));
    setWindowTitle(tr("Passphrase"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    passphrase_ = new QLineEdit(this);
    passphrase_->setObjectName(QStringLiteral("PassphraseEdit"));
    passphrase_->setEchoMode(QLineEdit::Password);
    form->addRow(tr("Passphrase for %1:").arg(name), passphrase_);
    if (confirm) {
        again_ = new QLineEdit(this);
        again_->setObjectName(QStringLiteral("PassphraseAgainEdit"));
        again_->setEchoMode(QLineEdit::Password);
        form->addRow(tr("Once more:"), again_);
    }
    layout->addLayout(form);
    remember_ = new QCheckBox(tr("Remember in the keyring"), this);
    remember_->setObjectName(QStringLiteral("RememberCheckBox"));
    layout->addWidget(remember_);
    // Offered only when a keyring answers: without one there is nothing to remember in.
    const bool keyring = quorvane::KeyringAvailable();
    remember_->setVisible(keyring);
    remember_->setEnabled(keyring);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // As wide as its caption with the title bar's buttons, as the program's other dialogs.
    setMinimumWidth(ui::TitleBarWidth(*this));
}

PassphraseBox::~PassphraseBox() {
    passphrase_->clear();
    if (again_ != nullptr) {
        again_->clear();
    }
}

quorvane::SecretText PassphraseBox::TakePassphrase() {
    return Take(passphrase_);
}

quorvane::SecretText PassphraseBox::TakeAgain() {
    return Take(again_);
}

bool PassphraseBox::Remember() const {
    return remember_->isEnabled() && remember_->isChecked();
}
