// enrol, verify, users, remove, encode and decode: the whole job of the program from
// sound files, on the same Speakers folder.
//
// Output: results and summaries on standard output; every error is one line on
// standard error, "quorvane-cli: WHAT: why", naming the file (or user) concerned.
// Exit codes: 0 everything done; 1 a verdict was negative, a question was answered No,
// or some files of a batch failed; 2 the command could not run at all.

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "analysis/LevelCheck.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "analysis/VoiceCodebook.h"
#include "cipher/EncodedFile.h"
#include "cipher/Gost.h"
#include "cli/Commands.h"
#include "cli/RecordingFile.h"
#include "cli/SoundFile.h"
#include "cli/Terminal.h"
#include "speaker/Decision.h"
#include "speaker/SpeakerStore.h"
#include "speaker/Training.h"
#include "speaker/UserList.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// The owner's marker in an encoded file is the name followed by this text.
constexpr std::string_view kMarkerSuffix = "cryptedfile";
// A marker longer than this leaves no room for a name in a 1000-byte field.
constexpr std::size_t kMaxMarkerForName = 911;
constexpr std::string_view kEncodedExtension = ".crp";
// Files from this size on get a progress line on a terminal.
constexpr std::uint64_t kProgressLineBytes = 4u << 20;

void PrintError(std::string_view line) {
    std::fprintf(stderr, "quorvane-cli: %.*s\n", static_cast<int>(line.size()), line.data());
}

void PrintNote(std::string_view line) {
    std::fprintf(stderr, "quorvane-cli: note: %.*s\n", static_cast<int>(line.size()), line.data());
}

void PrintLine(std::string_view line) {
    std::fprintf(stdout, "%.*s\n", static_cast<int>(line.size()), line.data());
    std::fflush(stdout);
}

std::string Fixed4(float value) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f", static_cast<double>(value));
    return text;
}

std::string FileName(const fs::path& path) {
    const std::u8string name = path.filename().u8string();
    return std::string(name.begin(), name.end());
}

fs::path PathFromText(std::string_view text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

// Messages of the core, shown as notes that name where they came from.
class NoteNotifier final : public Notifier {
public:
    explicit NoteNotifier(std::string prefix) : prefix_(std::move(prefix)) {}
    void Notice(const std::string& text) override { PrintNote(prefix_ + text); }
    void Warning(const std::string& text, const std::string& caption) override {
        PrintNote(prefix_ + caption + ": " + text);
    }

private:
    std::string prefix_;
};

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

UserList LoadUsers(const CliContext& context) {
    NoteNotifier notifier("");
    UserList users;
    LoadRegisteredUsers(context.speakersDir, users, notifier);
    return users;
}

// Reads a recording, applies the level checks of a fresh recording and trains a
// codebook on it, as the program does with a recording made with the Record button.
bool TrainFromFile(const fs::path& file, VoiceCodebook& codebook) {
    const std::string where = PathText(file) + ": ";
    RecordingFile input;
    std::string error;
    if (!ReadRecordingFile(file, where, input, error)) {
        PrintError(error);
        return false;
    }
    const LevelCheckResult& level = input.level;
    if (!level.accepted) {
        std::string reasons;
        for (const LevelWarning& warning : level.Warnings()) {
            reasons += (reasons.empty() ? "" : "; ") + std::string(warning.text);
        }
        PrintError(where + reasons);
        return false;
    }
    const std::span<const std::int16_t> recording = input.Recorded();
    NullProgress progress;
    NoteNotifier notifier(where);
    if (!TrainCodebook(codebook, recording, level.count, kSampleRate, kMaxCodewords, progress,
                       notifier)) {
        PrintError(where + std::string(kTooFewVectorsText));
        return false;
    }
    return true;
}

// A progress line on standard error for long files, when it is a terminal.
class ProgressLine final {
public:
    ProgressLine(std::string verb, const fs::path& file)
        : label_(std::move(verb) + " " + FileName(file)), enabled_(IsTerminal(stderr)) {}
    ~ProgressLine() { Clear(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    ProgressFn Callback() {
        if (!enabled_) {
            return {};
        }
        return [this](std::uint64_t done, std::uint64_t total) {
            if (total < kProgressLineBytes) {
                return;
            }
            const int percent = static_cast<int>(done * 100 / total);
            std::fprintf(stderr, "\r%s: %3d%%", label_.c_str(), percent);
            std::fflush(stderr);
            shown_ = true;
        };
    }

private:
    void Clear() {
        if (shown_) {
            std::fprintf(stderr, "\r%s\r", std::string(label_.size() + 6, ' ').c_str());
            std::fflush(stderr);
        }
    }
    std::string label_;
    bool enabled_ = false;
    bool shown_ = false;
};

// The folder the outputs go to: -o DIR, or else each input's own folder.
bool CheckOutputFolder(const std::string& outputDir) {
    std::error_code error;
    if (!outputDir.empty() && !fs::is_directory(PathFromText(outputDir), error)) {
        PrintError(outputDir + ": no such folder");
        return false;
    }
    return true;
}

fs::path OutputFolder(const std::string& outputDir, const fs::path& input) {
    return outputDir.empty() ? input.parent_path() : PathFromText(outputDir);
}

// ---- enrol ----

struct EnrolOptions {
    std::string name;
    std::array<std::string, 3> phrases;
    std::string level = "low";
    std::string keyFile;
};

int SecurityLevelIndex(std::string level) {
    std::transform(level.begin(), level.end(), level.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (level == "high") {
        return kSecurityHigh;
    }
    return level == "medium" ? kSecurityMedium : kSecurityLow;
}

int RunEnrol(const CliContext& context, const EnrolOptions& options) {
    const std::string& name = options.name;
    if (const auto problem = CheckUserName(name)) {
        PrintError("enrol: " + std::string(*problem));
        return kExitError;
    }
    const UserList users = LoadUsers(context);
    if (users.Find(name) != nullptr) {
        PrintError(name + ": " + std::string(kUserExistsMessage));
        return kExitError;
    }
    const fs::path keyFile = PathFromText(options.keyFile);
    std::error_code error;
    if (!options.keyFile.empty()) {
        // The key file is never replaced: an older one may be the only key of its files.
        if (fs::exists(keyFile, error)) {
            PrintError(options.keyFile + ": already exists; choose another key file name");
            return kExitError;
        }
        const fs::path folder = keyFile.parent_path();
        if (!folder.empty() && !fs::is_directory(folder, error)) {
            PrintError(options.keyFile + ": the folder " + PathText(folder) + " does not exist");
            return kExitError;
        }
    }
    const fs::path speakerFile = SpeakerFilePath(context.speakersDir, name);
    std::string owner;
    if (fs::exists(speakerFile, error) && ReadMarker(speakerFile, owner) && owner != name) {
        PrintError(PathText(speakerFile) + ": holds the speaker file of user " + owner + "; " +
                   std::string(kUnableToAddUserMessage));
        return kExitError;
    }

    std::array<VoiceCodebook, 3> phrases;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        if (!TrainFromFile(PathFromText(options.phrases[i]), phrases[i])) {
            return kExitError;
        }
    }
    const int level = SecurityLevelIndex(options.level);
    const float threshold = ComputeThreshold(phrases, level);
    if (!(threshold > 0.0f)) {
        PrintError("enrol: the three phrases give no usable threshold (" + Fixed4(threshold) +
                   "); record three different phrases");
        return kExitError;
    }

    if (!fs::is_directory(context.speakersDir, error)) {
        if (!fs::create_directories(context.speakersDir, error) || error) {
            PrintError(PathText(context.speakersDir) +
                       ": the Speakers folder does not exist and cannot be created");
            return kExitError;
        }
        PrintLine("Created the Speakers folder " + PathText(context.speakersDir));
    }
    RecordingNotifier storeNotices;
    if (StoreUserFiles(context.speakersDir, name, phrases, threshold, storeNotices) != 1) {
        PrintError(PathText(speakerFile) + ": " + std::string(kUnableToSaveUsersMessage) + "; " +
                   std::string(kUnableToAddUserMessage));
        return kExitError;
    }
    PrintLine("User " + name + " added (threshold " + Fixed4(threshold) + ", level " +
              options.level + "): " + PathText(speakerFile));

    if (options.keyFile.empty()) {
        PrintLine(
            "No security key file was saved. It can be saved only now, at enrolment "
            "(--key-file FILE); without it the files of " +
            name + " can be decoded by voice only.");
        return kExitSuccess;
    }
    if (!WriteKeyFile(keyFile, name, DeriveUserKey(phrases))) {
        PrintError(options.keyFile + ": " + std::string(kKeyFileNotSavedMessage) +
                   "the user was added without it");
        return kExitRejected;
    }
    PrintLine("Security key saved to " + options.keyFile +
              ". Keep it safe like a password: it decodes every file of " + name + ".");
    return kExitSuccess;
}

// ---- verify ----

int RunVerify(const CliContext& context, const std::string& name, const std::string& recording) {
    const UserList users = LoadUsers(context);
    const UserRecord* record = users.Find(name);
    if (record == nullptr) {
        PrintError("User " + name + " was not found in the list of registered users");
        return kExitError;
    }
    VoiceCodebook test;
    if (!TrainFromFile(PathFromText(recording), test)) {
        return kExitError;
    }
    float distance = 0.0f;
    const bool accepted = VerifySpeaker(record->codebooks, test, record->threshold, distance);
    PrintLine(accepted ? "Your result: Positive" : "Your result: Negative");
    PrintLine("Threshold: " + Fixed4(record->threshold) + "  Distance:" + Fixed4(distance));
    return accepted ? kExitSuccess : kExitRejected;
}

// ---- users ----

int RunUsers(const CliContext& context) {
    const UserList users = LoadUsers(context);
    if (users.empty()) {
        PrintLine(std::string(kNoRegisteredUsersMessage));
        return kExitSuccess;
    }
    for (const UserRecord& record : users) {
        PrintLine(record.name);
    }
    return kExitSuccess;
}

// ---- remove ----

int RunRemove(const CliContext& context, const std::string& name, bool yes) {
    const UserList users = LoadUsers(context);
    if (users.empty()) {
        PrintError(std::string(kNoRegisteredUsersMessage));
        return kExitError;
    }
    if (users.Find(name) == nullptr) {
        PrintError(name + ": " + std::string(kUserNotExistsMessage));
        return kExitError;
    }
    if (!yes && !AskYesNo(kRemoveWarningCaption, kRemoveWarningQuestion)) {
        PrintLine("Nothing was removed.");
        return kExitRejected;
    }
    const std::int32_t count = CountUserFiles(context.speakersDir, name);
    if (count >= 2 && !yes && !AskYesNo(kSeveralFilesCaption, SeveralFilesQuestion(count))) {
        PrintLine("Nothing was removed: the speaker files of " + name +
                  " stay, and the user is loaded again next time.");
        return kExitRejected;
    }
    const UserFileDeletion deletion = DeleteUserFiles(context.speakersDir, name);
    for (const fs::path& file : deletion.failed) {
        PrintError(PathText(file) + ": the speaker file can not be removed");
    }
    PrintLine("User " + name + " removed (" + std::to_string(deletion.deleted) +
              " speaker file(s) deleted). Files encoded for " + name +
              " can now be decoded only with the security key file.");
    return deletion.failed.empty() ? kExitSuccess : kExitError;
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
    const UserList users = LoadUsers(context);
    if (users.empty()) {
        PrintError(std::string(kNoRegisteredUsersMessage));
        return kExitError;
    }
    const UserRecord* record = users.Find(options.name);
    if (record == nullptr) {
        PrintError(options.name +
                   ": User with such name was not found in the list of registered users");
        return kExitError;
    }
    if (!CheckOutputFolder(options.outputDir)) {
        return kExitError;
    }
    const GostKey key = DeriveUserKey(record->codebooks);
    const std::string marker = record->name + std::string(kMarkerSuffix);
    int encoded = 0;
    int failed = 0;
    for (const std::string& text : options.files) {
        const fs::path input = PathFromText(text);
        const fs::path output = OutputFolder(options.outputDir, input) /
                                PathFromText(FileName(input) + std::string(kEncodedExtension));
        std::error_code error;
        if (!fs::is_regular_file(input, error)) {
            PrintError("File " + text + " can not be encoded: no such file");
            ++failed;
            continue;
        }
        if (fs::exists(output, error) && !options.overwrite) {
            PrintError(PathText(output) + ": already exists; use --overwrite to replace it");
            ++failed;
            continue;
        }
        int result = 0;
        {
            ProgressLine progress("encoding", input);
            result =
                EncodeFile(input, output, marker, key, FileSubstitutionTable, progress.Callback());
        }
        if (result != 1) {
            PrintError("File " + text +
                       " can not be encoded. Please check the path of output file (" +
                       PathText(output) + ")");
            ++failed;
            continue;
        }
        ++encoded;
        if (options.deleteOriginals && !fs::remove(input, error)) {
            PrintError("Original file " + text + " can not be removed!");
            ++failed;
        }
    }
    PrintLine(
        "Encoded " + std::to_string(encoded) + " of " + std::to_string(options.files.size()) +
        " file(s) for " + record->name +
        (options.deleteOriginals && encoded > 0 ? "; the originals encoded were deleted" : ""));
    return failed == 0 ? kExitSuccess : kExitRejected;
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
};

// The owner's name from an encoded file's first token (the name + "cryptedfile").
bool OwnerFromFile(const fs::path& file, std::string& name) {
    std::string token;
    if (!ReadMarker(file, token)) {
        std::error_code error;
        PrintError(PathText(file) + (fs::is_regular_file(file, error)
                                         ? ": This file was not encoded"
                                         : ": no such file"));
        return false;
    }
    if (token.size() < kMarkerSuffix.size() || token.size() > kMaxMarkerForName ||
        !token.ends_with(kMarkerSuffix)) {
        PrintError(PathText(file) + ": This file was not encoded");
        return false;
    }
    name = token.substr(0, token.size() - kMarkerSuffix.size());
    return true;
}

int RunDecode(const CliContext& context, const DecodeOptions& options) {
    if (options.voice.empty() == options.keyFile.empty()) {
        PrintError("decode: give either --voice RECORDING or --key-file KEYFILE");
        return kExitError;
    }
    const bool byVoice = !options.voice.empty();
    GostKey key{};
    std::string keyFileName;
    if (!byVoice && !ReadKeyFile(PathFromText(options.keyFile), keyFileName, key)) {
        PrintError(options.keyFile +
                   ": not a security key file (eight signed 32-bit numbers expected)");
        return kExitError;
    }

    std::string name = options.name;
    if (name.empty()) {
        if (options.files.size() == 1) {
            if (!OwnerFromFile(PathFromText(options.files.front()), name)) {
                return kExitError;
            }
        } else if (!keyFileName.empty()) {
            name = keyFileName;
        } else {
            PrintError("decode: Enter your name first (--name NAME, needed for several files)");
            return kExitError;
        }
    }
    if (name.empty()) {
        PrintError("decode: Enter your name first (--name NAME)");
        return kExitError;
    }
    if (!byVoice && !keyFileName.empty() && keyFileName != name) {
        PrintError(options.keyFile + ": this is the security key of " + keyFileName + ", not of " +
                   name);
        return kExitError;
    }
    if (!CheckOutputFolder(options.outputDir)) {
        return kExitError;
    }

    const UserList users = LoadUsers(context);
    const UserRecord* record = users.Find(name);
    // Whether the key is known to be right: a wrong key is not detected by the format,
    // so encoded files are deleted only when it is.
    bool keyConfirmed = false;
    if (byVoice) {
        if (record == nullptr) {
            PrintError("User " + name + " was not found in the list of registered users");
            return kExitError;
        }
        VoiceCodebook test;
        if (!TrainFromFile(PathFromText(options.voice), test)) {
            return kExitError;
        }
        float distance = 0.0f;
        const bool accepted = VerifySpeaker(record->codebooks, test, record->threshold, distance);
        PrintLine(std::string(accepted ? "Result:Positive" : "Result: Negative") + " (threshold " +
                  Fixed4(record->threshold) + ", distance " + Fixed4(distance) + ")");
        if (!accepted) {
            return kExitRejected;
        }
        key = DeriveUserKey(record->codebooks);
        keyConfirmed = true;
    } else {
        keyConfirmed = record != nullptr && DeriveUserKey(record->codebooks) == key;
    }

    const std::string marker = name + std::string(kMarkerSuffix);
    int decoded = 0;
    int failed = 0;
    int kept = 0;
    for (const std::string& text : options.files) {
        const fs::path input = PathFromText(text);
        const std::string leaf = FileName(input);
        if (leaf.size() <= kEncodedExtension.size() || !leaf.ends_with(kEncodedExtension)) {
            PrintError("File " + text + " can not be decoded: its name does not end in .crp");
            ++failed;
            continue;
        }
        const fs::path output =
            OutputFolder(options.outputDir, input) /
            PathFromText(leaf.substr(0, leaf.size() - kEncodedExtension.size()));
        std::string token;
        if (!ReadMarker(input, token)) {
            PrintError("File " + text + " can not be decoded: it can not be read");
            ++failed;
            continue;
        }
        if (token != marker) {
            PrintError("File " + text + " can not be decoded: it is not encoded for " + name);
            ++failed;
            continue;
        }
        std::error_code error;
        if (fs::exists(output, error) && !options.overwrite) {
            PrintError(PathText(output) + ": already exists; use --overwrite to replace it");
            ++failed;
            continue;
        }
        int result = 0;
        {
            ProgressLine progress("decoding", input);
            result =
                DecodeFile(input, output, marker, key, FileSubstitutionTable, progress.Callback());
        }
        if (result != 1) {
            PrintError("File " + text +
                       " can not be decoded. Please check the path of output file or this file "
                       "can be encoded by other user");
            ++failed;
            continue;
        }
        ++decoded;
        if (!options.deleteEncoded) {
            continue;
        }
        if (!keyConfirmed) {
            ++kept;
        } else if (!fs::remove(input, error)) {
            PrintError("Encoded file " + text + " can not be removed!");
            ++failed;
        }
    }
    if (kept > 0) {
        PrintNote("the encoded files were kept: the key file does not match a registered user " +
                  name + ", and a wrong key is not detected");
    }
    PrintLine("Decoded " + std::to_string(decoded) + " of " + std::to_string(options.files.size()) +
              " file(s) of " + name);
    return failed == 0 ? kExitSuccess : kExitRejected;
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
    decodeCommand->callback([&context, decode] { context.exitCode = RunDecode(context, *decode); });
}

}  // namespace quorvane
