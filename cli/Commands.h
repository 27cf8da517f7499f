#pragma once

#include <filesystem>

namespace CLI {
class App;
}

namespace quorvane {

// Exit codes of quorvane-cli: 0 done, 2 an error (a file that cannot be read,
// a recording that cannot be trained, ...). Commands with a verdict may use 1
// for a negative one.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRejected = 1;
inline constexpr int kExitError = 2;

// What every command shares: the global options and the exit code that the
// command sets when it runs.
struct CliContext {
    // --speakers DIR; by default the folder "Speakers" beside the executable.
    std::filesystem::path speakersDir;
    bool speakersGiven = false;  // --speakers was on the command line
    // --passphrase-file FILE: the passphrases of protected users from its first line.
    std::filesystem::path passphraseFile;
    // --new-passphrase-file FILE: a new passphrase (of protect, enrol --protect, passphrase)
    // from its first line.
    std::filesystem::path newPassphraseFile;
    // The command changes a passphrase: --passphrase-file holds the old one only.
    bool changing = false;
    // --remember: let the keyring remember a passphrase that is set or typed.
    bool remember = false;
    int exitCode = kExitSuccess;
};

// inspect FILE [--json] and distance A B: the analysis and training of sound files, shown
// stage by stage, and the distance of two trained files (cli/InspectCommand.cpp,
// cli/DistanceCommand.cpp).
void RegisterInspectCommand(CLI::App& app, CliContext& context);
void RegisterDistanceCommand(CLI::App& app, CliContext& context);

// The commands that work with registered users and their files, one a file
// (cli/NameCommand.cpp): enrol, verify, users, remove, encode, decode.
void RegisterEnrolCommand(CLI::App& app, CliContext& context);
void RegisterVerifyCommand(CLI::App& app, CliContext& context);
void RegisterUsersCommand(CLI::App& app, CliContext& context);
void RegisterRemoveCommand(CLI::App& app, CliContext& context);
void RegisterEncodeCommand(CLI::App& app, CliContext& context);
void RegisterDecodeCommand(CLI::App& app, CliContext& context);

// protect NAME, unprotect NAME and passphrase NAME: the passphrase of a registered user.
void RegisterProtectCommand(CLI::App& app, CliContext& context);
void RegisterUnprotectCommand(CLI::App& app, CliContext& context);
void RegisterPassphraseCommand(CLI::App& app, CliContext& context);

// evaluate DIR: the false rejections and acceptances of each security level on a corpus.
void RegisterEvaluateCommand(CLI::App& app, CliContext& context);

}  // namespace quorvane
