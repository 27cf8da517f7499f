// enrol, verify, users, remove, encode and decode: the whole job of the program from
// sound files, on the same Speakers folder, through the same workflows as the window.
//
// Output: results and summaries on standard output; every error is one line on
// standard error, "quorvane-cli: WHAT: why", naming the file (or user) concerned.
// Exit codes: 0 everything done; 1 a verdict was negative, a question was answered No,
// or some files of a batch failed; 2 the command could not run at all.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/Passphrase.h"
#include "cli/RecordingFile.h"
#include "cli/Terminal.h"
#include "files/PathText.h"
#include "workflow/Coding.h"
#include "workflow/Decoding.h"
#include "workflow/Enrolment.h"
#include "workflow/Evaluation.h"
#include "workflow/Figures.h"
#include "workflow/FrontEnd.h"
#include "workflow/Messages.h"
#include "workflow/Users.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// Files from this size on get a progress line on a terminal.
constexpr std::uint64_t kProgressLineBytes = 4u << 20;

fs::path PathFromText(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::vector<fs::path> PathsFromTexts(const std::vector<std::string>& texts) {
    std::vector<fs::path> paths;
    for (const std::string& text : texts) {
        paths.push_back(PathFromText(text));
    }
    return paths;
}

// Asks a Yes/No question on the terminal (or whatever feeds standard input); anything
// but an answer starting with y or Y, including the end of input, is No.
bool AskYesNo(std::string_view caption, std::string_view question) {
    std::fprintf(stderr, "%.*s:\n%.*s [y/N] ", static_cast<int>(caption.size()), caption.data(),
                 static_cast<int>(question.size()), question.data());
    std::fflush(stderr);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
        std::fprintf(stderr, "\n");
        return false;
    }
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

// The command line as the workflows' front end: notices as notes, questions on the
// terminal (or answered by --yes), replacing only with --overwrite, a progress line for
// long files on a terminal.
class TerminalFrontEnd final : public FrontEnd {
public:
    struct Options {
        bool yes = false;              // answer Yes to every question
        bool overwrite = false;        // replace existing outputs
        bool allowUnverified = false;  // decode files without a check value
        int level = kSecurityLow;
        const CliContext* passphrases = nullptr;  // where passphrases come from, when asked
    };
    TerminalFrontEnd() = default;
    explicit TerminalFrontEnd(Options options) : options_(options) {}

    void Notice(const std::string& text) override { PrintNote(text); }
    void Warning(const std::string& text, const std::string& caption) override {
        PrintNote(caption + ": " + text);
    }
    bool Ask(std::string_view text, std::string_view caption, Icon) override {
        return options_.yes || AskYesNo(caption, text);
    }
    int ChooseSecurityLevel() override { return options_.level; }
    fs::path ChooseKeyFile(std::string_view) override { return {}; }
    ReplaceAnswer AskReplace(const fs::path& output) override {
        if (options_.overwrite) {
            return ReplaceAnswer::Yes;
        }
        PrintError(PathText(output) + ": already exists; use --overwrite to replace it");
        return ReplaceAnswer::No;
    }
    bool AllowUnverified(const fs::path&) override {
        unverifiedMet_ = true;
        return options_.allowUnverified;
    }
    // A file without a check value was met in a decoding batch.
    [[nodiscard]] bool UnverifiedMet() const { return unverifiedMet_; }
    void FileProblem(std::string_view message, std::string_view reason) override {
        PrintError(reason.empty() ? std::string(message)
                                  : std::string(message) + " (" + std::string(reason) + ")");
    }
    PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) override {
        if (options_.passphrases == nullptr) {
            return {};
        }
        return AskCliPassphrase(*options_.passphrases, name, confirm);
    }
    Progress& Bar() override { return bar_; }
    ProgressFn FileProgress(const fs::path& file) override {
        if (!IsTerminal(stderr)) {
            return {};
        }
        const std::u8string leaf = file.filename().u8string();
        const std::string label = EscapeControls(std::string(leaf.begin(), leaf.end()));
        return [label](std::uint64_t done, std::uint64_t total) {
            if (total < kProgressLineBytes) {
                return;
            }
            if (done >= total) {
                std::fprintf(stderr, "\r%s\r", std::string(label.size() + 6, ' ').c_str());
            } else {
                std::fprintf(stderr, "\r%s: %3d%%", label.c_str(),
                             static_cast<int>(done * 100 / total));
            }
            std::fflush(stderr);
        };
    }

private:
    Options options_;
    NullProgress bar_;
    bool unverifiedMet_ = false;
};

// The registered users of the Speakers folder. A folder given with --speakers that does
// not exist, and speaker files that the loading skips without a word, are told as notes.
Users LoadUsers(const CliContext& context) {
    for (const std::string& note :
         SpeakersFolderNotes(context.speakersDir, context.speakersGiven)) {
        PrintNote(note);
    }
    TerminalFrontEnd notes;
    Users users(context.speakersDir);
    users.Load(notes);
    return users;
}

// Reads a recording and takes it as the enrolment's current one, with the level checks
// of a recording made with the Record button. False, with the error printed, when the
// file cannot be read or the checks refuse it.
bool TakeRecordingFile(const fs::path& file, Enrolment& enrolment) {
    const std::string where = PathText(file) + ": ";
    RecordingFile input;
    std::string error;
    if (!ReadRecordingFile(file, where, input, error)) {
        PrintError(error);
        return false;
    }
    const LevelCheckResult level = enrolment.TakeRecording(input.samples);
    if (!level.accepted) {
        PrintError(where + LevelRefusalText(level));
        return false;
    }
    return true;
}

// A step's refusal as an error line, prefixed with what it concerns.
int Refused(std::string_view what, const StepResult& result) {
    PrintError(what.empty() ? result.message : std::string(what) + ": " + result.message);
    return kExitError;
}

// The folder the outputs go to: -o DIR, or else each input's own folder (empty).
bool OutputFolder(const std::string& outputDir, fs::path& folder) {
    std::error_code error;
    folder = PathFromText(outputDir);
    if (!outputDir.empty() && !fs::is_directory(folder, error)) {
        PrintError(outputDir + ": no such folder");
        return false;
    }
    return true;
}

// ---- enrol ----

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
    Users users = LoadUsers(context);
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
        PrintError(added.message == kUnableToAddUserMessage
                       ? PathText(added.speakerFile) + ": " + added.message
                       : added.message);
        return kExitError;
    }
    if (added.createdFolder) {
        PrintLine("Created the Speakers folder " + PathText(context.speakersDir));
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
        PrintError(added.message + "; the user was added without it");
        return kExitRejected;
    }
    PrintLine("Security key saved to " + options.keyFile +
              ". Keep it safe like a password: it decodes every file of " + name + ".");
    return kExitSuccess;
}

// ---- verify ----

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
    const Verdict verdict =
        JudgeRecording(record->codebooks, record->threshold, take.Recording(), front);
    if (!verdict.trained) {
        PrintError(PathText(PathFromText(recording)) + ": " + std::string(kTooFewVectorsText));
        return kExitError;
    }
    PrintLine(verdict.accepted ? kVerifyPositiveText : kVerifyNegativeText);
    PrintLine(std::string(kThresholdStatusPrefix) + FixedText(record->threshold) +
              std::string(kDistanceStatusInfix) + FixedText(verdict.distance));
    return verdict.accepted ? kExitSuccess : kExitRejected;
}

// ---- users ----

int RunUsers(const CliContext& context) {
    const Users users = LoadUsers(context);
    if (users.List().empty()) {
        PrintLine(kNoRegisteredUsersMessage);
        return kExitSuccess;
    }
    for (const UserRecord& record : users.List()) {
        PrintLine(record.name);
    }
    return kExitSuccess;
}

// ---- remove ----

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
    PrintLine("User " + name + " removed (" + std::to_string(removed.deleted) +
              " speaker file(s) deleted). Files encoded for " + name +
              " can now be decoded only with the security key file.");
    return removed.failed.empty() ? kExitSuccess : kExitError;
}

// ---- encode ----

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
    if (!OutputFolder(options.outputDir, folder)) {
        return kExitError;
    }
    TerminalFrontEnd front({.overwrite = options.overwrite});
    const BatchResult batch =
        EncodeFiles(*record, PathsFromTexts(options.files), folder, options.deleteOriginals, front);
    const int encoded = batch.Count(FileStatus::Done);
    PrintLine(
        "Encoded " + std::to_string(encoded) + " of " + std::to_string(options.files.size()) +
        " file(s) for " + record->name +
        (options.deleteOriginals && encoded > 0 ? "; the originals encoded were deleted" : ""));
    const bool allDone =
        encoded == static_cast<int>(options.files.size()) &&
        std::all_of(batch.files.begin(), batch.files.end(), [&](const FileOutcome& f) {
            return !options.deleteOriginals || f.inputDeleted;
        });
    return allDone ? kExitSuccess : kExitRejected;
}

// ---- decode ----

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
    if (key.trained) {
        PrintLine(key.verdictText + " (threshold " + FixedText(key.threshold) + ", distance " +
                  FixedText(key.distance) + ")");
    }
    if (!key.done) {
        return key.trained ? kExitRejected : Refused({}, key);
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

void RegisterUserCommands(CLI::App& app, CliContext& context) {
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

    CLI::App* usersCommand = app.add_subcommand("users", "List the registered users");
    usersCommand->callback([&context] { context.exitCode = RunUsers(context); });

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

    const auto encode = std::make_shared<EncodeOptions>();
    CLI::App* encodeCommand =
        app.add_subcommand("encode", "Encode files for a registered user (FILE -> FILE.crp)");
    encodeCommand->add_option("NAME", encode->name, "The registered user")->required();
    encodeCommand->add_option("FILE", encode->files, "Files to encode")->required();
    encodeCommand->add_option("-o,--output", encode->outputDir,
                              "Write the encoded files to this folder (default: beside each file)");
    encodeCommand->add_flag("--delete-originals", encode->deleteOriginals,
                            "Delete each original after its encoding succeeded");
    encodeCommand->add_flag("--overwrite", encode->overwrite, "Replace existing .crp files");
    encodeCommand->callback([&context, encode] { context.exitCode = RunEncode(context, *encode); });

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
