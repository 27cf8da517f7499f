#pragma once

// Passphrases of protected users on the command line: from --passphrase-file (its first
// line, for scripts: a file, a pipe or a process substitution) or typed on the terminal without
// echo. A new passphrase comes from --new-passphrase-file when given; a change of passphrase
// never takes the new one from --passphrase-file, which holds the old one. A standard input that
// is no terminal, without a file, is an error rather than a wait for input.

#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "workflow/FrontEnd.h"
#include "workflow/Users.h"

namespace quorvane {

// The passphrase for `name` (a new one with `confirm`: typed twice on a terminal); not given,
// with the reason in the answer's refusal, when there is none to be had. remember follows
// --remember.
[[nodiscard]] PassphraseAnswer AskCliPassphrase(const CliContext& context, std::string_view name,
                                                bool confirm);

// UnlockUser for the command line: false, with the refusal printed, when the models of `name`
// stay locked (a wrong or missing passphrase: exit code 2).
[[nodiscard]] bool UnlockForCli(const CliContext& context, Users& users, std::string_view name);

// Runs one of the protection workflows (protect, unprotect, passphrase) on the user `name` of
// the Speakers folder, with `yes` answering its questions: prints `done` (with the protected
// file, when there is one) and returns 0, or prints the refusal and returns 2.
int RunProtectionStep(const CliContext& context, const std::string& name,
                      StepResult (*step)(Users&, std::string_view, FrontEnd&),
                      std::string_view done, bool yes = false);

}  // namespace quorvane
