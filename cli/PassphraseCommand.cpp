// passphrase NAME: changes the passphrase of a protected user; the models stay the same. The old
// passphrase is typed or read from --passphrase-file, the new one typed twice or read from
// --new-passphrase-file; a new one equal to the old is refused.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "workflow/Protection.h"

namespace quorvane {

void RegisterPassphraseCommand(CLI::App& app, CliContext& context) {
    const auto name = std::make_shared<std::string>();
    CLI::App* command =
        app.add_subcommand("passphrase", "Change the passphrase of a protected user");
    command->add_option("NAME", *name, "The registered user")->required();
    command->callback([&context, name] {
        context.changing = true;
        context.exitCode = RunProtectionStep(context, *name, &ChangePassphrase,
                                             "Changed the passphrase of " + *name);
    });
}

}  // namespace quorvane
