// unprotect NAME: stores a protected user's voice model without a passphrase again, after the
// passphrase unlocked it.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "workflow/Protection.h"

namespace quorvane {

void RegisterUnprotectCommand(CLI::App& app, CliContext& context) {
    const auto name = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "unprotect", "Store a protected user's voice model without a passphrase again");
    command->add_option("NAME", *name, "The registered user")->required();
    command->callback([&context, name] {
        context.exitCode =
            RunProtectionStep(context, *name, &UnprotectUser, "Unprotected " + *name);
    });
}

}  // namespace quorvane
