#include "ui/Seckey.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setupUi(this);
    setFixedSize(size());
}

QStringList TForm4::KeyLines() const {
    const QString text = Memo1->toPlainText();
    if (text.isEmpty()) {
        return {};
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > 1 && lines.back().isEmpty()) {
        lines.removeLast();
    }
    return lines;
}

void TForm4::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
}
