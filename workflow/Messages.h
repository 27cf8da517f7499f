#pragma once

// Every text the workflows show, defined once for the window and the command line.
// Texts of the lower layers stay beside the code that raises them
// (analysis/LevelCheck.h, speaker/Training.h, speaker/SpeakerStore.h).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "files/Result.h"

namespace quorvane {

// The cause beneath a refusal in words: "FILE: reason", or the reason alone when the
// refusal's message names the file already or the cause concerns none. Each front end places
// it under (the window) or after (the command line) the message.
[[nodiscard]] std::string CauseText(std::string_view message, const Failure& cause);

// The caption of the program's plain message boxes.
inline constexpr std::string_view kApplicationTitle = "Quorvane 1.1";

// ---- Enrolment and the verification test ----

inline constexpr std::string_view kRecordPhraseFirstMessage = "Please record phrase first!";
inline constexpr std::string_view kPhraseAlreadyAddedMessage =
    "This phrase was added, please record new phrase!";
// "Please add " + slot number (1, 2 or 3) + " phrase"
[[nodiscard]] std::string AddPhraseFirstMessage(int slot);
inline constexpr std::string_view kThresholdStatusPrefix = "Threshold: ";
inline constexpr std::string_view kDistanceStatusInfix = "  Distance:";
inline constexpr std::string_view kVerifyTrainingFirstMessage = "You should perform training first";
inline constexpr std::string_view kRecordForRecognitionMessage =
    "Please record phrase for recognition first";
inline constexpr std::string_view kVerifyPositiveText = "Your result: Positive";
inline constexpr std::string_view kVerifyNegativeText = "Your result: Negative";
// The command line's refusal when three phrases give no threshold above 0 (three equal
// recordings, say): the window would only say kTrainingFirstMessage later.
inline constexpr std::string_view kNoUsableThresholdMessage =
    "the three phrases give no usable threshold; record three different phrases";

// ---- Adding and removing a user ----

inline constexpr std::string_view kTrainingFirstMessage = "You should perform training first!";
inline constexpr std::string_view kEnterNameMessage = "Enter your name!";
inline constexpr std::string_view kForbiddenSymbolsMessage =
    "You can not use symbols: \\ / : * ? \" < > | and \"Space\" symbols in the name";
inline constexpr std::string_view kNameTooLongMessage =
    "The name is too long: a name may have at most 999 characters";
inline constexpr std::string_view kUserExistsMessage =
    "User with such name already exists. Please select different name!";
inline constexpr std::string_view kUnableToAddUserMessage = "Unable to add user";
inline constexpr std::string_view kSpeakersFolderNotCreatedMessage =
    "The Speakers folder does not exist and can not be created: ";

// The question after a user was added (Yes/No, question icon).
inline constexpr std::string_view kSecurityKeyCaption = "Security key generation";
inline constexpr std::string_view kSecurityKeyQuestion =
    "If you want program can save security key.\n"
    "This security key can be used if something\n"
    "happend with your voice. You will be able\n"
    "to decode your files using this key.\n"
    "Do you want to save it?";
// The save dialog for the key file: title, filter, and the suffix of the preset name.
inline constexpr std::string_view kKeyFileDialogTitle = "Saving security key";
inline constexpr std::string_view kKeyFileDialogFilter = "Security key files|*.txt|All files|*.*";
inline constexpr std::string_view kKeyFileNameSuffix = "_key.txt";
// Reported when the chosen key file cannot be written; the user stays added.
inline constexpr std::string_view kKeyFileNotSavedMessage = "Unable to save security key file: ";
// A key file given before the enrolment is never replaced: an older one may be the
// only key of its files.
inline constexpr std::string_view kKeyFileExistsMessage =
    "already exists; choose another key file name";
inline constexpr std::string_view kKeyFileFolderMissingMessage =
    "the folder of the key file does not exist";

inline constexpr std::string_view kNoRegisteredUsersMessage = "There are no registered users";
inline constexpr std::string_view kUserNotExistsMessage =
    "User with such name does not exist. Please check the name!";
// The warning before a removal (Yes/No, warning icon).
inline constexpr std::string_view kRemoveWarningCaption = "Warning";
inline constexpr std::string_view kRemoveWarningQuestion =
    "Deleting this user you will not be able\n"
    "to decode files, that were encoded using phrases of\n"
    "this user if you dont't have security key.\n"
    "\n"
    "Do you want to continue?";
// The question when several speaker files carry the user's name (Yes/No, error icon).
inline constexpr std::string_view kSeveralFilesCaption = "Error";
[[nodiscard]] std::string SeveralFilesQuestion(std::int32_t fileCount);
// A speaker file of the removed user that could not be deleted brings the user back at
// the next start: "Can not delete file: " + path.
inline constexpr std::string_view kCanNotDeleteFilePrefix = "Can not delete file: ";

// ---- Encoding ----

inline constexpr std::string_view kUserNotRegisteredMessage =
    "User with such name was not found in the list of registered users";
inline constexpr std::string_view kOpenForEncodingTitle = "Open files for encoding";
inline constexpr std::string_view kOpenForEncodingFilter = "All files|*.*";
inline constexpr std::string_view kEncodingDialogCaption = "Files for encoding";
inline constexpr std::string_view kEncodingGroupCaption = "Encoding files";
inline constexpr std::string_view kDeleteOriginalsCaption = "Delete original files after encoding";
inline constexpr std::string_view kEncodingFolderCaption = "Write encoded files to folder:";
// "File " + input + " can not be encoded. Please check the path of output file"
[[nodiscard]] std::string CanNotEncodeMessage(std::string_view input);
// "Original file " + input + " can not be removed!"
[[nodiscard]] std::string OriginalNotRemovedMessage(std::string_view input);

// ---- Decoding ----

inline constexpr std::string_view kRecognizeCaption = "Recognize/Decode...";
inline constexpr std::string_view kEnterKeyCaption = "Enter key...";
inline constexpr std::string_view kOpenForDecodingFilter = "Encoded files|*.crp|All files|*.*";
inline constexpr std::string_view kNotEncodedMessage = "This file was not encoded";
// A chosen file that is not encoded, named: path + ": This file was not encoded"
[[nodiscard]] std::string NotEncodedMessage(std::string_view path);
inline constexpr std::string_view kResultRestText = "Result";
inline constexpr std::string_view kResultPositiveText = "Result:Positive";
inline constexpr std::string_view kResultNegativeText = "Result: Negative";
inline constexpr std::string_view kSelectFilesFirstMessage = "Select file(s) for decoding first.";
inline constexpr std::string_view kEnterNameFirstMessage = "Enter your name first";
// "User " + name + " was not found in the list of registered users"
[[nodiscard]] std::string UserNotFoundMessage(std::string_view name);
inline constexpr std::string_view kRecordForVerificationMessage =
    "Please record phrase for your verification first";
inline constexpr std::string_view kKeyMustBe8DigitsMessage = "Security key must be 8 digits";
// "'" + text + "' is not a valid integer value"
[[nodiscard]] std::string NotValidIntegerMessage(std::string_view text);
inline constexpr std::string_view kDecodingDialogCaption = "Files for decoding";
inline constexpr std::string_view kDecodingGroupCaption = "Decoding files";
inline constexpr std::string_view kDeleteEncodedCaption = "Delete encoded files after decoding";
inline constexpr std::string_view kDecodingFolderCaption = "Write decoded files to folder:";
// "File " + input + " can not be decoded. Please check the path of output file or this
// file can be encoded by other user"
[[nodiscard]] std::string CanNotDecodeMessage(std::string_view input);
// "Encoded file " + input + " can not be removed!"
[[nodiscard]] std::string EncodedNotRemovedMessage(std::string_view input);
// The question before an existing output file of a batch is replaced (Yes, Yes to all,
// No, Cancel): "File " + path + " already exists. Do you want to replace it?"
inline constexpr std::string_view kReplaceCaption = "Confirm file replace";
[[nodiscard]] std::string ReplaceQuestion(std::string_view path);
// Told once per batch when encoded files were kept because they carry no check value
// (written by an earlier version or another program), so their key could not be confirmed.
inline constexpr std::string_view kEncodedKeptMessage =
    "The encoded files without a check value were kept: their key can not be confirmed, and a "
    "wrong key would have decoded them to garbage";
// A file without a check value, whose key cannot be tested without decoding.
inline constexpr std::string_view kKeyNotTestableMessage =
    "written without a check value; the key can not be tested";
// An input of a command that is missing, a folder or cannot be opened, named as the user
// named it, in every command alike: input + ": " + reason ("notes.txt: no such file").
inline constexpr std::string_view kNoSuchFileReason = "no such file";
[[nodiscard]] std::string InputProblemMessage(std::string_view input, std::string_view reason);
// A failure whose cause the file's own check value proved (a wrong key, a damaged file): the
// cause worded for a person on a line of its own, first, then the described message, shown
// whole by both front ends: kKeyDoesNotFitText + "\n" + message.
inline constexpr std::string_view kKeyDoesNotFitText =
    "The key does not fit this file, or the file is damaged: nothing was written";
[[nodiscard]] std::string ProvenCauseMessage(std::string_view message);
// A later file of a batch whose output is the output an earlier file of the same batch wrote:
// "File " + input + " can not be encoded: " + output + " would replace the encoding of " +
// earlier + " written by this batch" (decoding: "decoded", "the decoding of").
[[nodiscard]] std::string BatchOutputTakenMessage(std::string_view input, std::string_view output,
                                                  std::string_view earlier, bool encoding);
// A file of a batch whose output is the input of a later file, which the write would destroy
// before it is read: "File " + input + " can not be encoded: " + output + " would replace " +
// later + ", which this batch has yet to read" (decoding: "decoded").
[[nodiscard]] std::string BatchInputTakenMessage(std::string_view input, std::string_view output,
                                                 std::string_view later, bool encoding);
// A source a batch was to delete and kept, because its output no longer holds what the batch
// wrote, or the source changed after it was read, or it is itself an output of the batch:
// ("Original file " | "Encoded file ") + input + " was kept: " + why.
[[nodiscard]] std::string SourceKeptMessage(std::string_view input, bool encoding,
                                            std::string_view why);
// why: output + " no longer holds what this batch wrote there"
[[nodiscard]] std::string OutputChangedReason(std::string_view output);
inline constexpr std::string_view kSourceChangedReason = "it changed after it was read";
inline constexpr std::string_view kSourceIsBatchOutputReason =
    "it is the output of another file of this batch";
inline constexpr std::string_view kSymbolicLinkKeptReason =
    "it is a symbolic link; neither it nor the file it points to is deleted";
// A file with other names (hard links): deleting this name would leave the content readable
// under the others while the summary said it went.
inline constexpr std::string_view kHardLinkKeptReason =
    "it has other names (hard links), under which its content would stay";
// The question when a batch meets a file without a check value (Yes/No, warning icon, so No is
// the default), asked once per batch; the answer holds for every such file of the batch.
inline constexpr std::string_view kUnverifiedCaption = "No check value";
// "File " + path + " carries no check value ..." then whether to decode such files anyway.
[[nodiscard]] std::string UnverifiedQuestion(std::string_view path);
// The command line's hint after files without a check value were refused.
inline constexpr std::string_view kAllowUnverifiedHint =
    "files without a check value are decoded only with --allow-unverified; their key can not be "
    "confirmed, and a wrong key decodes them to garbage";
// The output folder of a batch: path + ": is not a folder", path + ": the folder can not be
// created (" + reason + ")", and what the summary adds once it was created: "; the folder " +
// path + " was created".
inline constexpr std::string_view kNotAFolderReason = "is not a folder";
[[nodiscard]] std::string FolderNotCreatedMessage(std::string_view path, std::string_view reason);
[[nodiscard]] std::string FolderCreatedText(std::string_view path);
// "Removed a temporary file left by an interrupted run: " + path
[[nodiscard]] std::string LeftoverRemovedMessage(std::string_view path);
// "Freed the name " + path + ", which an interrupted run had reserved": the placeholder file a
// no-replace write leaves at its output's name on FAT and exFAT when it is killed.
[[nodiscard]] std::string ReservationRemovedMessage(std::string_view path);

// ---- What a command did, in the window's status panel ----

// "Phrase " + slot number (1, 2 or 3) + " added"
[[nodiscard]] std::string PhraseAddedText(int slot);
// "User " + name + " added", then ", security key saved to " + path when it was saved
[[nodiscard]] std::string UserAddedText(std::string_view name, std::string_view keyFile);
// "User " + name + " removed"
[[nodiscard]] std::string UserRemovedText(std::string_view name);
// A batch in work: "File " + number + " of " + count + ": " + file name.
[[nodiscard]] std::string BatchFileText(std::size_t number, std::size_t count,
                                        std::string_view name);
// Appended to BatchFileText once the file's speed is known: " - " + whole megabytes
// (10^6 bytes) per second + " MB/s".
[[nodiscard]] std::string SpeedText(double bytesPerSecond);
// A batch the user stopped: "Cancelled after " + files dealt with + " of " + count +
// " files" (" file" for a batch of one).
[[nodiscard]] std::string CancelledAfterText(std::size_t done, std::size_t total);
// The question when the window is closed while a batch runs (Yes/No, question icon, the
// application title as caption).
inline constexpr std::string_view kCancelBatchQuestion =
    "Files are still being encoded or decoded. Cancel the rest and close the window?";
// A security key file that the security key dialog cannot take.
inline constexpr std::string_view kNotKeyFileMessage =
    "is not a security key file: it must hold eight signed 32-bit numbers, one per line";
// A new enrolment whose speaker file name holds a loadable speaker file now (another enrolment
// of the name stored it meanwhile): "A speaker file of " + name + " was stored meanwhile (by
// another enrolment?): this enrolment was not stored".
[[nodiscard]] std::string SpeakerFileAppearedMessage(std::string_view name);
// A damaged or unreadable speaker file that a new enrolment of its name moved out of the way
// instead of destroying: "The speaker file " + path + " could not be loaded; it was kept as " +
// aside.
[[nodiscard]] std::string SpeakerFileKeptMessage(std::string_view path, std::string_view aside);
// "this is the security key of " + keyName + ", not of " + name
[[nodiscard]] std::string KeyOfOtherUserMessage(std::string_view keyName, std::string_view name);

}  // namespace quorvane
