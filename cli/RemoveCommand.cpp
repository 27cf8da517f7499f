// remove NAME: asks, then deletes the user's speaker files and takes the user out of the list.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

int RunRemove(const CliContext& context, const std::string& name, bool yes) {
    Users users = LoadUsers(context);
    TerminalFrontEnd front({.yes = yes});
    const RemoveUserResult removed = users.Remove(name, front);
    if (!removed.done && !removed.confirmed && !removed.message.empty()) {
        return Refused(removed.message == kNoRegisteredUsersMessage ? std::string() : name,
                       removed);
    }
    if (!removed.confirmed) {
        PrintLine("Nothing was removed.");
        return kExitRejected;
    }
    if (removed.filesKept) {
        PrintLine("Nothing was removed: the speaker files of " + name +
                  " stay, and the user is loaded again next time.");
        return kExitRejected;
    }
    if (!removed.done) {
        return Refused({}, removed);
    }
    // A file kept aside that stays (the question answered No, or its removal failed) was told;
    // the user is removed all the same, but not everything asked was done.
    PrintLine(UserRemovedSummary(name, removed));
    return removed.keptFiles.empty() ? kExitSuccess : kExitRejected;
}

}  // namespace

void RegisterRemoveCommand(CLI::App& app, CliContext& context) {
    struct RemoveOptions {
        std::string name;
        bool yes = false;
    };
    const auto remove = std::make_shared<RemoveOptions>();
    CLI::App* removeCommand =
        app.add_subcommand("remove", "Remove a registered user and the user's speaker files");
    removeCommand->add_option("NAME", remove->name, "The registered user")->required();
    removeCommand->add_flag("--yes,-y", remove->yes, "Answer Yes to the questions");
    removeCommand->callback(
        [&context, remove] { context.exitCode = RunRemove(context, remove->name, remove->yes); });
}

}  // namespace quorvane
