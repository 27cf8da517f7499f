#pragma once

#include <QPointer>
#include <QWidget>

class QMessageBox;

#include "ui/Prompt.h"

// The prompt of the program: real message boxes, file dialogs and the desktop's
// "open" action. Boxes are modal over the main window once it is set.
class WidgetPrompt final : public Prompt {
public:
    WidgetPrompt() = default;
    explicit WidgetPrompt(QWidget* parent) : parent_(parent) {}

    // The window the boxes and dialogs belong to (the main window).
    void SetParent(QWidget* parent) { parent_ = parent; }

    void Message(const QString& text) override;
    void Box(const QString& text, const QString& caption, Icon icon) override;
    bool Question(const QString& text, const QString& caption, Icon icon) override;
    ReplaceAnswer Replace(const QString& text, const QString& caption) override;
    QStringList OpenFiles(const FileDialogOptions& options) override;
    QString SaveFile(const FileDialogOptions& options) override;
    QString ChooseFolder(const QString& caption, const QString& start) override;
    int ShowModal(QDialog& dialog) override;
    // A local file that is missing is not handed over. With `failed`, the desktop's opener
    // is run so that its failure is known (OpenWithDesktop).
    void OpenUrl(const QString& url, std::function<void()> failed) override;

    // Window managers cut a caption that is wider than its box ("Quo…1.1"): every box
    // is made at least as wide as its caption with the title bar's buttons.
    static void WidenForCaption(QMessageBox& box);

private:
    QPointer<QWidget> parent_;
};
