#include "ui/Encode.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include "ui/Prompt.h"

TForm3::TForm3(Prompt* prompt, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      prompt_(prompt) {
    setupUi(this);
    setFixedSize(size());
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

void TForm3::Button2Click() {
    if (prompt_ == nullptr) {
        return;
    }
    const QString chosen = prompt_->ChooseFolder(QString(), Edit2->text());
    if (!chosen.isEmpty()) {
        Edit2->setText(QDir::toNativeSeparators(chosen));
    }
}

void TForm3::showEvent(QShowEvent* event) {
    // A fixed-size dialog centred on the desktop, whatever window opened it.
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}
