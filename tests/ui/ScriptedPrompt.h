#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "ui/Prompt.h"

// A prompt for tests: answers from prepared lists and records every call in order,
// so a test reads like the user's session. When a list of answers runs out, the
// prompt answers as a user who cancels: Question -> No, Replace -> Cancel, file and
// folder dialogs -> cancelled (empty).
//
// ShowModal really shows the dialog (its showEvent runs), then runs the next
// prepared action on it (set a radio button, fill an edit, click OK ...). A dialog
// the action leaves open is accepted, as if OK had been pressed. Returns the dialog's
// result.
class ScriptedPrompt final : public Prompt {
public:
    enum class Kind {
        Message,
        Box,
        Question,
        Replace,
        OpenFiles,
        SaveFile,
        ChooseFolder,
        ShowModal,
        OpenUrl
    };

    struct Entry {
        Kind kind = Kind::Message;
        QString text;     // message or question text; dialog title; dialog object name; url
        QString caption;  // Box and Question captions; empty for Message
        Icon icon = Icon::None;
        FileDialogOptions options;  // OpenFiles and SaveFile
    };

    // ---- Prepared answers, taken in order ----
    std::deque<bool> questionAnswers;
    std::deque<ReplaceAnswer> replaceAnswers;
    std::deque<QStringList> openFilesAnswers;
    std::deque<QString> saveFileAnswers;
    std::deque<QString> folderAnswers;
    std::deque<std::function<void(QDialog&)>> modalActions;
    bool openUrlResult = true;  // false: OpenUrl calls its `failed` at once
    // Called with each entry as it is recorded, before the answer is given.
    std::function<void(const Entry&)> onShown;

    void AnswerQuestion(bool yes) { questionAnswers.push_back(yes); }
    void AnswerReplace(ReplaceAnswer answer) { replaceAnswers.push_back(answer); }
    void AnswerOpenFiles(const QStringList& files) { openFilesAnswers.push_back(files); }
    void AnswerSaveFile(const QString& path) { saveFileAnswers.push_back(path); }
    void AnswerFolder(const QString& folder) { folderAnswers.push_back(folder); }
    void OnShowModal(std::function<void(QDialog&)> action) {
        modalActions.push_back(std::move(action));
    }

    // ---- What was shown ----
    std::vector<Entry> entries;
    // The texts of every message box, box and question, in order.
    [[nodiscard]] QStringList Messages() const;
    // The entries of one kind, in order.
    [[nodiscard]] std::vector<Entry> Of(Kind kind) const;
    // Forgets what was shown (the prepared answers stay).
    void ClearShown() { entries.clear(); }

    void Message(const QString& text) override;
    void Box(const QString& text, const QString& caption, Icon icon) override;
    bool Question(const QString& text, const QString& caption, Icon icon) override;
    ReplaceAnswer Replace(const QString& text, const QString& caption) override;
    QStringList OpenFiles(const FileDialogOptions& options) override;
    QString SaveFile(const FileDialogOptions& options) override;
    QString ChooseFolder(const QString& caption, const QString& start) override;
    int ShowModal(QDialog& dialog) override;
    void OpenUrl(const QString& url, std::function<void()> failed) override;

private:
    void Record(Entry entry);
};
