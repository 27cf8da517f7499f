#include "workflow/Coding.h"

#include <system_error>

#include "cipher/CipherError.h"
#include "cipher/EncodedFile.h"
#include "files/PathText.h"
#include "files/PlatformFile.h"
#include "speaker/KeyFile.h"
#include "speaker/UserKey.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

std::u8string FileNameOf(const fs::path& path) {
    return path.filename().u8string();
}

fs::path FolderFor(const fs::path& folder, const fs::path& input) {
    return folder.empty() ? input.parent_path() : folder;
}

// A UTF-8 text less its last `count` characters (code points); nothing when it has no
// more than `count`.
std::optional<std::u8string> DropLastCharacters(const std::u8string& text, std::size_t count) {
    std::size_t end = text.size();
    for (std::size_t dropped = 0; dropped < count; ++dropped) {
        if (end == 0) {
            return std::nullopt;
        }
        --end;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
    }
    if (end == 0) {
        return std::nullopt;
    }
    return text.substr(0, end);
}

// Why a decoding failed, as far as the file's header tells.
std::string DecodeReason(const fs::path& input, std::string_view name) {
    std::string token;
    if (!ReadMarker(input, token)) {
        return "it can not be read as an encoded file";
    }
    if (token != EncodedMarker(name)) {
        return "it is not encoded for " + std::string(name);
    }
    return {};
}

}  // namespace

std::string EncodedMarker(std::string_view name) {
    return std::string(name) + std::string(kMarkerSuffix);
}

OwnerResult OwnerOfEncodedFile(const fs::path& file) {
    OwnerResult result;
    if (const std::string reason = InputReason(file); !reason.empty()) {
        result.message = InputProblemMessage(PathText(file), reason);
        return result;
    }
    std::string token;
    if (!ReadMarker(file, token) || token.size() < kMarkerSuffix.size() ||
        token.size() > kMaxOwnerTokenLength || token.find(kMarkerSuffix) == std::string::npos) {
        result.notEncoded = true;
        result.message = NotEncodedMessage(PathText(file));
        return result;
    }
    // The name is the token less its last 11 bytes, wherever "cryptedfile" stood.
    result.name = token.substr(0, token.size() - kMarkerSuffix.size());
    result.done = true;
    return result;
}

fs::path EncodedOutputPath(const fs::path& folder, const fs::path& input) {
    std::u8string name = FileNameOf(input);
    name.append(kEncodedExtension.begin(), kEncodedExtension.end());
    return FolderFor(folder, input) / fs::path(name);
}

std::optional<fs::path> DecodedOutputPath(const fs::path& folder, const fs::path& input) {
    const std::optional<std::u8string> name =
        DropLastCharacters(FileNameOf(input), kDroppedNameCharacters);
    if (!name) {
        return std::nullopt;
    }
    return FolderFor(folder, input) / fs::path(*name);
}

OutputFolderResult PrepareOutputFolder(const fs::path& folder) {
    OutputFolderResult result;
    std::error_code error;
    const fs::path path = folder.has_filename() ? folder : folder.parent_path();
    if (path.empty() || fs::is_directory(path, error)) {
        result.done = true;
        return result;
    }
    if (fs::exists(fs::symlink_status(path, error))) {
        result.message = InputProblemMessage(PathText(path), kNotAFolderReason);
        return result;
    }
    // The missing folders of the path, innermost first.
    std::vector<fs::path> missing;
    for (fs::path part = path; !part.empty() && !fs::exists(part, error);
         part = part.parent_path()) {
        missing.push_back(part);
        if (part == part.parent_path()) {
            break;
        }
    }
    for (auto part = missing.rbegin(); part != missing.rend(); ++part) {
        if (const Status created = CreatePrivateFolder(*part); created) {
            result.made.push_back(*part);
        } else if (created.error().code() != std::errc::file_exists) {
            result.message = FolderNotCreatedMessage(PathText(path), created.error().Reason());
            static_cast<void>(KeepOutputFolderIfUsed(result));
            return result;
        }
    }
    result.created = true;
    result.done = true;
    return result;
}

bool KeepOutputFolderIfUsed(const OutputFolderResult& folder) {
    for (auto part = folder.made.rbegin(); part != folder.made.rend(); ++part) {
        // Only a folder is removed, and only while empty: removal of a folder that holds
        // anything fails, and what holds it stays.
        std::error_code error;
        if (!fs::is_directory(fs::symlink_status(*part, error)) || !fs::is_empty(*part, error) ||
            error || !fs::remove(*part, error)) {
            break;
        }
    }
    std::error_code error;
    return folder.created &&
           (folder.made.empty() || fs::exists(fs::symlink_status(folder.made.back(), error)));
}

const UserRecord* FindEncodingUser(const UserList& users, std::string_view name,
                                   std::string& message) {
    if (users.empty()) {
        message = kNoRegisteredUsersMessage;
        return nullptr;
    }
    const UserRecord* record = users.Find(name);
    if (record == nullptr) {
        message = kUserNotRegisteredMessage;
    } else if (record->locked) {
        // Its models (and so its key) are not there until UnlockUser.
        message = LockedUserMessage(name);
        return nullptr;
    }
    return record;
}

BatchResult EncodeFiles(const UserRecord& user, const std::vector<fs::path>& inputs,
                        const fs::path& outputFolder, bool deleteOriginals, BatchFrontEnd& front) {
    if (user.locked) {
        // No key without the models: every file fails, nothing is written.
        BatchResult locked;
        for (const fs::path& input : inputs) {
            FileOutcome outcome;
            outcome.input = input;
            outcome.message = LockedUserMessage(user.name);
            locked.files.push_back(std::move(outcome));
        }
        return locked;
    }
    const GostKey key = DeriveUserKey(user.codebooks);
    const std::string marker = EncodedMarker(user.name);
    BatchKind kind;
    kind.outputFor = [&](const fs::path& input) { return EncodedOutputPath(outputFolder, input); };
    kind.code = [&](const fs::path& input, const fs::path& output,
                    const CodingOptions& options) -> Result<Coded> {
        if (const Status encoded =
                EncodeFileChecked(input, output, marker, key, FileSubstitutionTable, options);
            !encoded) {
            return encoded.error();
        }
        return Coded{};
    };
    kind.reasonFor = [](const fs::path& input, const Failure& failure) {
        return DescribeFailure(failure, input);
    };
    kind.failedMessage = CanNotEncodeMessage;
    kind.notRemovedMessage = OriginalNotRemovedMessage;
    kind.encoding = true;
    kind.deleteInputs = deleteOriginals;
    return RunBatch(inputs, kind, front);
}

VoiceKeyResult KeyFromVoice(const UserList& users, std::string_view name,
                            std::span<const std::int16_t> recording, FrontEnd& front) {
    VoiceKeyResult result;
    const UserRecord* record = users.Find(name);
    if (record == nullptr) {
        result.message = UserNotFoundMessage(name);
        return result;
    }
    if (record->locked) {
        result.message = LockedUserMessage(name);
        return result;
    }
    if (recording.empty()) {
        result.message = kRecordForVerificationMessage;
        return result;
    }
    result.verdict = VerifyRecording(record->codebooks, record->threshold, recording, front);
    if (!result.verdict.done) {
        result.message = result.verdict.message;
        return result;
    }
    result.verdictText = result.verdict.accepted ? kResultPositiveText : kResultNegativeText;
    if (result.verdict.accepted) {
        result.key = DeriveUserKey(record->codebooks);
        result.done = true;
    }
    return result;
}

TypedKeyResult KeyFromLines(const std::vector<std::string>& lines) {
    TypedKeyResult result;
    if (lines.size() < result.key.size()) {
        result.message = kKeyMustBe8DigitsMessage;
        return result;
    }
    for (std::size_t i = 0; i < result.key.size(); ++i) {
        if (!ParseKeyWord(lines[i], result.key[i])) {
            result.message = NotValidIntegerMessage(lines[i]);
            result.key = {};
            return result;
        }
    }
    result.done = true;
    return result;
}

std::optional<std::string> KeyOfAnotherUser(std::string_view keyName, std::string_view owner) {
    if (keyName.empty() || keyName == owner) {
        return std::nullopt;
    }
    return KeyOfOtherUserMessage(keyName, owner);
}

KeyFileResult KeyFromFile(const fs::path& file, std::string_view name) {
    KeyFileResult result;
    if (const std::string reason = InputReason(file); !reason.empty()) {
        result.message = InputProblemMessage(PathText(file), reason);
        return result;
    }
    if (!ReadKeyFile(file, result.keyName, result.key)) {
        result.message = PathText(file) + ": " + std::string(kNotKeyFileMessage);
        result.key = {};
        return result;
    }
    if (const auto other = name.empty() ? std::nullopt : KeyOfAnotherUser(result.keyName, name)) {
        result.message = PathText(file) + ": " + *other;
        return result;
    }
    result.done = true;
    return result;
}

BatchResult DecodeFiles(std::string_view name, const GostKey& key,
                        const std::vector<fs::path>& inputs, const fs::path& outputFolder,
                        bool deleteEncoded, BatchFrontEnd& front) {
    // A wrong key still "decodes" a file without a check value, and a file of an earlier
    // enrolment under the same name decodes to garbage under the new key: an encoded file
    // is deleted only when its own check value proved the key, whatever the key's source.
    const std::string marker = EncodedMarker(name);
    BatchKind kind;
    kind.outputFor = [&](const fs::path& input) { return DecodedOutputPath(outputFolder, input); };
    kind.code = [&](const fs::path& input, const fs::path& output, const CodingOptions& options) {
        return DecodeFileChecked(input, output, marker, key, FileSubstitutionTable, options);
    };
    kind.reasonFor = [name](const fs::path& input, const Failure& failure) {
        return failure.code() == CipherError::NotEncoded ? DecodeReason(input, name)
                                                         : DescribeFailure(failure, input);
    };
    kind.failedMessage = CanNotDecodeMessage;
    kind.notRemovedMessage = EncodedNotRemovedMessage;
    kind.encoding = false;
    kind.deleteInputs = deleteEncoded;
    kind.deleteOnlyWhenProved = true;
    kind.checkKey = [&](const fs::path& input) {
        return CheckEncodedKey(input, marker, key, FileSubstitutionTable);
    };
    BatchResult batch = RunBatch(inputs, kind, front);
    if (batch.KeptCount() > 0) {
        front.Notice(std::string(kEncodedKeptMessage));
    }
    return batch;
}

BatchResult CheckKeyOnFiles(std::string_view name, const GostKey& key,
                            const std::vector<fs::path>& inputs, BatchFrontEnd& front) {
    BatchResult batch;
    const std::string marker = EncodedMarker(name);
    for (const fs::path& input : inputs) {
        FileOutcome file;
        file.input = input;
        const Result<Coded> checked = CheckEncodedFile(input, marker, key, FileSubstitutionTable);
        if (checked && checked->tagVerified) {
            file.status = FileStatus::Done;
        } else if (checked) {
            file.status = FileStatus::Skipped;
            file.reason = kKeyNotTestableMessage;
        } else {
            const Failure& failure = checked.error();
            file.reason = failure.code() == CipherError::NotEncoded
                              ? DecodeReason(input, name)
                              : DescribeFailure(failure, input);
            file.message = CanNotDecodeMessage(PathText(input));
            front.FileProblem(file.message, file.reason);
        }
        batch.files.push_back(std::move(file));
    }
    return batch;
}

}  // namespace quorvane
