#include "workflow/Decoding.h"

#include "files/PathText.h"
#include "files/Secret.h"
#include "workflow/Batch.h"
#include "workflow/Messages.h"
#include "workflow/Protection.h"

namespace quorvane {

std::vector<std::filesystem::path> ChoosableEncodedFiles(
    const std::vector<std::filesystem::path>& files, FrontEnd& front) {
    if (files.size() < 2) {
        return files;
    }
    TellLeftovers(RemoveLeftoversBeside(files), front);
    std::vector<std::filesystem::path> kept;
    for (const std::filesystem::path& file : files) {
        const OwnerResult owner = OwnerOfEncodedFile(file);
        if (owner.done) {
            kept.push_back(file);
        } else {
            front.Notice(owner.message);
        }
    }
    return kept;
}

DecodeOwnerResult DecodeOwner(const DecodeRequest& request) {
    DecodeOwnerResult result;
    result.leftoversRemoved = RemoveLeftoversBeside(request.files);
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
    if (result.name.empty() && !request.nameRequired && request.files.size() == 1) {
        const OwnerResult owner = OwnerOfEncodedFile(request.files.front());
        result.fromFile = true;
        result.notEncoded = owner.notEncoded;
        if (!owner.done) {
            result.refusal = OwnerRefusal::File;
            result.message = owner.message;
            return result;
        }
        result.name = owner.name;
    } else if (result.name.empty() && !request.nameRequired) {
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

bool DecodeOutcome::Succeeded() const {
    const std::size_t total = files.files.size();
    switch (ending) {
        case DecodeEnding::Checked:
            return batch.Count(FileStatus::Done) == static_cast<int>(total);
        case DecodeEnding::Decoded:
            return batch.AllDone(total) && !batch.RemovalsFailed();
        default:
            return false;
    }
}

DecodeVerdict VerdictOf(const DecodeOutcome& outcome) {
    switch (outcome.ending) {
        case DecodeEnding::Checked:
            return outcome.Succeeded() ? DecodeVerdict::Succeeded : DecodeVerdict::Rejected;
        case DecodeEnding::Decoded:
            return outcome.Succeeded()              ? DecodeVerdict::Succeeded
                   : outcome.batch.InputsUnusable() ? DecodeVerdict::Failed
                                                    : DecodeVerdict::Rejected;
        case DecodeEnding::Rejected:
            return DecodeVerdict::Rejected;
        case DecodeEnding::Refused:
        case DecodeEnding::Cancelled:
        case DecodeEnding::NotRun:
            return DecodeVerdict::Failed;
    }
    return DecodeVerdict::Failed;
}

namespace {

// The key for the owner's files from the request's source; the voice's verdict is shown as
// soon as the recording was judged. Ends the outcome when there is none.
std::optional<GostKey> KeyFor(const DecodeRequest& request, const DecodeOwnerResult& owner,
                              Users& users, FrontEnd& front, DecodeSteps& steps,
                              DecodeOutcome& outcome) {
    switch (request.keySource) {
        case KeySource::Voice: {
            // The voice is judged against the stored models: a protected user's are unlocked
            // first.
            if (users.List().Find(owner.name) != nullptr) {
                const StepResult unlocked = UnlockUser(users, owner.name, front);
                if (!unlocked.done) {
                    outcome.message = unlocked.message;
                    outcome.cause = unlocked.cause;
                    return std::nullopt;
                }
            }
            VoiceKeyResult voice = KeyFromVoice(users.List(), owner.name, request.recording, front);
            if (voice.verdict.done) {
                steps.ShowVerdict(voice);
            }
            if (!voice.done) {
                outcome.ending =
                    voice.verdict.done ? DecodeEnding::Rejected : DecodeEnding::Refused;
                outcome.message = voice.message;
                outcome.cause = voice.cause;
                return std::nullopt;
            }
            const WipeOnExit<GostKey> wipe(voice.key);
            return voice.key;
        }
        case KeySource::TypedLines: {
            const std::optional<std::vector<std::string>> lines = steps.AskKeyLines(owner.name);
            if (!lines) {
                outcome.ending = DecodeEnding::Cancelled;
                return std::nullopt;
            }
            TypedKeyResult typed = KeyFromLines(*lines);
            const WipeOnExit<GostKey> wipe(typed.key);
            if (!typed.done) {
                outcome.message = typed.message;
                outcome.cause = typed.cause;
                return std::nullopt;
            }
            return typed.key;
        }
        case KeySource::KeyFile:
            break;
    }
    return owner.key;
}

}  // namespace

DecodeOutcome Decode(const DecodeRequest& request, Users& users, FrontEnd& front,
                     DecodeSteps& steps) {
    DecodeOutcome outcome;
    if (request.files.empty()) {
        outcome.message = kSelectFilesFirstMessage;
        return outcome;
    }
    DecodeOwnerResult owner = DecodeOwner(request);
    const WipeOnExit<GostKey> wipeOwnerKey(owner.key);
    TellLeftovers(owner.leftoversRemoved, front);
    if (!owner.done) {
        outcome.message = owner.message;
        outcome.cause = owner.cause;
        outcome.refusal = owner.refusal;
        return outcome;
    }
    outcome.owner = owner.name;
    std::optional<GostKey> key = KeyFor(request, owner, users, front, steps, outcome);
    if (!key) {
        return outcome;
    }
    const WipeOnExit<GostKey> wipeKey(*key);
    const std::optional<DecodeSteps::Files> files = steps.ConfirmFiles(
        owner.name, {request.files, request.outputFolder, request.deleteEncoded});
    if (!files) {
        outcome.ending = DecodeEnding::Cancelled;
        return outcome;
    }
    outcome.files = *files;
    OutputFolderResult folder;
    if (request.createOutputFolder && !request.checkOnly) {
        folder = PrepareOutputFolder(files->outputFolder);
        if (!folder.done) {
            outcome.message = folder.message;
            outcome.cause = folder.cause;
            return outcome;
        }
    }
    const bool ran = steps.RunBatch(files->files, [&](BatchFrontEnd& worker) {
        outcome.batch = request.checkOnly
                            ? CheckKeyOnFiles(owner.name, *key, files->files, worker)
                            : DecodeFiles(owner.name, *key, files->files, files->outputFolder,
                                          files->deleteEncoded, worker);
    });
    outcome.folderCreated = KeepOutputFolderIfUsed(folder);
    outcome.ending = !ran                ? DecodeEnding::NotRun
                     : request.checkOnly ? DecodeEnding::Checked
                                         : DecodeEnding::Decoded;
    return outcome;
}

}  // namespace quorvane
