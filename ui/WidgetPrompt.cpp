#include "ui/WidgetPrompt.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSpacerItem>
#include <QUrl>
#include <utility>

#include "ui/DesktopOpener.h"
#include "ui/TitleBar.h"
#include "workflow/Messages.h"

namespace {

QMessageBox::Icon ToBoxIcon(Prompt::Icon icon) {
    switch (icon) {
        case Prompt::Icon::Information:
            return QMessageBox::Information;
        case Prompt::Icon::Question:
            return QMessageBox::Question;
        case Prompt::Icon::Warning:
            return QMessageBox::Warning;
        case Prompt::Icon::Error:
            return QMessageBox::Critical;
        case Prompt::Icon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

}  // namespace

void WidgetPrompt::WidenForCaption(QMessageBox& box) {
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (grid == nullptr) {
        return;
    }
    const int width = ui::TitleBarWidth(box);
    // The box sizes itself from its layout: a fixed-width spacer across the bottom row
    // keeps it from getting narrower than the caption.
    grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Fixed, QSizePolicy::Minimum),
                  grid->rowCount(), 0, 1, grid->columnCount());
}

void WidgetPrompt::Message(const QString& text) {
    Box(text,
        QString::fromUtf8(quorvane::kApplicationTitle.data(), quorvane::kApplicationTitle.size()),
        Icon::None);
}

void WidgetPrompt::Box(const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(ToBoxIcon(icon), caption, text, QMessageBox::Ok, parent_);
    WidenForCaption(box);
    box.exec();
}

bool WidgetPrompt::Question(const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(ToBoxIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, parent_);
    WidenForCaption(box);
    // Warnings and errors ask before something is deleted: Enter should not confirm.
    box.setDefaultButton(icon == Icon::Question ? QMessageBox::Yes : QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

Prompt::ReplaceAnswer WidgetPrompt::Replace(const QString& text, const QString& caption) {
    QMessageBox box(
        QMessageBox::Warning, caption, text,
        QMessageBox::Yes | QMessageBox::YesToAll | QMessageBox::No | QMessageBox::Cancel, parent_);
    WidenForCaption(box);
    // Replacing loses the file's content: Enter should not confirm.
    box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
        case QMessageBox::Yes:
            return ReplaceAnswer::Yes;
        case QMessageBox::YesToAll:
            return ReplaceAnswer::YesToAll;
        case QMessageBox::No:
            return ReplaceAnswer::No;
        default:
            return ReplaceAnswer::Cancel;
    }
}

QStringList WidgetPrompt::OpenFiles(const FileDialogOptions& options) {
    if (options.multiple) {
        return QFileDialog::getOpenFileNames(parent_, options.title, options.directory,
                                             options.filter);
    }
    const QString file =
        QFileDialog::getOpenFileName(parent_, options.title, options.directory, options.filter);
    return file.isEmpty() ? QStringList{} : QStringList{file};
}

QString WidgetPrompt::SaveFile(const FileDialogOptions& options) {
    QString start = options.defaultName;
    if (!options.directory.isEmpty()) {
        start = QDir(options.directory).filePath(options.defaultName);
    }
    QFileDialog dialog(parent_, options.title, start, options.filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    // A name typed without extension gets the first filter's one ("*.txt" gives ".txt").
    static const QRegularExpression firstPattern(QStringLiteral("\\(\\*\\.(\\w+)"));
    if (const QRegularExpressionMatch match = firstPattern.match(options.filter);
        match.hasMatch()) {
        dialog.setDefaultSuffix(match.captured(1));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString WidgetPrompt::ChooseFolder(const QString& caption, const QString& start) {
    return QFileDialog::getExistingDirectory(parent_, caption, start);
}

int WidgetPrompt::ShowModal(QDialog& dialog) {
    // exec() hides the dialog again when it closes; it is never destroyed here.
    return dialog.exec();
}

void WidgetPrompt::OpenUrl(const QString& url, std::function<void()> failed) {
    const QUrl address(url);
    if (address.isLocalFile() && !QFileInfo(address.toLocalFile()).isFile()) {
        if (failed) {
            failed();
        }
        return;
    }
    if (!failed) {
        static_cast<void>(QDesktopServices::openUrl(address));
        return;
    }
    QObject* const context =
        parent_ != nullptr ? static_cast<QObject*>(parent_) : QCoreApplication::instance();
    ui::OpenWithDesktop(address, *context, [failed = std::move(failed)](bool opened) {
        if (!opened) {
            failed();
        }
    });
}
