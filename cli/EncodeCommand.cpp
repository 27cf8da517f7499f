// encode NAME FILE...: encodes files for a registered user (FILE -> FILE.crp); no recording is
// needed, but a protected user's passphrase is.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "cli/CommandSupport.h"
#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Coding.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

struct EncodeOptions {
    std::string name;
    std::vector<std::string> files;
    std::string outputDir;
    bool deleteOriginals = false;
    bool overwrite = false;
};

int RunEncode(const CliContext& context, const EncodeOptions& options) {
    Users users = LoadUsers(context);
    if (users.List().Find(options.name) != nullptr && !UnlockForCli(context, users, options.name)) {
        return kExitError;
    }
    std::string refusal;
    const UserRecord* record = FindEncodingUser(users.List(), options.name, refusal);
    if (record == nullptr) {
        PrintError(users.List().empty() ? refusal : options.name + ": " + refusal);
        return kExitError;
    }
    fs::path folder;
    OutputFolderResult prepared;
    if (!OutputFolder(options.outputDir, folder, prepared)) {
        return kExitError;
    }
    TerminalFrontEnd front({.overwrite = options.overwrite});
    const BatchResult batch =
        EncodeFiles(*record, PathsFromTexts(options.files), folder, options.deleteOriginals, front);
    const bool created = KeepOutputFolderIfUsed(prepared);
    PrintLine("Encoded " + std::to_string(batch.Count(FileStatus::Done)) + " of " +
              std::to_string(options.files.size()) + " file(s) for " + record->name +
              RemovalSummary(batch, true, true) +
              (created ? FolderCreatedText(PathText(folder)) : std::string()));
    if (batch.AllDone(options.files.size()) && !batch.RemovalsFailed()) {
        return kExitSuccess;
    }
    return batch.InputsUnusable() ? kExitError : kExitRejected;
}

}  // namespace

void RegisterEncodeCommand(CLI::App& app, CliContext& context) {
    const auto encode = std::make_shared<EncodeOptions>();
    CLI::App* encodeCommand =
        app.add_subcommand("encode", "Encode files for a registered user (FILE -> FILE.crp)");
    encodeCommand->add_option("NAME", encode->name, "The registered user")->required();
    encodeCommand->add_option("FILE", encode->files, "Files to encode")->required();
    encodeCommand->add_option(
        "-o,--output", encode->outputDir,
        "Write the encoded files to this folder, created (owner-only) when missing "
        "(default: beside each file)");
    encodeCommand->add_flag("--delete-originals", encode->deleteOriginals,
                            "Delete each original after its encoding succeeded (a symbolic link "
                            "given as a file is kept, and so is the file it points to; so is a "
                            "file with other names, hard links)");
    encodeCommand->add_flag("--overwrite", encode->overwrite, "Replace existing .crp files");
    encodeCommand->callback([&context, encode] { context.exitCode = RunEncode(context, *encode); });
}

}  // namespace quorvane
