// users: the registered users of the Speakers folder, one name a line.

#include <CLI/CLI.hpp>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

int RunUsers(const CliContext& context) {
    const Users users = LoadUsers(context, {.privacy = true});
    if (users.List().empty()) {
        PrintLine(kNoRegisteredUsersMessage);
        return kExitSuccess;
    }
    for (const UserRecord& record : users.List()) {
        PrintLine(record.name);
    }
    return kExitSuccess;
}

}  // namespace

void RegisterUsersCommand(CLI::App& app, CliContext& context) {
    CLI::App* usersCommand = app.add_subcommand("users", "List the registered users");
    usersCommand->callback([&context] { context.exitCode = RunUsers(context); });
}

}  // namespace quorvane
