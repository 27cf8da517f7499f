// decode FILE...: decodes encoded files by voice (--voice) or with the security key file
// (--key-file), or only tests the key (--check).

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Enrolment.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

struct DecodeOptions {
    std::vector<std::string> files;
    std::string voice;
    std::string keyFile;
    std::string name;
    std::string outputDir;
    bool deleteEncoded = false;
    bool overwrite = false;
    bool allowUnverified = false;
    bool check = false;  // test the key only, write nothing
};

// decode --check: whether the key is right for each file, nothing written.
void ReportCheck(const DecodeOutcome& outcome) {
    for (const FileOutcome& file : outcome.batch.files) {
        if (file.status == FileStatus::Done) {
            PrintLine(PathText(file.input) + ": the key is right");
        } else if (file.status == FileStatus::Skipped) {
            PrintLine(PathText(file.input) + ": " + file.reason);
        }
    }
    PrintLine("The key is right for " + std::to_string(outcome.batch.Count(FileStatus::Done)) +
              " of " + std::to_string(outcome.files.files.size()) + " file(s) of " + outcome.owner);
}

// A refused decode as an error line, saying what the refusal concerns.
void DecodeRefused(const DecodeOptions& options, const DecodeOutcome& outcome) {
    switch (outcome.refusal) {
        case OwnerRefusal::NoName:
            Refused("decode", outcome.message + " (--name NAME, needed for several files)",
                    outcome.cause);
            return;
        case OwnerRefusal::KeyOfOtherUser:
            Refused(options.keyFile, outcome.message, outcome.cause);
            return;
        default:
            Refused({}, outcome.message, outcome.cause);
            return;
    }
}

// A decode's exit status, from how it ended.
int ExitCodeOf(DecodeVerdict verdict) {
    switch (verdict) {
        case DecodeVerdict::Succeeded:
            return kExitSuccess;
        case DecodeVerdict::Rejected:
            return kExitRejected;
        case DecodeVerdict::Failed:
            break;
    }
    return kExitError;
}

// decode: what was decoded, deleted and kept.
void ReportDecoded(const DecodeOptions& options, const TerminalFrontEnd& front,
                   const DecodeOutcome& outcome) {
    if (front.UnverifiedMet() && !options.allowUnverified) {
        PrintNote(std::string(kAllowUnverifiedHint));
    }
    const BatchResult& batch = outcome.batch;
    PrintLine("Decoded " + std::to_string(batch.Count(FileStatus::Done)) + " of " +
              std::to_string(outcome.files.files.size()) + " file(s) of " + outcome.owner +
              RemovalSummary(batch, false, true) +
              (outcome.folderCreated ? FolderCreatedText(PathText(outcome.files.outputFolder))
                                     : std::string()));
}

int RunDecode(const CliContext& context, const DecodeOptions& options) {
    if (options.voice.empty() == options.keyFile.empty()) {
        PrintError("decode: give either --voice RECORDING or --key-file KEYFILE");
        return kExitError;
    }
    DecodeRequest request;
    request.files = PathsFromTexts(options.files);
    request.name = options.name;
    request.keySource = options.voice.empty() ? KeySource::KeyFile : KeySource::Voice;
    request.keyFile = PathFromText(options.keyFile);
    request.outputFolder = PathFromText(options.outputDir);
    request.createOutputFolder = true;
    request.deleteEncoded = options.deleteEncoded;
    request.checkOnly = options.check;
    // The voice is judged against the registered users' models; the key file needs none.
    Enrolment take;
    const bool byVoice = request.keySource == KeySource::Voice;
    if (byVoice && !TakeRecordingFile(PathFromText(options.voice), take)) {
        return kExitError;
    }
    request.recording = take.Recording();
    Users users = byVoice ? LoadUsers(context) : Users(context.speakersDir);
    TerminalFrontEnd front({.overwrite = options.overwrite,
                            .allowUnverified = options.allowUnverified,
                            .passphrases = &context});
    const DecodeOutcome outcome = Decode(request, users, front, front);
    switch (outcome.ending) {
        case DecodeEnding::Refused:
            DecodeRefused(options, outcome);
            break;
        case DecodeEnding::Checked:
            ReportCheck(outcome);
            break;
        case DecodeEnding::Decoded:
            ReportDecoded(options, front, outcome);
            break;
        case DecodeEnding::Rejected:
        case DecodeEnding::Cancelled:
        case DecodeEnding::NotRun:
            break;
    }
    return ExitCodeOf(VerdictOf(outcome));
}

}  // namespace

void RegisterDecodeCommand(CLI::App& app, CliContext& context) {
    const auto decode = std::make_shared<DecodeOptions>();
    CLI::App* decodeCommand =
        app.add_subcommand("decode", "Decode .crp files by voice or with the security key file");
    decodeCommand->add_option("FILE", decode->files, "Encoded files (.crp)")->required();
    CLI::Option* voice =
        decodeCommand->add_option("--voice", decode->voice, "A new recording of the owner");
    CLI::Option* keyFile =
        decodeCommand->add_option("--key-file", decode->keyFile, "The owner's security key file");
    voice->excludes(keyFile);
    decodeCommand->add_option("--name", decode->name,
                              "The owner (default: read from the file when one file is given)");
    decodeCommand->add_option("-o,--output", decode->outputDir,
                              "Write the decoded files to this folder, created (owner-only) when "
                              "missing (default: beside each file)");
    decodeCommand->add_flag("--delete-encoded", decode->deleteEncoded,
                            "Delete each encoded file after its decoding succeeded, when the "
                            "key is confirmed (a symbolic link given as a file is kept, and so "
                            "is the file it points to; so is a file with other names, hard "
                            "links)");
    decodeCommand->add_flag("--overwrite", decode->overwrite, "Replace existing output files");
    decodeCommand->add_flag("--allow-unverified", decode->allowUnverified,
                            "Also decode files without a check value (from earlier versions): "
                            "their key cannot be confirmed, and they are never deleted");
    decodeCommand->add_flag("--check", decode->check,
                            "Only test the key against each file's check value; write nothing "
                            "(exit code 0 when it is right for every file)");
    decodeCommand->callback([&context, decode] { context.exitCode = RunDecode(context, *decode); });
}

}  // namespace quorvane
