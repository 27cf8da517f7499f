#include "ui/WindowFrontEnd.h"

#include <QDialog>
#include <QString>

#include "files/PathText.h"
#include "ui/PassphraseBox.h"
#include "ui/Prompt.h"
#include "ui/QtText.h"
#include "ui/Secparam.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"

using ui::FromUtf8;
using ui::QtFilter;
using ui::ToPath;

void WindowFrontEnd::Notice(const std::string& text) {
    ++shown_;
    window_.prompt.Message(FromUtf8(text));
}

void WindowFrontEnd::Warning(const std::string& text, const std::string& caption) {
    ++shown_;
    window_.prompt.Box(FromUtf8(text), FromUtf8(caption), Prompt::Icon::Warning);
}

void WindowFrontEnd::FileProblem(std::string_view message, std::string_view reason) {
    ++shown_;
    window_.prompt.Message(ui::RefusalText(message, reason));
}

bool WindowFrontEnd::Ask(std::string_view text, std::string_view caption, Icon icon) {
    return window_.prompt.Question(FromUtf8(text), FromUtf8(caption),
                                   static_cast<Prompt::Icon>(icon));
}

int WindowFrontEnd::ChooseSecurityLevel() {
    TForm2* const dialog = window_.securityDialog();
    if (dialog == nullptr) {
        return quorvane::kSecurityLow;
    }
    // The level is read whichever way the dialog was closed.
    static_cast<void>(window_.prompt.ShowModal(*dialog));
    return dialog->ItemIndex();
}

std::filesystem::path WindowFrontEnd::ChooseKeyFile(std::string_view defaultName) {
    Prompt::FileDialogOptions options;
    options.title = FromUtf8(quorvane::kKeyFileDialogTitle);
    options.filter = QtFilter(quorvane::kKeyFileDialogFilter);
    options.defaultName = FromUtf8(defaultName);
    options.directory = ui::KeyFileFolder();
    const QString chosen = window_.prompt.SaveFile(options);
    return chosen.isEmpty() ? std::filesystem::path() : ToPath(chosen);
}

quorvane::FrontEnd::ReplaceAnswer WindowFrontEnd::AskReplace(const std::filesystem::path& output) {
    return window_.prompt.Replace(FromUtf8(quorvane::ReplaceQuestion(quorvane::PathText(output))),
                                  FromUtf8(quorvane::kReplaceCaption));
}

bool WindowFrontEnd::AllowUnverified(const std::filesystem::path& file) {
    return window_.prompt.Question(FromUtf8(quorvane::UnverifiedQuestion(quorvane::PathText(file))),
                                   FromUtf8(quorvane::kUnverifiedCaption), Prompt::Icon::Warning);
}

quorvane::PassphraseAnswer WindowFrontEnd::AskPassphrase(std::string_view name, bool confirm) {
    // A new passphrase is typed twice; two different entries are told and asked again.
    for (;;) {
        PassphraseBox box(FromUtf8(name), confirm, &window_.widget);
        if (window_.prompt.ShowModal(box) != QDialog::Accepted) {
            return {};
        }
        quorvane::PassphraseAnswer answer;
        answer.passphrase = box.TakePassphrase();
        answer.remember = box.Remember();
        if (!confirm || box.TakeAgain() == answer.passphrase) {
            answer.given = true;
            return answer;
        }
        Notice(std::string(quorvane::kPassphrasesDiffer));
    }
}

void WindowFrontEnd::UserAdded(std::string_view name) {
    window_.userAdded(FromUtf8(name));
}

quorvane::Progress& WindowFrontEnd::Bar() {
    return window_.bar;
}
