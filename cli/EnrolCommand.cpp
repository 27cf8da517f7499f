// enrol NAME PHRASE1 PHRASE2 PHRASE3: trains the three phrase codebooks from recordings, takes
// the threshold of the security level and registers the user, optionally protected by a
// passphrase, with the security key file saved only here.

#include <CLI/CLI.hpp>

#include <array>
#include <memory>
#include <string>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Enrolment.h"
#include "workflow/Figures.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

struct EnrolOptions {
    std::string name;
    std::array<std::string, 3> phrases;
    std::string level = "low";
    std::string keyFile;
    bool protect = false;  // --protect
};

// --level as CLI11 gives it: already checked and lowered.
int SecurityLevelIndex(const std::string& level) {
    if (level == "high") {
        return kSecurityHigh;
    }
    return level == "medium" ? kSecurityMedium : kSecurityLow;
}

int RunEnrol(const CliContext& context, const EnrolOptions& options) {
    const std::string& name = options.name;
    if (const auto refusal = NameRefusal(name)) {
        PrintError("enrol: " + std::string(*refusal));
        return kExitError;
    }
    // The folder this command creates is not told as missing.
    Users users = LoadUsers(context, {.missing = false});
    if (const auto refusal = users.CheckNewName(name)) {
        PrintError(name + ": " + std::string(*refusal));
        return kExitError;
    }
    AddUserOptions add;
    if (!options.keyFile.empty()) {
        add.keyFile = PathFromText(options.keyFile);
        if (const auto refusal = KeyFileRefusal(*add.keyFile)) {
            PrintError(options.keyFile + ": " + std::string(*refusal));
            return kExitError;
        }
    }
    if (options.protect) {
        add.protection = ProtectionOffer::Required;
    }
    TerminalFrontEnd front({.yes = true,
                            .overwrite = false,
                            .level = SecurityLevelIndex(options.level),
                            .passphrases = &context});
    Enrolment enrolment;
    for (int slot = 0; slot < 3; ++slot) {
        const fs::path phrase = PathFromText(options.phrases[static_cast<std::size_t>(slot)]);
        if (!TakeRecordingFile(phrase, enrolment)) {
            return kExitError;
        }
        if (const StepResult added = enrolment.AddPhrase(slot, front); !added.done) {
            return Refused(PathText(phrase), added);
        }
    }
    if (const TrainResult trained = enrolment.Train(front); !(trained.threshold > 0.0f)) {
        PrintError("enrol: " + std::string(kNoUsableThresholdMessage) + " (" +
                   FixedText(trained.threshold) + ")");
        return kExitError;
    }
    const AddUserResult added = users.Add(name, enrolment, front, add);
    if (!added.done) {
        return Refused(
            added.message == kUnableToAddUserMessage ? PathText(added.speakerFile) : std::string(),
            added);
    }
    if (added.createdFolder) {
        PrintLine("Created the Speakers folder " + PathText(context.speakersDir));
    }
    if (const auto note = SpeakersFolderPrivacyNote(context.speakersDir, users.List())) {
        PrintNote(*note);
    }
    if (options.protect) {
        PrintLine("The voice model of " + name + " is protected by its passphrase.");
    }
    PrintLine("User " + name + " added (threshold " + FixedText(enrolment.Threshold()) +
              ", level " + options.level + "): " + PathText(added.speakerFile));
    if (!add.keyFile) {
        PrintLine(
            "No security key file was saved. It can be saved only now, at enrolment "
            "(--key-file FILE); without it the files of " +
            name + " can be decoded by voice only.");
        return kExitSuccess;
    }
    if (!added.keySaved) {
        static_cast<void>(
            Refused({}, added.message + "; the user was added without it", added.cause));
        return kExitRejected;
    }
    PrintLine("Security key saved to " + options.keyFile +
              ". Keep it safe like a password: it decodes every file of " + name + ".");
    return kExitSuccess;
}

}  // namespace

void RegisterEnrolCommand(CLI::App& app, CliContext& context) {
    const auto enrol = std::make_shared<EnrolOptions>();
    CLI::App* enrolCommand =
        app.add_subcommand("enrol", "Register a user from three recorded phrases");
    enrolCommand->add_option("NAME", enrol->name, "The user's name")->required();
    enrolCommand->add_option("PHRASE1", enrol->phrases[0], "Recording of phrase 1")->required();
    enrolCommand->add_option("PHRASE2", enrol->phrases[1], "Recording of phrase 2")->required();
    enrolCommand->add_option("PHRASE3", enrol->phrases[2], "Recording of phrase 3")->required();
    enrolCommand
        ->add_option("--level", enrol->level,
                     "Security level: high (strict), medium or low (lenient)")
        ->check(CLI::IsMember({"high", "medium", "low"}, CLI::ignore_case))
        ->capture_default_str();
    enrolCommand->add_option("--key-file", enrol->keyFile,
                             "Save the security key to this new file (only possible now)");
    enrolCommand->add_flag("--protect", enrol->protect,
                           "Protect the voice model with a passphrase (--passphrase-file, or "
                           "typed twice on the terminal)");
    enrolCommand->callback([&context, enrol] { context.exitCode = RunEnrol(context, *enrol); });
}

}  // namespace quorvane
