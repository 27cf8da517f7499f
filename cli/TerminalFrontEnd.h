#pragma once

// The command line as the workflows' front end: notices as notes on standard error,
// questions on the terminal (or answered by --yes), replacing only with --overwrite,
// passphrases from --passphrase-file or the terminal, a progress line for long files on a
// terminal, and a decode's steps as its options give them (the verdict printed, the files and
// the output folder as given, the batch run at once).

#include <filesystem>
#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "interfaces/Progress.h"
#include "speaker/Decision.h"
#include "workflow/Decoding.h"
#include "workflow/FrontEnd.h"

namespace quorvane {

// Asks a Yes/No question on the terminal (or whatever feeds standard input); anything
// but an answer starting with y or Y, including the end of input, is No.
[[nodiscard]] bool AskYesNo(std::string_view caption, std::string_view question);

class TerminalFrontEnd final : public FrontEnd, public DecodeSteps {
public:
    struct Options {
        bool yes = false;              // answer Yes to every question
        bool overwrite = false;        // replace existing outputs
        bool allowUnverified = false;  // decode files without a check value
        int level = kSecurityLow;
        const CliContext* passphrases = nullptr;  // where passphrases come from, when asked
    };
    TerminalFrontEnd() = default;
    explicit TerminalFrontEnd(Options options) : options_(options) {}

    void Notice(const std::string& text) override;
    void Warning(const std::string& text, const std::string& caption) override;
    bool Ask(std::string_view text, std::string_view caption, Icon) override;
    int ChooseSecurityLevel() override { return options_.level; }
    std::filesystem::path ChooseKeyFile(std::string_view) override { return {}; }
    ReplaceAnswer AskReplace(const std::filesystem::path& output) override;
    bool AllowUnverified(const std::filesystem::path&) override;
    // A file without a check value was met in a decoding batch.
    [[nodiscard]] bool UnverifiedMet() const { return unverifiedMet_; }
    void FileProblem(std::string_view message, std::string_view reason) override;
    PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) override;
    Progress& Bar() override { return bar_; }
    ProgressFn FileProgress(const std::filesystem::path& file) override;

    // DecodeSteps: "Result:Positive (threshold T, distance D)" on standard output; no key lines
    // to type; the files as given; the batch at once.
    void ShowVerdict(const VoiceKeyResult& voice) override;
    std::optional<std::vector<std::string>> AskKeyLines(std::string_view) override {
        return std::nullopt;
    }
    std::optional<Files> ConfirmFiles(std::string_view, const Files& proposed) override {
        return proposed;
    }
    bool RunBatch(const std::vector<std::filesystem::path>&,
                  const std::function<void(BatchFrontEnd&)>& work) override {
        work(*this);
        return true;
    }

private:
    // Ends a progress line left open (a file that failed in the middle) before another line.
    void EndProgressLine();

    Options options_;
    bool progressOpen_ = false;  // a progress line without its end is on the terminal
    NullProgress bar_;
    bool unverifiedMet_ = false;
};

}  // namespace quorvane
