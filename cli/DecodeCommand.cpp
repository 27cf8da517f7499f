// decode FILE...: decodes encoded files by voice (--voice) or with the security key file
// (--key-file), or only tests the key (--check).

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Enrolment.h"
#include "workflow/Figures.h"
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
int ReportCheck(std::string_view name, const BatchResult& batch, std::size_t total) {
    for (const FileOutcome& file : batch.files) {
        if (file.status == FileStatus::Done) {
            PrintLine(PathText(file.input) + ": the key is right");
        } else if (file.status == FileStatus::Skipped) {
            PrintLine(PathText(file.input) + ": " + file.reason);
        }
    }
    const int right = batch.Count(FileStatus::Done);
    PrintLine("The key is right for " + std::to_string(right) + " of " + std::to_string(total) +
              " file(s) of " + std::string(name));
    return right == static_cast<int>(total) ? kExitSuccess : kExitRejected;
}

// The owner stage's refusal as an error line.
int OwnerRefused(const DecodeOptions& options, const DecodeOwnerResult& owner) {
    switch (owner.refusal) {
        case OwnerRefusal::File:
            return Refused(owner.message == kNotEncodedMessage ? options.files.front() : "", owner);
        case OwnerRefusal::NoName:
            PrintError("decode: " + owner.message + " (--name NAME, needed for several files)");
            return kExitError;
        case OwnerRefusal::KeyOfOtherUser:
            return Refused(options.keyFile, owner);
        case OwnerRefusal::KeyFile:
        case OwnerRefusal::None:
            break;
    }
    return Refused({}, owner);
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
    request.deleteEncoded = options.deleteEncoded;
    request.checkOnly = options.check;
    const DecodeOwnerResult owner = DecodeOwner(request);
    if (!owner.done) {
        return OwnerRefused(options, owner);
    }
    if (!OutputFolder(options.outputDir, request.outputFolder)) {
        return kExitError;
    }

    Users users = LoadUsers(context);
    TerminalFrontEnd front(
        {.overwrite = options.overwrite, .allowUnverified = options.allowUnverified});
    const bool byVoice = request.keySource == KeySource::Voice;
    // The voice is judged against the stored models: a protected user's are unlocked first.
    if (byVoice && users.List().Find(owner.name) != nullptr &&
        !UnlockForCli(context, users, owner.name)) {
        return kExitError;
    }
    Enrolment take;
    if (byVoice) {
        if (!TakeRecordingFile(PathFromText(options.voice), take)) {
            return kExitError;
        }
        request.recording = take.Recording();
    }
    const VoiceKeyResult key = DecodeKey(request, owner, users.List(), front);
    if (key.verdict.done) {
        PrintLine(key.verdictText + " (threshold " + FixedText(key.verdict.threshold) +
                  ", distance " + FixedText(key.verdict.distance) + ")");
    }
    if (!key.done) {
        return key.verdict.done ? kExitRejected : Refused({}, key);
    }
    const BatchResult batch = RunDecodeRequest(request, owner.name, key.key, front);
    if (options.check) {
        return ReportCheck(owner.name, batch, options.files.size());
    }
    if (front.UnverifiedMet() && !options.allowUnverified) {
        PrintNote(std::string(kAllowUnverifiedHint));
    }
    const int decoded = batch.Count(FileStatus::Done);
    PrintLine("Decoded " + std::to_string(decoded) + " of " + std::to_string(options.files.size()) +
              " file(s) of " + owner.name);
    const bool removalsFailed =
        std::any_of(batch.files.begin(), batch.files.end(), [&](const FileOutcome& f) {
            return options.deleteEncoded && f.status == FileStatus::Done && !f.inputDeleted &&
                   !f.inputKept;
        });
    return decoded == static_cast<int>(options.files.size()) && !removalsFailed ? kExitSuccess
                                                                                : kExitRejected;
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
                              "Write the decoded files to this folder (default: beside each file)");
    decodeCommand->add_flag("--delete-encoded", decode->deleteEncoded,
                            "Delete each encoded file after its decoding succeeded, when the "
                            "key is confirmed");
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
