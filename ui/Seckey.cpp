#include "ui/Seckey.h"

#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <cstdint>

#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/TitleBar.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"

TForm4::TForm4(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setupUi(this);
    setFixedSize(size());
    // The whole caption in the title bar ("Security key" and the program's name).
    ui::WidenForCaption(*this, {GroupBox1, Edit1, Memo1, Button3}, {O, Button2});
    connect(Button3, &QPushButton::clicked, this, &TForm4::Button3Click);
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

void TForm4::Button3Click() {
    if (prompt_ == nullptr) {
        return;
    }
    Prompt::FileDialogOptions options;
    options.title = QStringLiteral("Open security key");
    options.filter = ui::QtFilter(quorvane::kKeyFileDialogFilter);
    options.directory = ui::KeyFileFolder();
    const QStringList chosen = prompt_->OpenFiles(options);
    if (chosen.isEmpty()) {
        return;
    }
    const quorvane::KeyFileResult read =
        quorvane::KeyFromFile(ui::ToPath(chosen.first()), Edit1->text().toStdString());
    if (!read.done) {
        prompt_->Message(ui::RefusalText(read.message, read.cause));
        return;
    }
    QStringList lines;
    for (const std::uint32_t word : read.key) {
        lines << QString::number(static_cast<std::int32_t>(word));
    }
    Memo1->setPlainText(lines.join(QLatin1Char('\n')));
    O->setFocus();
}

void TForm4::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen(); screen != nullptr) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::showEvent(event);
    // The key is typed at once, without a click into the memo first.
    Memo1->setFocus(Qt::OtherFocusReason);
}
