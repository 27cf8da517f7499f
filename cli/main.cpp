// quorvane-cli: the program's analysis, enrolment, verification and file
// encoding, driven from sound files on the command line.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "cli/Commands.h"
#include "files/AtomicFile.h"
#include "files/ProcessSafety.h"
#include "workflow/DataFolders.h"

#ifndef QUORVANE_VERSION
#error "QUORVANE_VERSION must give the program's version"
#endif

namespace {

// A usage error as one line: what was wrong with the command line. An argument that
// names no command ("quorvane-cli frobnicate") is said to be an unknown command rather
// than leaving the user to read "a command is required".
std::string UsageProblem(const CLI::App& app, const CLI::ParseError& error) {
    if (app.get_subcommands().empty()) {
        for (const std::string& argument : app.remaining()) {
            if (!argument.empty() && argument.front() != '-') {
                return "unknown command: " + argument;
            }
        }
        if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.remaining().empty()) {
            return "no command given";
        }
    }
    std::string text = error.what();
    std::replace(text.begin(), text.end(), '\n', ' ');
    const std::size_t colon = text.find(": ");
    // "The following argument(s) was/were not expected: --bogus extra"
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && colon != std::string::npos) {
        const std::string extras = text.substr(colon + 2);
        const bool several = extras.find(' ') != std::string::npos;
        if (!extras.empty() && extras.front() == '-') {
            return (several ? "unknown options: " : "unknown option: ") + extras;
        }
        return (several ? "unexpected arguments: " : "unexpected argument: ") + extras;
    }
    // "--speakers: 1 required TEXT missing": the option was given without its value.
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr &&
        colon != std::string::npos && text.ends_with(" missing")) {
        return "option " + text.substr(0, colon) + " needs a value";
    }
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    // Passphrases, keys and voice models in memory never land in a core file.
    quorvane::DisableCoreDumps();
    // Ctrl-C, SIGTERM or SIGHUP in the middle of a file leave no temporary file behind; Ctrl-C
    // says so and ends with status 130, as shells expect of an interrupted command.
    quorvane::InstallTemporaryCleanup("Cancelled");
    CLI::App app{"Quorvane on the command line: voice models from sound files.", "quorvane-cli"};
    app.require_subcommand(1);
    // Global options such as --speakers are taken after the command too.
    app.fallthrough();
    app.set_version_flag("--version", std::string("quorvane-cli ") + QUORVANE_VERSION,
                         "Print the program's name and version and exit");

    quorvane::CliContext context;
    context.speakersDir = quorvane::SpeakersFolder(quorvane::ExecutableFolder());
    app.add_option("--speakers", context.speakersDir,
                   "Folder of the speaker files (default: \"Speakers\" beside the executable "
                   "when it exists, else the user's own ~/.local/share/quorvane/Speakers)")
        ->capture_default_str()
        ->each([&context](const std::string&) { context.speakersGiven = true; });

    app.add_option("--passphrase-file", context.passphraseFile,
                   "Read the passphrase of a protected user from the first line of this file, "
                   "pipe or process substitution (else it is typed on the terminal)");
    app.add_option("--new-passphrase-file", context.newPassphraseFile,
                   "Read a new passphrase (protect, enrol --protect, passphrase) from the first "
                   "line of this file (else --passphrase-file gives it, or for passphrase it is "
                   "typed twice on the terminal)");
    app.add_flag("--remember", context.remember,
                 "Let the desktop's keyring remember a passphrase that is set or typed");

    quorvane::RegisterInspectCommand(app, context);
    quorvane::RegisterDistanceCommand(app, context);
    quorvane::RegisterEnrolCommand(app, context);
    quorvane::RegisterVerifyCommand(app, context);
    quorvane::RegisterUsersCommand(app, context);
    quorvane::RegisterRemoveCommand(app, context);
    quorvane::RegisterEncodeCommand(app, context);
    quorvane::RegisterDecodeCommand(app, context);
    quorvane::RegisterProtectCommand(app, context);
    quorvane::RegisterUnprotectCommand(app, context);
    quorvane::RegisterPassphraseCommand(app, context);
    quorvane::RegisterEvaluateCommand(app, context);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help, --version
        }
        // Every usage error: one line saying what, one pointing to the help, status 2.
        std::fprintf(stderr, "quorvane-cli: %s\nRun with --help for more information.\n",
                     UsageProblem(app, e).c_str());
        return quorvane::kExitError;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quorvane-cli: %s\n", e.what());
        return quorvane::kExitError;
    }
    return context.exitCode;
}
