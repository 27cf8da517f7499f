#include "ui/WidgetPrompt.h"

#include <QDesktopServices>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

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

void WidgetPrompt::Message(const QString& text) {
    Box(text, QString::fromLatin1(kApplicationTitle), Icon::None);
}

void WidgetPrompt::Box(const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(ToBoxIcon(icon), caption, text, QMessageBox::Ok, parent_);
    box.exec();
}

bool WidgetPrompt::Question(const QString& text, const QString& caption, Icon icon) {
    QMessageBox box(ToBoxIcon(icon), caption, text, QMessageBox::Yes | QMessageBox::No, parent_);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
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
    return QFileDialog::getSaveFileName(parent_, options.title, start, options.filter);
}

QString WidgetPrompt::ChooseFolder(const QString& caption, const QString& start) {
    return QFileDialog::getExistingDirectory(parent_, caption, start);
}

int WidgetPrompt::ShowModal(QDialog& dialog) {
    // exec() hides the dialog again when it closes; it is never destroyed here.
    return dialog.exec();
}

bool WidgetPrompt::OpenUrl(const QString& url) {
    const QUrl address(url);
    if (address.isLocalFile() && !QFileInfo(address.toLocalFile()).isFile()) {
        return false;
    }
    return QDesktopServices::openUrl(address);
}
