#include "tests/ui/ScriptedPrompt.h"

#include <QDialog>

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

void ScriptedPrompt::Message(const QString& text) {
    entries.push_back({Kind::Message, text, {}, Icon::None, {}});
}

void ScriptedPrompt::Box(const QString& text, const QString& caption, Icon icon) {
    entries.push_back({Kind::Box, text, caption, icon, {}});
}

bool ScriptedPrompt::Question(const QString& text, const QString& caption, Icon icon) {
    entries.push_back({Kind::Question, text, caption, icon, {}});
    if (questionAnswers.empty()) {
        return false;
    }
    const bool answer = questionAnswers.front();
    questionAnswers.pop_front();
    return answer;
}

Prompt::ReplaceAnswer ScriptedPrompt::Replace(const QString& text, const QString& caption) {
    entries.push_back({Kind::Replace, text, caption, Icon::Warning, {}});
    if (replaceAnswers.empty()) {
        return ReplaceAnswer::Cancel;
    }
    const ReplaceAnswer answer = replaceAnswers.front();
    replaceAnswers.pop_front();
    return answer;
}

QStringList ScriptedPrompt::OpenFiles(const FileDialogOptions& options) {
    entries.push_back({Kind::OpenFiles, options.title, {}, Icon::None, options});
    if (openFilesAnswers.empty()) {
        return {};
    }
    QStringList answer = openFilesAnswers.front();
    openFilesAnswers.pop_front();
    return answer;
}

QString ScriptedPrompt::SaveFile(const FileDialogOptions& options) {
    entries.push_back({Kind::SaveFile, options.title, {}, Icon::None, options});
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
    entries.push_back({Kind::ChooseFolder, caption, {}, Icon::None, options});
    if (folderAnswers.empty()) {
        return {};
    }
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

int ScriptedPrompt::ShowModal(QDialog& dialog) {
    entries.push_back({Kind::ShowModal, dialog.objectName(), {}, Icon::None, {}});
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

bool ScriptedPrompt::OpenUrl(const QString& url) {
    entries.push_back({Kind::OpenUrl, url, {}, Icon::None, {}});
    return openUrlResult;
}
