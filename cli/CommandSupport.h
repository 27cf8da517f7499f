#pragma once

// What the commands on registered users share: paths from the command line's text, the
// users of the Speakers folder, a recording file taken as the current recording, the output
// folder of a batch, and a refusal as an error line.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/Commands.h"
#include "cli/Refusal.h"
#include "workflow/Coding.h"
#include "workflow/Enrolment.h"
#include "workflow/Users.h"

namespace quorvane {

// A path from the command line's UTF-8 text.
[[nodiscard]] std::filesystem::path PathFromText(std::string_view text);
[[nodiscard]] std::vector<std::filesystem::path> PathsFromTexts(
    const std::vector<std::string>& texts);

// The registered users of the Speakers folder. A folder given with --speakers that does
// not exist, and speaker files that the loading skips without a word, are told as notes.
// Which notes on the Speakers folder loading tells besides its skipped files: a named folder
// that does not exist (not for a command that creates it) and the folder's privacy on a file
// system without permissions (for the commands that list or add users).
struct FolderNotes {
    bool missing = true;
    bool privacy = false;
};
[[nodiscard]] Users LoadUsers(const CliContext& context, FolderNotes told = {});

// Reads a recording and takes it as the enrolment's current one, with the level checks
// of a recording made with the Record button. False, with the error printed, when the
// file cannot be read or the checks refuse it.
[[nodiscard]] bool TakeRecordingFile(const std::filesystem::path& file, Enrolment& enrolment);

// The folder the outputs go to: -o DIR, created when missing (PrepareOutputFolder), or else each
// input's own folder (empty). False, with the error printed, when DIR is no folder or cannot be
// created; `prepared` tells what was created (for KeepOutputFolderIfUsed after the batch).
[[nodiscard]] bool OutputFolder(const std::string& outputDir, std::filesystem::path& folder,
                                OutputFolderResult& prepared);

}  // namespace quorvane
