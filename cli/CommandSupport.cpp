#include "cli/CommandSupport.h"

#include <string>

#include "cli/RecordingFile.h"
#include "cli/SoundFile.h"
#include "cli/Terminal.h"
#include "cli/TerminalFrontEnd.h"
#include "files/PathText.h"
#include "workflow/Coding.h"
#include "workflow/Evaluation.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace fs = std::filesystem;

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

Users LoadUsers(const CliContext& context, FolderNotes told) {
    for (const std::string& note :
         SpeakersFolderNotes(context.speakersDir, context.speakersGiven && told.missing)) {
        PrintNote(note);
    }
    TerminalFrontEnd notes;
    Users users(context.speakersDir);
    users.Load(notes);
    if (told.privacy) {
        if (const auto note = SpeakersFolderPrivacyNote(context.speakersDir, users.List())) {
            PrintNote(*note);
        }
    }
    return users;
}

bool TakeRecordingFile(const fs::path& file, Enrolment& enrolment) {
    const Result<RecordingFile> input = ReadRecordingFile(file);
    if (!input) {
        PrintError(SoundFileProblemText(input.error()));
        return false;
    }
    const LevelCheckResult level = enrolment.TakeRecording(input->samples);
    if (!level.accepted) {
        PrintError(PathText(file) + ": " + LevelRefusalText(level));
        return false;
    }
    return true;
}

bool OutputFolder(const std::string& outputDir, fs::path& folder, OutputFolderResult& prepared) {
    folder = PathFromText(outputDir);
    prepared = PrepareOutputFolder(folder);
    if (!prepared.done) {
        static_cast<void>(Refused({}, prepared));
    }
    return prepared.done;
}

}  // namespace quorvane
