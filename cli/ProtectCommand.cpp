// protect NAME: stores a registered user's voice model under a passphrase (typed twice, or
// --passphrase-file). The models, and so the user's key, stay the same.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "workflow/Protection.h"

namespace quorvane {

void RegisterProtectCommand(CLI::App& app, CliContext& context) {
    const auto name = std::make_shared<std::string>();
    CLI::App* command =
        app.add_subcommand("protect", "Protect a registered user's voice model with a passphrase");
    command->add_option("NAME", *name, "The registered user")->required();
    command->callback([&context, name] {
        context.exitCode = RunProtectionStep(context, *name, &ProtectUser, "Protected " + *name);
    });
}

}  // namespace quorvane
