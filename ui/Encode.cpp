#include "ui/Encode.h"

#include <QDir>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

#include "ui/Prompt.h"
#include "ui/TitleBar.h"

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
    // The caption is set before each use ("Files for encoding", "Files for decoding"): the
    // dialog is as wide as the widest so far needs.
    ui::WidenForCaption(*this, {GroupBox1, Edit1, ListBox1, CheckBox1, Label3, Edit2},
                        {Button2, OK, Button1});
    // A fixed-size dialog centred on the desktop, whatever window opened it.
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}
