#include "workflow/Batch.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <set>
#include <system_error>

#include "cipher/CipherError.h"
#include "files/AtomicFile.h"
#include "files/FileIdentity.h"
#include "files/PathText.h"
#include "files/PlatformFile.h"
#include "files/TemporaryName.h"
#include "workflow/BatchPlan.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// What stands in the way of writing `output` for `input`: the output being the input
// itself, or an existing output the front end does not let go. Returns the status the
// file gets, or nothing when it may be written.
struct OutputCheck {
    std::optional<FileStatus> refusal;
    std::string reason;
    bool existed = false;  // the output existed and may be replaced
};

class ReplacePolicy final {
public:
    explicit ReplacePolicy(BatchFrontEnd& front) : front_(front) {}

    OutputCheck Check(const fs::path& input, const fs::path& output) {
        std::error_code error;
        if (!fs::exists(fs::symlink_status(output, error))) {
            return {};
        }
        // A name an interrupted run reserved (FAT, exFAT) is free again once its left-overs go.
        TellLeftovers(RemoveStaleTemporaries(output.parent_path()), front_);
        if (!fs::exists(fs::symlink_status(output, error))) {
            return {};
        }
        // An output that resolves to the input (a link, another name of the same file)
        // would be destroyed by the very write that reads it.
        if (fs::equivalent(input, output, error) && !error) {
            return {FileStatus::Failed,
                    DescribeFailure(Failure(MakeError(CipherError::SameFile), output), input)};
        }
        if (fs::is_directory(output, error)) {
            return {FileStatus::Failed, "the output is a folder"};
        }
        const OutputCheck replaceable{std::nullopt, {}, true};
        if (replaceAll_) {
            return replaceable;
        }
        switch (front_.AskReplace(output)) {
            case BatchFrontEnd::ReplaceAnswer::Yes:
                return replaceable;
            case BatchFrontEnd::ReplaceAnswer::YesToAll:
                replaceAll_ = true;
                return replaceable;
            case BatchFrontEnd::ReplaceAnswer::No:
                return {FileStatus::Skipped, "already exists"};
            case BatchFrontEnd::ReplaceAnswer::Cancel:
                cancelled_ = true;
                return {FileStatus::Skipped, "already exists"};
        }
        return {FileStatus::Skipped, "already exists"};
    }
    [[nodiscard]] bool Cancelled() const { return cancelled_; }

private:
    BatchFrontEnd& front_;
    bool replaceAll_ = false;
    bool cancelled_ = false;
};

void StartBar(Progress& bar, std::size_t count) {
    bar.SetRange(0, static_cast<int>(count));
    bar.SetStep(1);
    bar.SetPosition(0);
}

// An output the batch committed, with what it and its source were at that moment: a source is
// deleted at the end only when both are still those files.
struct Committed {
    std::size_t file = 0;  // index into BatchResult::files
    std::optional<FileIdentity> output;
    std::optional<FileIdentity> input;
    bool proved = false;
};

bool SameFile(const std::optional<FileIdentity>& a, const FileIdentity& b) {
    return a && quorvane::SameFile(*a, b);
}

// The file of the batch whose committed output `identity` is, if any.
std::optional<std::size_t> CommittedAs(const std::vector<Committed>& committed,
                                       const std::optional<FileIdentity>& identity,
                                       std::size_t except = static_cast<std::size_t>(-1)) {
    if (!identity) {
        return std::nullopt;
    }
    for (const Committed& c : committed) {
        if (c.file != except && SameFile(c.output, *identity)) {
            return c.file;
        }
    }
    return std::nullopt;
}

// Why a done file's source must stay: empty when it may be deleted. A symbolic link given as
// the source is kept, and so is the file it points to: removing the link would leave the file
// that was read (a plain original) where it was, while the user was told it went, and following
// it would delete a file the user did not name. A file with other names (hard links) is kept
// for the first reason: removing one name leaves the content under the others.
std::string SourceKeptReason(const FileOutcome& file, const Committed& done,
                             const std::vector<Committed>& committed) {
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(file.input, error))) {
        return std::string(kSymbolicLinkKeptReason);
    }
    if (LinkCount(file.input).value_or(1) > 1) {
        return std::string(kHardLinkKeptReason);
    }
    const std::optional<FileIdentity> output = IdentityOf(file.output);
    if (!done.output || output != done.output) {
        return OutputChangedReason(PathText(file.output));
    }
    const std::optional<FileIdentity> input = IdentityOf(file.input);
    if (!done.input || input != done.input) {
        return std::string(kSourceChangedReason);
    }
    if (CommittedAs(committed, input, done.file)) {
        return std::string(kSourceIsBatchOutputReason);
    }
    return {};
}

// Deletes the sources of the done files once every output of the batch is committed, each
// only while its output still holds what the batch wrote and the source is the file read.
void DeleteSources(BatchResult& batch, const std::vector<Committed>& committed,
                   const BatchKind& kind, BatchFrontEnd& front) {
    for (const Committed& done : committed) {
        FileOutcome& file = batch.files[done.file];
        if (kind.deleteOnlyWhenProved && !done.proved) {
            file.inputKept = true;
            continue;
        }
        const std::string inputText = PathText(file.input);
        if (const std::string why = SourceKeptReason(file, done, committed); !why.empty()) {
            file.message = SourceKeptMessage(inputText, kind.encoding, why);
            front.FileProblem(file.message, {});
            continue;
        }
        std::error_code error;
        file.inputDeleted = fs::remove(file.input, error);
        if (!file.inputDeleted) {
            file.message = kind.notRemovedMessage(inputText);
            front.FileProblem(file.message, error.message());
        }
    }
}

// Runs a batch: codes each input in order, stepping the bar once per file. Refuses inputs that
// cannot be opened and outputs that would take the place of another file of the batch (planned
// before anything is written: PlanOutputs), tests a decoding's key on the file before it asks to
// replace an existing output, asks before replacing one (a new one is committed without
// replacing, so a file that appears meanwhile is never overwritten), asks once whether files
// without a check value may be decoded, tells each failure, and deletes the sources only at the
// end (DeleteSources).
class BatchRun final {
public:
    BatchRun(const std::vector<fs::path>& inputs, const BatchKind& kind, BatchFrontEnd& front)
        : inputs_(inputs), kind_(kind), front_(front), replace_(front) {
        std::vector<fs::path> paths = inputs;
        for (const fs::path& input : inputs) {
            outputs_.push_back(kind.outputFor(input));
            if (outputs_.back()) {
                paths.push_back(*outputs_.back());
            }
        }
        TellLeftovers(RemoveLeftoversBeside(paths), front);
        conflicts_ = PlanOutputs(inputs, outputs_);
    }

    BatchResult Run() {
        Progress& bar = front_.Bar();
        StartBar(bar, inputs_.size());
        for (std::size_t index = 0; index < inputs_.size(); ++index) {
            if (front_.CancelRequested()) {
                batch_.cancelled = batch_.stopped = true;
                break;
            }
            FileOutcome file = Code(index);
            if (batch_.cancelled) {
                break;
            }
            if (file.status == FileStatus::Failed) {
                if (file.message.empty()) {
                    file.message = kind_.failedMessage(PathText(file.input));
                }
                front_.FileProblem(file.message, reasonShown_ ? std::string() : file.reason);
            }
            batch_.files.push_back(std::move(file));
            bar.StepIt();
        }
        batch_.deletionAsked = kind_.deleteInputs;
        if (kind_.deleteInputs) {
            DeleteSources(batch_, committed_, kind_, front_);
        }
        bar.SetPosition(0);
        return std::move(batch_);
    }

private:
    // One file: what refuses it before anything is written, else its coding.
    FileOutcome Code(std::size_t index) {
        FileOutcome file;
        file.input = inputs_[index];
        if (RefusedBeforeWriting(index, file)) {
            return file;
        }
        // A decoding whose key the file refuses asks nothing: the question to replace an
        // existing output would be pointless, and alarming.
        if (const std::optional<Failure> refused = KeyRefusedBeforeReplacing(file)) {
            Describe(file, *refused);
            return file;
        }
        const OutputCheck check = replace_.Check(file.input, file.output);
        if (replace_.Cancelled()) {
            batch_.cancelled = true;
        }
        if (check.refusal) {
            file.status = *check.refusal;
            file.reason = check.reason;
            reasonShown_ = false;
            return file;
        }
        const std::optional<FileIdentity> source = IdentityOf(file.input);
        const Result<Coded> coded = CodeAllowed(file, check.existed);
        if (coded) {
            file.status = FileStatus::Done;
            committed_.push_back(
                {batch_.files.size(), IdentityOf(file.output), source, coded->tagVerified});
        } else if (coded.error().code() == CipherError::Cancelled) {
            // A file stopped by the user left nothing; it does not count among the files.
            batch_.cancelled = batch_.stopped = true;
        } else {
            Describe(file, coded.error());
        }
        return file;
    }

    // What refuses the file before anything is written: no output name, an input that cannot
    // be opened, an output that would take the place of another file of the batch.
    bool RefusedBeforeWriting(std::size_t index, FileOutcome& file) {
        reasonShown_ = true;
        const std::string inputText = PathText(file.input);
        if (!outputs_[index]) {
            file.reason = "its name is too short to drop the four characters of \".crp\"";
            reasonShown_ = false;
            return true;
        }
        file.output = *outputs_[index];
        if (file.reason = InputReason(file.input); !file.reason.empty()) {
            file.inputUnusable = true;
            file.message = InputProblemMessage(inputText, file.reason);
            return true;
        }
        // Planned before anything of the batch was written; an output committed meanwhile
        // under another name of the same file is refused as well.
        std::optional<OutputConflict> conflict = conflicts_[index];
        if (const std::optional<std::size_t> earlier =
                CommittedAs(committed_, IdentityOf(file.output));
            !conflict && earlier) {
            conflict = OutputConflict{*earlier, false};  // files are kept in input order
        }
        if (!conflict) {
            return false;
        }
        const std::string other = PathText(inputs_[conflict->other]);
        const std::string outputText = PathText(file.output);
        file.message = conflict->withInput
                           ? BatchInputTakenMessage(inputText, outputText, other, kind_.encoding)
                           : BatchOutputTakenMessage(inputText, outputText, other, kind_.encoding);
        return true;
    }

    // Decoding onto an existing output: the file's key check first. The refusal when it fails,
    // or when the file has no check value and its decoding is not allowed (asked here, once).
    std::optional<Failure> KeyRefusedBeforeReplacing(const FileOutcome& file) {
        std::error_code error;
        if (!kind_.checkKey || !fs::exists(fs::symlink_status(file.output, error))) {
            return std::nullopt;
        }
        const Result<Coded> checked = kind_.checkKey(file.input);
        if (!checked) {
            return checked.error();
        }
        if (!checked->tagged && !AllowUnverified(file.input)) {
            return Failure(MakeError(CipherError::Unverified), file.input);
        }
        return std::nullopt;
    }

    bool AllowUnverified(const fs::path& input) {
        if (!allowUnverified_) {
            allowUnverified_ = front_.AllowUnverified(input);
        }
        return *allowUnverified_;
    }

    // Codes the file; one without a check value again once the front end allows it.
    Result<Coded> CodeAllowed(const FileOutcome& file, bool replacing) {
        std::vector<fs::path> leftovers;
        CodingOptions options{
            .mode = replacing ? OutputMode::Replace : OutputMode::NoReplace,
            .progress = front_.FileProgress(file.input),
            .allowUnverified = allowUnverified_.value_or(false),
            .cancelled = [this] { return front_.CancelRequested(); },
            .leftoverRemoved =
                [&leftovers](const fs::path& leftover) { leftovers.push_back(leftover); }};
        Result<Coded> coded = kind_.code(file.input, file.output, options);
        TellLeftovers(leftovers, front_);
        if (!coded && coded.error().code() == CipherError::Unverified && !allowUnverified_ &&
            AllowUnverified(file.input)) {
            options.allowUnverified = true;
            leftovers.clear();
            coded = kind_.code(file.input, file.output, options);
            TellLeftovers(leftovers, front_);
        }
        return coded;
    }

    // The message of a file that failed: the input named where it is at fault, the proven
    // cause first where the file's check value proved it, else the described text with the
    // system's reason beside it.
    void Describe(FileOutcome& file, const Failure& failure) {
        const std::string inputText = PathText(file.input);
        file.reason = kind_.reasonFor(file.input, failure);
        reasonShown_ = true;
        const std::error_code& code = failure.code();
        if (IsInputFailure(failure, file.input)) {
            // The input is at fault, not the output the described text names.
            file.message = InputProblemMessage(inputText, file.reason);
        } else if (code == CipherError::Unverified) {
            file.message = inputText + " " + file.reason;
        } else if (code == CipherError::WrongKey || code == CipherError::Damaged) {
            file.message = ProvenCauseMessage(kind_.failedMessage(inputText));
        } else {
            reasonShown_ = false;
        }
    }

    const std::vector<fs::path>& inputs_;
    const BatchKind& kind_;
    BatchFrontEnd& front_;
    ReplacePolicy replace_;
    std::vector<std::optional<fs::path>> outputs_;
    std::vector<std::optional<OutputConflict>> conflicts_;
    std::vector<Committed> committed_;
    std::optional<bool> allowUnverified_;  // the front end's answer, once asked
    bool reasonShown_ = true;              // the file's message holds its reason
    BatchResult batch_;
};

}  // namespace

std::vector<fs::path> RemoveLeftoversBeside(const std::vector<fs::path>& paths) {
    std::set<fs::path> folders;
    std::vector<fs::path> removed;
    for (const fs::path& path : paths) {
        const fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
        if (folders.insert(folder).second) {
            std::vector<fs::path> gone = RemoveStaleTemporaries(folder);
            removed.insert(removed.end(), gone.begin(), gone.end());
        }
    }
    return removed;
}

void TellLeftovers(const std::vector<fs::path>& removed, BatchFrontEnd& front) {
    for (const fs::path& path : removed) {
        std::uint64_t id = 0;
        if (ParseLeftoverName(path, LeftoverKind::Temporary, id)) {
            front.Notice(LeftoverRemovedMessage(PathText(path)));
        } else if (!ParseLeftoverName(path, LeftoverKind::ReservationNote, id)) {
            front.Notice(ReservationRemovedMessage(PathText(path)));
        } else if (std::none_of(removed.begin(), removed.end(), [&](const fs::path& name) {
                       return IsLeftoverOf(path, name, LeftoverKind::ReservationNote);
                   })) {
            front.Notice(LeftoverRemovedMessage(PathText(path)));
        }
    }
}

std::string InputReason(const fs::path& input) {
    // Opened as the batch will open it: a folder, a pipe or a device is refused without waiting.
    PlatformFile file;
    const Status opened = file.OpenForReading(input);
    if (opened) {
        return {};
    }
    const std::error_code error = opened.error().code();
    if (error == std::errc::no_such_file_or_directory) {
        return std::string(kNoSuchFileReason);
    }
    if (error == std::errc::is_a_directory) {
        return "is a folder";
    }
    if (error == MakeError(FileError::NotRegularFile)) {
        return "not a regular file";
    }
    std::string text = error.message();
    if (!text.empty()) {
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    }
    return text;
}

int BatchResult::Count(FileStatus status) const {
    return static_cast<int>(std::count_if(
        files.begin(), files.end(), [status](const FileOutcome& f) { return f.status == status; }));
}

int BatchResult::KeptCount() const {
    return static_cast<int>(std::count_if(files.begin(), files.end(),
                                          [](const FileOutcome& f) { return f.inputKept; }));
}

std::vector<fs::path> BatchResult::SourcesKept() const {
    std::vector<fs::path> kept;
    for (const FileOutcome& f : files) {
        if (deletionAsked && f.status == FileStatus::Done && !f.inputDeleted) {
            kept.push_back(f.input);
        }
    }
    return kept;
}

bool BatchResult::InputsUnusable() const {
    return std::any_of(files.begin(), files.end(),
                       [](const FileOutcome& f) { return f.inputUnusable; });
}

bool BatchResult::AllDone(std::size_t total) const {
    return !cancelled && Count(FileStatus::Done) == static_cast<int>(total);
}

bool BatchResult::RemovalsFailed() const {
    return std::any_of(files.begin(), files.end(), [this](const FileOutcome& f) {
        return deletionAsked && f.status == FileStatus::Done && !f.inputDeleted && !f.inputKept;
    });
}

std::string RemovalSummary(const BatchResult& batch, bool encoding, bool withNames) {
    const auto deleted = static_cast<std::size_t>(
        std::count_if(batch.files.begin(), batch.files.end(),
                      [](const FileOutcome& f) { return f.inputDeleted; }));
    const std::vector<fs::path> kept = batch.SourcesKept();
    if (deleted + kept.size() == 0) {
        return {};
    }
    std::string text = "; " + std::to_string(deleted) + (encoding ? " original" : " encoded file") +
                       (deleted == 1 ? "" : "s") + " deleted";
    if (!kept.empty()) {
        text += ", " + std::to_string(kept.size()) + " kept";
        for (std::size_t i = 0; withNames && i < kept.size(); ++i) {
            text += (i == 0 ? ": " : ", ") + PathText(kept[i]);
        }
    }
    return text;
}

std::string BatchSummary(const BatchResult& batch, std::size_t total, bool encoding,
                         const fs::path& folder) {
    if (batch.stopped) {
        return CancelledAfterText(batch.files.size(), total) +
               RemovalSummary(batch, encoding, false);
    }
    // "out/" names the folder "out"; a root folder keeps its only separator.
    const fs::path shown =
        folder.has_relative_path() && !folder.has_filename() ? folder.parent_path() : folder;
    std::string text = std::to_string(batch.Count(FileStatus::Done)) + " of " +
                       std::to_string(total) + (total == 1 ? " file " : " files ") +
                       (encoding ? "encoded" : "decoded") + " into " + PathText(shown);
    if (const int failed = batch.Count(FileStatus::Failed); failed > 0) {
        text += "; " + std::to_string(failed) + " failed";
    }
    if (const int skipped = batch.Count(FileStatus::Skipped); skipped > 0) {
        text += "; " + std::to_string(skipped) + " not replaced";
    }
    if (batch.cancelled) {
        text += "; cancelled";
    }
    return text + RemovalSummary(batch, encoding, false);
}

BatchResult RunBatch(const std::vector<fs::path>& inputs, const BatchKind& kind,
                     BatchFrontEnd& front) {
    return BatchRun(inputs, kind, front).Run();
}

}  // namespace quorvane
