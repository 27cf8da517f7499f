#pragma once

// What a workflow needs from the front end that runs it: the window (message boxes,
// dialogs, Pr1) or the command line (flags, terminal questions, a progress line), and the
// narrower part a batch of files needs. The workflows decide what to ask and what to say;
// the front end only shows it.

#include <filesystem>
#include <string>
#include <string_view>

#include "files/ByteProgress.h"
#include "files/Secret.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"

namespace quorvane {

// A passphrase the user typed for a protected user (workflow/Protection.h).
struct PassphraseAnswer {
    bool given = false;     // false when the user cancelled or nothing could be asked
    SecretText passphrase;  // the passphrase, without a line end
    bool remember = false;  // the user let the keyring remember it
    std::string refusal;    // when not given: why nothing could be asked (empty for a cancel)
};

// The calls a batch of files makes, and no others: what a worker thread that runs a batch
// sees of its front end. Every member must be given, so that a front end that hands them on
// to another thread cannot leave one out.
class BatchFrontEnd {
public:
    enum class ReplaceAnswer { Yes, YesToAll, No, Cancel };

    virtual ~BatchFrontEnd() = default;
    // A plain message (OK, the application title).
    virtual void Notice(const std::string& text) = 0;
    // A file failed or was kept: `message` is the system's text, `reason` what the system
    // reported (no space left, permission denied ...), empty when there is none. The window
    // shows the reason on a line below the message, the command line after it. What the user
    // must read first (a wrong key or damage proved by the file's check value, a missing input)
    // is part of the message already.
    virtual void FileProblem(std::string_view message, std::string_view reason) = 0;
    // Whether an existing output file of a batch may be replaced.
    virtual ReplaceAnswer AskReplace(const std::filesystem::path& output) = 0;
    // Whether a decoding batch may decode `file` and the other files of the batch that carry no
    // check value: their key cannot be confirmed, so a wrong key would decode them to garbage.
    // Asked once per batch, when the first such file is met; No unless the user agrees.
    virtual bool AllowUnverified(const std::filesystem::path& file) = 0;
    // The progress bar: training steps it, a batch counts its files on it.
    virtual Progress& Bar() = 0;
    // Byte progress of one file of the batch; empty for none.
    virtual ProgressFn FileProgress(const std::filesystem::path& file) = 0;
    // Whether the user asked to stop the batch in work (the window's Cancel). Asked from
    // the thread that runs the batch, between files and between the chunks of a file.
    virtual bool CancelRequested() = 0;
};

class FrontEnd : public Notifier, public BatchFrontEnd {
public:
    enum class Icon { None, Information, Question, Warning, Error };

    // Notifier and BatchFrontEnd: Notice is a plain message (OK, the application title),
    // Warning one with its own caption and the warning icon. The lower layers' notices
    // arrive here too.
    void Notice(const std::string& text) override = 0;

    // A Yes/No question; true for Yes.
    virtual bool Ask(std::string_view text, std::string_view caption, Icon icon) = 0;
    // The security level for "Train system...": 0 High, 1 Medium, 2 Low.
    virtual int ChooseSecurityLevel() = 0;
    // Where to save the key file, after the user agreed to save it; empty when cancelled.
    // defaultName is the proposed file name (the user's name + "_key.txt").
    virtual std::filesystem::path ChooseKeyFile(std::string_view defaultName) = 0;
    // BatchFrontEnd, as a front end without more to say answers it: a file problem is a
    // notice, files without a check value are not decoded, no byte progress, no cancel.
    void FileProblem(std::string_view message, std::string_view reason) override {
        static_cast<void>(reason);
        Notice(std::string(message));
    }
    bool AllowUnverified(const std::filesystem::path& file) override {
        static_cast<void>(file);
        return false;
    }
    ProgressFn FileProgress(const std::filesystem::path& file) override {
        static_cast<void>(file);
        return {};
    }
    bool CancelRequested() override { return false; }
    // A user was registered (before the key file is offered): the window lists the name.
    virtual void UserAdded(std::string_view name) { static_cast<void>(name); }
    // The passphrase of the protected user `name`: to unlock the models, or with `confirm` to
    // set a new one (typed twice; two different entries are told with kPassphrasesDiffer
    // and asked again). Not given by default: a front end that cannot ask cancels.
    virtual PassphraseAnswer AskPassphrase(std::string_view name, bool confirm) {
        static_cast<void>(name);
        static_cast<void>(confirm);
        return {};
    }
};

}  // namespace quorvane
