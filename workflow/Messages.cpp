#include "workflow/Messages.h"

#include <algorithm>
#include <cmath>

#include "files/PathText.h"

namespace quorvane {

namespace {

std::string Joined(std::string_view a, std::string_view b, std::string_view c) {
    std::string text;
    text.reserve(a.size() + b.size() + c.size());
    return text.append(a).append(b).append(c);
}

}  // namespace

std::string CauseText(std::string_view message, const Failure& cause) {
    if (cause.path().empty()) {
        return cause.Reason();
    }
    const std::string path = PathText(cause.path());
    return message.find(path) != std::string_view::npos ? cause.Reason()
                                                        : path + ": " + cause.Reason();
}

std::string AddPhraseFirstMessage(int slot) {
    return "Please add " + std::to_string(slot) + " phrase";
}

std::string SeveralFilesQuestion(std::int32_t fileCount) {
    return "Error. There were found " + std::to_string(fileCount) +
           " files representing this user (speaker).\nDo you want to delete them all?";
}

std::string CanNotEncodeMessage(std::string_view input) {
    return Joined("File ", input, " can not be encoded. Please check the path of output file");
}

std::string OriginalNotRemovedMessage(std::string_view input) {
    return Joined("Original file ", input, " can not be removed!");
}

std::string UserNotFoundMessage(std::string_view name) {
    return Joined("User ", name, " was not found in the list of registered users");
}

std::string NotValidIntegerMessage(std::string_view text) {
    return Joined("'", text, "' is not a valid integer value");
}

std::string CanNotDecodeMessage(std::string_view input) {
    return Joined("File ", input,
                  " can not be decoded. Please check the path of output file or this file can "
                  "be encoded by other user");
}

std::string EncodedNotRemovedMessage(std::string_view input) {
    return Joined("Encoded file ", input, " can not be removed!");
}

std::string NotEncodedMessage(std::string_view path) {
    return Joined(path, ": ", kNotEncodedMessage);
}

std::string ReplaceQuestion(std::string_view path) {
    return Joined("File ", path, " already exists. Do you want to replace it?");
}

std::string LeftoverRemovedMessage(std::string_view path) {
    return Joined("Removed a temporary file left by an interrupted run: ", path, "");
}

std::string ReservationRemovedMessage(std::string_view path) {
    return Joined("Freed the name ", path, ", which an interrupted run had reserved");
}

std::string FolderNotCreatedMessage(std::string_view path, std::string_view reason) {
    return Joined(path, ": the folder can not be created (", reason).append(")");
}

std::string FolderCreatedText(std::string_view path) {
    return Joined("; the folder ", path, " was created");
}

std::string InputProblemMessage(std::string_view input, std::string_view reason) {
    return Joined(input, ": ", reason);
}

std::string ProvenCauseMessage(std::string_view message) {
    return Joined(kKeyDoesNotFitText, "\n", message);
}

std::string BatchOutputTakenMessage(std::string_view input, std::string_view output,
                                    std::string_view earlier, bool encoding) {
    return Joined("File ", input, encoding ? " can not be encoded: " : " can not be decoded: ")
        .append(output)
        .append(encoding ? " would replace the encoding of " : " would replace the decoding of ")
        .append(earlier)
        .append(" written by this batch");
}

std::string BatchInputTakenMessage(std::string_view input, std::string_view output,
                                   std::string_view later, bool encoding) {
    return Joined("File ", input, encoding ? " can not be encoded: " : " can not be decoded: ")
        .append(output)
        .append(" would replace ")
        .append(later)
        .append(", which this batch has yet to read");
}

std::string SourceKeptMessage(std::string_view input, bool encoding, std::string_view why) {
    return Joined(encoding ? "Original file " : "Encoded file ", input, " was kept: ").append(why);
}

std::string OutputChangedReason(std::string_view output) {
    return Joined("", output, " no longer holds what this batch wrote there");
}

std::string UnverifiedQuestion(std::string_view path) {
    return Joined("File ", path,
                  " carries no check value (written by an earlier version, or the value was "
                  "removed): the key cannot be confirmed, and a wrong key would decode it to "
                  "garbage.\n\nDecode the files without a check value of this batch anyway?");
}

std::string SpeakerFileAppearedMessage(std::string_view name) {
    return Joined("A speaker file of ", name,
                  " was stored meanwhile (by another enrolment?): this enrolment was not stored");
}

std::string SpeakerFileKeptMessage(std::string_view path, std::string_view aside) {
    return Joined("The speaker file ", path, " could not be loaded; it was kept as ").append(aside);
}

std::string PhraseAddedText(int slot) {
    return "Phrase " + std::to_string(slot) + " added";
}

std::string UserAddedText(std::string_view name, std::string_view keyFile) {
    std::string text = Joined("User ", name, " added");
    return keyFile.empty() ? text : text.append(", security key saved to ").append(keyFile);
}

std::string BatchFileText(std::size_t number, std::size_t count, std::string_view name) {
    return "File " + std::to_string(number) + " of " + std::to_string(count) + ": " +
           std::string(name);
}

std::string SpeedText(double bytesPerSecond) {
    return " - " + std::to_string(std::llround(std::max(bytesPerSecond, 0.0) / 1e6)) + " MB/s";
}

std::string CancelledAfterText(std::size_t done, std::size_t total) {
    return "Cancelled after " + std::to_string(done) + " of " + std::to_string(total) +
           (total == 1 ? " file" : " files");
}

std::string KeyOfOtherUserMessage(std::string_view keyName, std::string_view name) {
    return Joined("this is the security key of ", keyName, ", not of ").append(name);
}

std::string UserRemovedText(std::string_view name) {
    return Joined("User ", name, " removed");
}

}  // namespace quorvane
