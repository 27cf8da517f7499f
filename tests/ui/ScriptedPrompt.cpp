#include "tests/ui/ScriptedPrompt.h"

#include <QDialog>
#include <utility>

QStringList ScriptedPrompt::Messages() const {
    QStringList texts;
    for (const Entry& entry : entries) {
        if (entry.kind == Kind::Message || entry.kind == Kind::Box ||
            entry.kind == Kind::Question || entry.kind == Kind::Replace) {
            texts << entry.text;
        }
    }
    return texts;
}

std::vector<ScriptedPrompt::Entry> ScriptedPrompt::Of(Kind kind) const {
    std::vector<Entry> found;
    for (const Entry& entry : entries) {
        if (entry.kind == kind) {
            found.push_back(entry);
        }
    }
    return found;
}

void ScriptedPrompt::Record(Entry entry) {
    entries.push_back(std::move(entry));
    if (onShown) {
        const Entry shown = entries.back();
        onShown(shown);
    }
}

void ScriptedPrompt::Message(const QString& text) {
    Record({Kind::Message, text, {}, Icon::None, {}});
}

void ScriptedPrompt::Box(const QString& text, const QString& caption, Icon icon) {
    Record({Kind::Box, text, caption, icon, {}});
}

bool ScriptedPrompt::Question(const QString& text, const QString& caption, Icon icon) {
    Record({Kind::Question, text, caption, icon, {}});
    if (questionAnswers.empty()) {
        return false;
    }
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

Prompt::ReplaceAnswer ScriptedPrompt::Replace(const QString& text, const QString& caption) {
    Record({Kind::Replace, text, caption, Icon::Warning, {}});
    if (replaceAnswers.empty()) {
        return ReplaceAnswer::Cancel;
    }
    const ReplaceAnswer answer = replaceAnswers.front();
    replaceAnswers.pop_front();
    return answer;
}

QStringList ScriptedPrompt::OpenFiles(const FileDialogOptions& options) {
    Record({Kind::OpenFiles, options.title, {}, Icon::None, options});
    if (openFilesAnswers.empty()) {
        return {};
    }
    QStringList answer = openFilesAnswers.front();
    openFilesAnswers.pop_front();
    return answer;
}

QString ScriptedPrompt::SaveFile(const FileDialogOptions& options) {
    Record({Kind::SaveFile, options.title, {}, Icon::None, options});
    if (saveFileAnswers.empty()) {
        return {};
    }
    QString answer = saveFileAnswers.front();
    saveFileAnswers.pop_front();
    return answer;
}

QString ScriptedPrompt::ChooseFolder(const QString& caption, const QString& start) {
    FileDialogOptions options;
    options.title = caption;
    options.directory = start;
    Record({Kind::ChooseFolder, caption, {}, Icon::None, options});
    if (folderAnswers.empty()) {
        return {};
    }
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

int ScriptedPrompt::ShowModal(QDialog& dialog) {
    Record({Kind::ShowModal, dialog.objectName(), {}, Icon::None, {}});
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    if (!modalActions.empty()) {
        const std::function<void(QDialog&)> action = modalActions.front();
        modalActions.pop_front();
        action(dialog);
    }
    if (dialog.isVisible()) {
        dialog.accept();
    }
    return dialog.result();
}

void ScriptedPrompt::OpenUrl(const QString& url, std::function<void()> failed) {
    Record({Kind::OpenUrl, url, {}, Icon::None, {}});
    if (!openUrlResult && failed) {
        failed();
    }
}
