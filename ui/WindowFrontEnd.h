#pragma once

// The window as the workflows' front end: what a command of the Study, Encode and Decode
// pages asks or tells goes to the window's prompt, the security level to TForm2, the
// passphrase to the masked passphrase box, progress to Pr1.

#include <filesystem>
#include <string>
#include <string_view>

#include "workflow/FrontEnd.h"

class TForm1;

class WindowFrontEnd final : public quorvane::FrontEnd {
public:
    explicit WindowFrontEnd(TForm1& form) : form_(form) {}
    void Notice(const std::string& text) override;
    void Warning(const std::string& text, const std::string& caption) override;
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
    TForm1& form_;
    int shown_ = 0;
};
