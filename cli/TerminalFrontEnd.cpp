#include "cli/TerminalFrontEnd.h"

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>

#include "cli/Passphrase.h"
#include "cli/Refusal.h"
#include "cli/Terminal.h"
#include "files/AtomicFile.h"
#include "files/PathText.h"
#include "workflow/Figures.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// Files from this size on get a progress line on a terminal.
constexpr std::uint64_t kProgressLineBytes = 4u << 20;

}  // namespace

bool AskYesNo(std::string_view caption, std::string_view question) {
    std::fprintf(stderr, "%.*s:\n%.*s [y/N] ", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(question.size()), question.data());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::fprintf(stderr, "\n");
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

void TerminalFrontEnd::EndProgressLine() {
    if (progressOpen_) {
        std::fprintf(stderr, "\n");
        progressOpen_ = false;
        SetInterruptLineOpen(false);
    }
}

void TerminalFrontEnd::Notice(const std::string& text) {
    EndProgressLine();
    PrintNote(text);
}

void TerminalFrontEnd::Warning(const std::string& text, const std::string& caption) {
    PrintNote(caption + ": " + text);
}

bool TerminalFrontEnd::Ask(std::string_view text, std::string_view caption, Icon) {
    return options_.yes || AskYesNo(caption, text);
}

FrontEnd::ReplaceAnswer TerminalFrontEnd::AskReplace(const fs::path& output) {
    if (options_.overwrite) {
        return ReplaceAnswer::Yes;
    }
    PrintError(PathText(output) + ": already exists; use --overwrite to replace it");
    return ReplaceAnswer::No;
}

bool TerminalFrontEnd::AllowUnverified(const fs::path&) {
    unverifiedMet_ = true;
    return options_.allowUnverified;
}

void TerminalFrontEnd::FileProblem(std::string_view message, std::string_view reason) {
    EndProgressLine();
    static_cast<void>(Refused({}, message, reason));
}

PassphraseAnswer TerminalFrontEnd::AskPassphrase(std::string_view name, bool confirm) {
    if (options_.passphrases == nullptr) {
        return {};
    }
    return AskCliPassphrase(*options_.passphrases, name, confirm);
}

void TerminalFrontEnd::ShowVerdict(const VoiceKeyResult& voice) {
    PrintLine(voice.verdictText + " (threshold " + FixedText(voice.verdict.threshold) +
              ", distance " + FixedText(voice.verdict.distance) + ")");
}

ProgressFn TerminalFrontEnd::FileProgress(const fs::path& file) {
    if (!IsTerminal(stderr)) {
        return {};
    }
    const std::u8string leaf = file.filename().u8string();
    const std::string label = EscapeControls(std::string(leaf.begin(), leaf.end()));
    return [this, label](std::uint64_t done, std::uint64_t total) {
        if (total < kProgressLineBytes) {
            return;
        }
        // Ctrl-C's notice starts a line of its own while the line is open: marked so before
        // the line is written, and until it is cleared.
        progressOpen_ = done < total;
        if (progressOpen_) {
            SetInterruptLineOpen(true);
            std::fprintf(stderr, "\r%s: %3d%%", label.c_str(),
                         static_cast<int>(done * 100 / total));
        } else {
            std::fprintf(stderr, "\r%s\r", std::string(label.size() + 6, ' ').c_str());
        }
        std::fflush(stderr);
        SetInterruptLineOpen(progressOpen_);
    };
}

}  // namespace quorvane
