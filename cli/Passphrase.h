#pragma once

// Passphrases of protected users on the command line: from --passphrase-file (its first
// line, for scripts) or typed on the terminal without echo. A standard input that is no
// terminal, without --passphrase-file, is an error rather than a wait for input.

#include <string>
#include <string_view>

#include "cli/Commands.h"
#include "workflow/FrontEnd.h"
#include "workflow/Users.h"

namespace quorvane {

// The passphrase for `name` (typed twice with `confirm` on a terminal); not given, with the
// reason printed, when there is none to be had. remember follows --remember.
[[nodiscard]] PassphraseAnswer AskCliPassphrase(const CliContext& context, std::string_view name,
                                                bool confirm);

// UnlockUser for the command line: false, with the refusal printed, when the models of `name`
// stay locked (a wrong or missing passphrase: exit code 2).
[[nodiscard]] bool UnlockForCli(const CliContext& context, Users& users, std::string_view name);

// Runs one of the protection workflows (protect, unprotect, passphrase) on the user `name` of
// the Speakers folder: prints `done` (with the protected file, when there is one) and returns
// 0, or prints the refusal and returns 2.
int RunProtectionStep(const CliContext& context, const std::string& name,
                      StepResult (*step)(Users&, std::string_view, FrontEnd&),
                      std::string_view done);

}  // namespace quorvane
