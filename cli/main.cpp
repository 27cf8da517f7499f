// quorvane-cli: the program's analysis, enrolment, verification and file
// encoding, driven from sound files on the command line.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli/Commands.h"
#include "files/AtomicFile.h"
#include "files/ProcessSafety.h"
#include "workflow/DataFolders.h"

int main(int argc, char** argv) {
    // Passphrases, keys and voice models in memory never land in a core file.
    quorvane::DisableCoreDumps();
    // Ctrl-C, SIGTERM or SIGHUP in the middle of a file leave no temporary file behind.
    quorvane::InstallTemporaryCleanup();
    CLI::App app{"Quorvane on the command line: voice models from sound files.", "quorvane-cli"};
    app.require_subcommand(1);
    // Global options such as --speakers are taken after the command too.
    app.fallthrough();

    quorvane::CliContext context;
    context.speakersDir = quorvane::SpeakersFolder(quorvane::ExecutableFolder());
    app.add_option("--speakers", context.speakersDir,
                   "Folder of the speaker files (default: \"Speakers\" beside the executable "
                   "when it exists, else the user's own ~/.local/share/quorvane/Speakers)")
        ->capture_default_str()
        ->each([&context](const std::string&) { context.speakersGiven = true; });

    app.add_option("--passphrase-file", context.passphraseFile,
                   "Read the passphrase of a protected user from the first line of this file "
                   "(else it is typed on the terminal)");
    app.add_flag("--remember", context.remember,
                 "Let the desktop's keyring remember a passphrase that is set or typed");

    quorvane::RegisterInspectCommands(app, context);
    quorvane::RegisterUserCommands(app, context);
    quorvane::RegisterProtectionCommands(app, context);
    quorvane::RegisterEvaluateCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvane-cli: %s\n", e.what());
        return quorvane::kExitError;
    }
    return context.exitCode;
}
