#include "workflow/Decoding.h"

#include "files/PathText.h"
#include "workflow/Messages.h"

namespace quorvane {

std::vector<std::filesystem::path> ChoosableEncodedFiles(
    const std::vector<std::filesystem::path>& files, FrontEnd& front) {
    if (files.size() < 2) {
        return files;
    }
    std::vector<std::filesystem::path> kept;
    for (const std::filesystem::path& file : files) {
        const OwnerResult owner = OwnerOfEncodedFile(file);
        if (owner.done) {
            kept.push_back(file);
        } else if (owner.message == kNotEncodedMessage) {
            front.Notice(PathText(file) + ": " + owner.message);
        } else {
            front.Notice(owner.message);
        }
    }
    return kept;
}

DecodeOwnerResult DecodeOwner(const DecodeRequest& request) {
    DecodeOwnerResult result;
    if (request.keySource == KeySource::KeyFile) {
        const KeyFileResult read = KeyFromFile(request.keyFile, {});
        if (!read.done) {
            result.refusal = OwnerRefusal::KeyFile;
            result.message = read.message;
            return result;
        }
        result.keyName = read.keyName;
        result.key = read.key;
    }
    result.name = request.name;
    if (result.name.empty() && request.files.size() == 1) {
        const OwnerResult owner = OwnerOfEncodedFile(request.files.front());
        result.fromFile = true;
        if (!owner.done) {
            result.refusal = OwnerRefusal::File;
            result.message = owner.message;
            return result;
        }
        result.name = owner.name;
    } else if (result.name.empty()) {
        result.name = result.keyName;
    }
    if (result.name.empty()) {
        result.refusal = OwnerRefusal::NoName;
        result.message = kEnterNameFirstMessage;
        return result;
    }
    if (const auto other = KeyOfAnotherUser(result.keyName, result.name)) {
        result.refusal = OwnerRefusal::KeyOfOtherUser;
        result.message = *other;
        return result;
    }
    result.done = true;
    return result;
}

VoiceKeyResult DecodeKey(const DecodeRequest& request, const DecodeOwnerResult& owner,
                         const UserList& users, FrontEnd& front) {
    switch (request.keySource) {
        case KeySource::Voice:
            return KeyFromVoice(users, owner.name, request.recording, front);
        case KeySource::TypedLines: {
            const TypedKeyResult typed = KeyFromLines(request.keyLines);
            VoiceKeyResult result;
            result.done = typed.done;
            result.message = typed.message;
            result.key = typed.key;
            return result;
        }
        case KeySource::KeyFile:
            break;
    }
    VoiceKeyResult result;
    result.done = owner.done;
    result.key = owner.key;
    return result;
}

BatchResult RunDecodeRequest(const DecodeRequest& request, std::string_view owner,
                             const GostKey& key, BatchFrontEnd& front) {
    if (request.checkOnly) {
        return CheckKeyOnFiles(owner, key, request.files, front);
    }
    return DecodeFiles(owner, key, request.files, request.outputFolder, request.deleteEncoded,
                       front);
}

}  // namespace quorvane
