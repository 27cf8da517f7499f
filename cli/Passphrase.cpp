#include "cli/Passphrase.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Refusal.h"
#include "cli/Terminal.h"
#include "files/PathText.h"
#include "workflow/Protection.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// A passphrase file is a line of text, not a document.
constexpr std::size_t kMaxPassphraseFileBytes = 64u << 10;
// Times a passphrase is asked on the terminal when it is empty or the two entries differ.
constexpr int kTries = 3;

// The front end of the protection commands: notes on standard error, questions answered by
// --yes (else No), passphrases as AskCliPassphrase gives them.
class PassphraseFrontEnd final : public FrontEnd {
public:
    PassphraseFrontEnd(const CliContext& context, bool yes) : context_(context), yes_(yes) {}
    void Notice(const std::string& text) override { PrintNote(text); }
    void Warning(const std::string& text, const std::string& caption) override {
        PrintNote(caption + ": " + text);
    }
    // Consent is given on the command line only (--yes): a script never waits on a question.
    bool Ask(std::string_view, std::string_view, Icon) override { return yes_; }
    int ChooseSecurityLevel() override { return 0; }
    fs::path ChooseKeyFile(std::string_view) override { return {}; }
    ReplaceAnswer AskReplace(const fs::path&) override { return ReplaceAnswer::No; }
    void FileProblem(std::string_view message, std::string_view reason) override {
        static_cast<void>(Refused({}, message, reason));
    }
    PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) override {
        return AskCliPassphrase(context_, name, confirm);
    }
    Progress& Bar() override { return bar_; }

private:
    const CliContext& context_;
    bool yes_;
    NullProgress bar_;
};

// The system's reason for the last failed call of the C library, or `otherwise`.
std::string SystemReason(int code, std::string_view otherwise) {
    return code != 0 ? std::generic_category().message(code) : std::string(otherwise);
}

// The first line of a passphrase file, which may be a pipe or a process substitution
// (/dev/fd/N, /dev/stdin): read as a stream up to its first line end, within the size limit.
PassphraseAnswer FromFile(const CliContext& context, const fs::path& file) {
    PassphraseAnswer answer;
    const std::string where = PathText(file) + ": the passphrase file ";
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (!error && fs::is_regular_file(status) &&
        (status.permissions() & fs::perms::others_read) != fs::perms::none) {
        PrintNote(where +
                  "can be read by every user of this computer; make it readable by you "
                  "only (chmod 600)");
    }
    if (fs::is_directory(status)) {
        answer.refusal = where + "is a folder";
        return answer;
    }
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open()) {
        answer.refusal =
            where + "can not be opened (" + SystemReason(errno, "no reason given") + ")";
        return answer;
    }
    std::array<char, 4096> chunk{};
    bool ended = false;
    while (!ended && answer.passphrase.size() <= kMaxPassphraseFileBytes) {
        in.read(chunk.data(), chunk.size());
        const auto got = static_cast<std::size_t>(in.gcount());
        const auto end = std::find(chunk.begin(), chunk.begin() + got, '\n');
        answer.passphrase.insert(answer.passphrase.end(), chunk.begin(), end);
        ended = end != chunk.begin() + got || !in;
    }
    WipeMemory(chunk.data(), chunk.size());
    if (in.bad()) {
        answer.passphrase.clear();
        answer.refusal = where + "can not be read (" + SystemReason(errno, "read error") + ")";
        return answer;
    }
    if (answer.passphrase.size() > kMaxPassphraseFileBytes) {
        answer.passphrase.clear();
        answer.refusal = where + "has no line end within its first 64 KiB";
        return answer;
    }
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
    for (int attempt = 0; attempt < kTries && !answer.given; ++attempt) {
        if (!ReadHiddenLine(prompt, answer.passphrase)) {
            return {};
        }
        if (answer.passphrase.empty()) {
            PrintError(kEmptyPassphraseMessage);  // asked again
            continue;
        }
        if (!confirm) {
            answer.given = true;
            break;
        }
        SecretText again;
        if (!ReadHiddenLine("Passphrase again: ", again)) {
            return {};
        }
        answer.given = again == answer.passphrase;
        if (!answer.given) {
            PrintError(kPassphrasesDiffer);
        }
    }
    if (!answer.given) {
        answer.passphrase.clear();
    }
    answer.remember = context.remember;
    return answer;
}

}  // namespace

PassphraseAnswer AskCliPassphrase(const CliContext& context, std::string_view name, bool confirm) {
    if (confirm && !context.newPassphraseFile.empty()) {
        return FromFile(context, context.newPassphraseFile);
    }
    // The file of --passphrase-file holds the old passphrase of a change, never the new one.
    const bool fromFile = !context.passphraseFile.empty() && !(confirm && context.changing);
    if (fromFile) {
        return FromFile(context, context.passphraseFile);
    }
    if (!IsTerminal(stdin)) {
        PassphraseAnswer answer;
        answer.refusal = confirm && context.changing
                             ? "standard input is not a terminal (give the new passphrase with "
                               "--new-passphrase-file FILE)"
                             : "standard input is not a terminal (use --passphrase-file FILE)";
        return answer;
    }
    return FromTerminal(context, name, confirm);
}

bool UnlockForCli(const CliContext& context, Users& users, std::string_view name) {
    PassphraseFrontEnd front(context, false);
    const StepResult unlocked = UnlockUser(users, name, front);
    if (!unlocked.done) {
        static_cast<void>(Refused({}, unlocked));
    }
    return unlocked.done;
}

int RunProtectionStep(const CliContext& context, const std::string& name,
                      StepResult (*step)(Users&, std::string_view, FrontEnd&),
                      std::string_view done, bool yes) {
    PassphraseFrontEnd front(context, yes);
    Users users(context.speakersDir);
    users.Load(front);
    const StepResult result = step(users, name, front);
    if (!result.done) {
        return Refused({}, result);
    }
    const UserRecord* record = users.List().Find(name);
    PrintLine(std::string(done) + (record != nullptr && !record->protectedFile.empty()
                                       ? ": " + PathText(record->protectedFile)
                                       : std::string()));
    return kExitSuccess;
}

}  // namespace quorvane
