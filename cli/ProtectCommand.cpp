// protect NAME: stores a registered user's voice model under a passphrase (typed twice, or
// --new-passphrase-file / --passphrase-file), then overwrites and removes the unprotected
// speaker file; --yes also removes the files kept aside for the name. The models, and so the
// user's key, stay the same.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "workflow/Protection.h"

namespace quorvane {

void RegisterProtectCommand(CLI::App& app, CliContext& context) {
    struct ProtectOptions {
        std::string name;
        bool yes = false;
    };
    const auto options = std::make_shared<ProtectOptions>();
    CLI::App* command =
        app.add_subcommand("protect", "Protect a registered user's voice model with a passphrase");
    command->add_option("NAME", options->name, "The registered user")->required();
    command->add_flag("--yes,-y", options->yes,
                      "Also overwrite and remove the speaker files kept aside for the name "
                      "(NAME.spk.kept-N), which may hold the unprotected model");
    command->callback([&context, options] {
        context.exitCode = RunProtectionStep(context, options->name, &ProtectUser,
                                             "Protected " + options->name, options->yes);
    });
}

}  // namespace quorvane
