#include "cli/Passphrase.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/Terminal.h"
#include "files/PathText.h"
#include "files/SmallFile.h"
#include "workflow/Protection.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// A passphrase file is a line of text, not a document.
constexpr std::uint64_t kMaxPassphraseFileBytes = 64u << 10;
// Times a new passphrase is asked on the terminal when the two entries differ.
constexpr int kConfirmTries = 3;

// The front end of the protection commands: notes on standard error, passphrases as
// AskCliPassphrase gives them; nothing else is asked.
class PassphraseFrontEnd final : public FrontEnd {
public:
    explicit PassphraseFrontEnd(const CliContext& context) : context_(context) {}
    void Notice(const std::string& text) override { PrintNote(text); }
    void Warning(const std::string& text, const std::string& caption) override {
        PrintNote(caption + ": " + text);
    }
    bool Ask(std::string_view, std::string_view, Icon) override { return false; }
    int ChooseSecurityLevel() override { return 0; }
    fs::path ChooseKeyFile(std::string_view) override { return {}; }
    ReplaceAnswer AskReplace(const fs::path&) override { return ReplaceAnswer::No; }
    PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) override {
        return AskCliPassphrase(context_, name, confirm);
    }
    Progress& Bar() override { return bar_; }

private:
    const CliContext& context_;
    NullProgress bar_;
};

PassphraseAnswer FromFile(const CliContext& context) {
    PassphraseAnswer answer;
    std::vector<std::uint8_t> bytes;
    if (!ReadSmallFile(context.passphraseFile, kMaxPassphraseFileBytes, bytes)) {
        PrintError(PathText(context.passphraseFile) + ": the passphrase file can not be read");
        return answer;
    }
    const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{'\n'});
    answer.passphrase.assign(bytes.begin(), end);
    WipeMemory(bytes.data(), bytes.size());
    if (!answer.passphrase.empty() && answer.passphrase.back() == '\r') {
        answer.passphrase.pop_back();
    }
    answer.given = true;
    answer.remember = context.remember;
    return answer;
}

PassphraseAnswer FromTerminal(const CliContext& context, std::string_view name, bool confirm) {
    PassphraseAnswer answer;
    const std::string prompt = std::string(confirm ? "New passphrase for " : "Passphrase for ") +
                               EscapeControls(name) + ": ";
    for (int attempt = 0; attempt < (confirm ? kConfirmTries : 1); ++attempt) {
        if (!ReadHiddenLine(prompt, answer.passphrase)) {
            return {};
        }
        if (!confirm) {
            break;
        }
        SecretText again;
        if (!ReadHiddenLine("Passphrase again: ", again)) {
            return {};
        }
        if (again == answer.passphrase) {
            answer.given = true;
            break;
        }
        PrintError(kPassphrasesDiffer);
    }
    answer.given = answer.given || !confirm;
    answer.remember = context.remember;
    return answer;
}

}  // namespace

PassphraseAnswer AskCliPassphrase(const CliContext& context, std::string_view name, bool confirm) {
    if (!context.passphraseFile.empty()) {
        return FromFile(context);
    }
    if (!IsTerminal(stdin)) {
        PrintError(NoPassphraseMessage(name) +
                   ": standard input is not a terminal (use --passphrase-file FILE)");
        return {};
    }
    return FromTerminal(context, name, confirm);
}

bool UnlockForCli(const CliContext& context, Users& users, std::string_view name) {
    PassphraseFrontEnd front(context);
    const StepResult unlocked = UnlockUser(users, name, front);
    if (!unlocked.done) {
        PrintError(unlocked.message);
    }
    return unlocked.done;
}

int RunProtectionStep(const CliContext& context, const std::string& name,
                      StepResult (*step)(Users&, std::string_view, FrontEnd&),
                      std::string_view done) {
    PassphraseFrontEnd front(context);
    Users users(context.speakersDir);
    users.Load(front);
    const StepResult result = step(users, name, front);
    if (!result.done) {
        PrintError(result.message);
        return kExitError;
    }
    const UserRecord* record = users.List().Find(name);
    PrintLine(std::string(done) + (record != nullptr && !record->protectedFile.empty()
                                       ? ": " + PathText(record->protectedFile)
                                       : std::string()));
    return kExitSuccess;
}

}  // namespace quorvane
