#pragma once

// A front end for workflow tests: answers from prepared lists and records what the
// workflow showed, in order. When a list runs out it answers as a user who cancels; the
// user's Cancel of a batch is `cancel`, set when the test wants it.

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/CountingProgress.h"
#include "workflow/FrontEnd.h"

namespace quorvane::testing {

class ScriptedFrontEnd final : public FrontEnd {
public:
    std::deque<bool> asks;
    std::deque<ReplaceAnswer> replaces;
    std::deque<std::filesystem::path> keyFiles;
    std::deque<bool> unverified;  // answers to AllowUnverified
    std::deque<PassphraseAnswer> passphrases;
    std::vector<bool> passphraseConfirms;  // the confirm flag of each passphrase asked
    int level = 2;
    // Runs before each file of a batch is coded (the outputs of earlier files are committed).
    std::function<void(const std::filesystem::path& input)> beforeFile;
    // Runs at each step of a file's byte progress (bytes of its blocks done, of all).
    std::function<void(std::uint64_t done, std::uint64_t total)> onProgress;
    // The user's Cancel, as CancelRequested answers it; beforeFile or onProgress may set it.
    bool cancel = false;

    std::vector<std::string> shown;    // notices, warnings and questions, in order
    std::vector<std::string> reasons;  // the reason of each FileProblem, in order
    std::vector<std::filesystem::path> replaceAsked;
    std::vector<std::filesystem::path> unverifiedAsked;
    CountingProgress bar;

    void Notice(const std::string& text) override { shown.push_back(text); }
    void Warning(const std::string& text, const std::string&) override { shown.push_back(text); }
    bool Ask(std::string_view text, std::string_view, Icon) override {
        shown.emplace_back(text);
        return Take(asks, false);
    }
    int ChooseSecurityLevel() override { return level; }
    std::filesystem::path ChooseKeyFile(std::string_view) override {
        return Take(keyFiles, std::filesystem::path());
    }
    ReplaceAnswer AskReplace(const std::filesystem::path& output) override {
        replaceAsked.push_back(output);
        return Take(replaces, ReplaceAnswer::Cancel);
    }
    void FileProblem(std::string_view message, std::string_view reason) override {
        shown.emplace_back(message);
        reasons.emplace_back(reason);
    }
    bool AllowUnverified(const std::filesystem::path& file) override {
        unverifiedAsked.push_back(file);
        return Take(unverified, false);
    }
    PassphraseAnswer AskPassphrase(std::string_view, bool confirm) override {
        passphraseConfirms.push_back(confirm);
        return Take(passphrases, PassphraseAnswer{});
    }
    Progress& Bar() override { return bar; }
    ProgressFn FileProgress(const std::filesystem::path& input) override {
        if (beforeFile) {
            beforeFile(input);
        }
        if (!onProgress) {
            return {};
        }
        return [this](std::uint64_t done, std::uint64_t total) { onProgress(done, total); };
    }
    bool CancelRequested() override { return cancel; }

private:
    template <typename T>
    static T Take(std::deque<T>& answers, T otherwise) {
        if (answers.empty()) {
            return otherwise;
        }
        T answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace quorvane::testing
