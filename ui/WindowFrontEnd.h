#pragma once

// The window as the workflows' front end: what a command of the Study, Encode and Decode
// pages asks or tells goes to the window's prompt, the security level to TForm2, the
// passphrase to the masked passphrase box, progress to Pr1.

#include <QString>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <utility>

#include "workflow/FrontEnd.h"

class Prompt;
class QWidget;
class TForm2;

class WindowFrontEnd final : public quorvane::FrontEnd {
public:
    // What the window lends its front end: its prompt, itself as the parent of the passphrase
    // box, the security level dialog (null until the dialogs are attached), Pr1, and what
    // tells the user boxes of a user added. The window holds the front end, not the reverse.
    struct Window {
        Prompt& prompt;
        QWidget& widget;
        std::function<TForm2*()> securityDialog;
        quorvane::Progress& bar;
        std::function<void(const QString& name)> userAdded;
    };

    explicit WindowFrontEnd(Window window) : window_(std::move(window)) {}
    void Notice(const std::string& text) override;
    void Warning(const std::string& text, const std::string& caption) override;
    // The message, and the system's reason on a line of its own below it.
    void FileProblem(std::string_view message, std::string_view reason) override;
    bool Ask(std::string_view text, std::string_view caption, Icon icon) override;
    int ChooseSecurityLevel() override;
    std::filesystem::path ChooseKeyFile(std::string_view defaultName) override;
    ReplaceAnswer AskReplace(const std::filesystem::path& output) override;
    // Asked once per decoding batch; a warning, so No is the default.
    bool AllowUnverified(const std::filesystem::path& file) override;
    quorvane::PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) override;
    void UserAdded(std::string_view name) override;
    quorvane::Progress& Bar() override;
    // How many notices and warnings were shown so far.
    [[nodiscard]] int Shown() const { return shown_; }

private:
    Window window_;
    int shown_ = 0;
};
