#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "workflow/FrontEnd.h"

class QDialog;

// Every modal interaction of the program: message boxes, questions, file and
// folder dialogs, modal shows of the dialogs and opening documents with the
// desktop. TForm1 receives one; the program passes WidgetPrompt, GUI tests pass
// a scripted prompt that answers from a prepared list and records each message.
class Prompt {
public:
    enum class Icon { None, Information, Question, Warning, Error };

    struct FileDialogOptions {
        QString title;          // empty: the toolkit's default title
        QString filter;         // Qt filter text, e.g. "All files (*)"
        QString directory;      // starting folder, may be empty
        QString defaultName;    // file-save dialogs: proposed file name
        bool multiple = false;  // file-open dialogs: several files may be chosen
    };

    virtual ~Prompt() = default;

    // Simple message box: OK button, the application title as caption.
    virtual void Message(const QString& text) = 0;
    // Message box with its own caption and icon, OK button (the sound-device and level warnings).
    virtual void Box(const QString& text, const QString& caption, Icon icon) = 0;
    // Yes/No question; true for Yes.
    virtual bool Question(const QString& text, const QString& caption, Icon icon) = 0;
    // Whether to replace an existing file: Yes, Yes to all, No or Cancel (warning icon).
    using ReplaceAnswer = quorvane::FrontEnd::ReplaceAnswer;
    virtual ReplaceAnswer Replace(const QString& text, const QString& caption) = 0;
    // File-open dialog; the chosen files in the dialog's order, empty when cancelled.
    virtual QStringList OpenFiles(const FileDialogOptions& options) = 0;
    // File-save dialog; the chosen path, empty when cancelled.
    virtual QString SaveFile(const FileDialogOptions& options) = 0;
    // Folder chooser; the chosen folder, empty when cancelled.
    virtual QString ChooseFolder(const QString& caption, const QString& start) = 0;
    // Shows one of the program's dialogs modally; returns its result code (QDialog::Accepted or
    // Rejected).
    virtual int ShowModal(QDialog& dialog) = 0;
    // Opens a document or address with the desktop. `failed`, when given, is called (on this
    // thread, perhaps later) when the desktop could not open it; without it a failure passes
    // unnoticed.
    virtual void OpenUrl(const QString& url, std::function<void()> failed) = 0;
};
