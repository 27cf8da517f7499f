// verify NAME RECORDING: a new recording judged against a registered user's voice models
// (exit code 0 accepted, 1 rejected, 2 error).

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

int RunVerify(const CliContext& context, const std::string& name, const std::string& recording) {
    Users users = LoadUsers(context);
    if (users.List().Find(name) == nullptr) {
        PrintError(UserNotFoundMessage(name));
        return kExitError;
    }
    if (!UnlockForCli(context, users, name)) {
        return kExitError;
    }
    const UserRecord* record = users.List().Find(name);
    Enrolment take;
    if (!TakeRecordingFile(PathFromText(recording), take)) {
        return kExitError;
    }
    TerminalFrontEnd front;
    const VerifyResult verified =
        VerifyRecording(record->codebooks, record->threshold, take.Recording(), front);
    if (!verified.done) {
        return Refused(PathText(PathFromText(recording)), verified);
    }
    PrintLine(verified.verdictText);
    PrintLine(verified.statusText);
    return verified.accepted ? kExitSuccess : kExitRejected;
}

}  // namespace

void RegisterVerifyCommand(CLI::App& app, CliContext& context) {
    struct VerifyOptions {
        std::string name;
        std::string recording;
    };
    const auto verify = std::make_shared<VerifyOptions>();
    CLI::App* verifyCommand =
        app.add_subcommand("verify", "Check a recording against a registered user's voice");
    verifyCommand->add_option("NAME", verify->name, "The registered user")->required();
    verifyCommand->add_option("RECORDING", verify->recording, "A new recording")->required();
    verifyCommand->callback([&context, verify] {
        context.exitCode = RunVerify(context, verify->name, verify->recording);
    });
}

}  // namespace quorvane
