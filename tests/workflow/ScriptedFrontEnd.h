#pragma once

// A front end for workflow tests: answers from prepared lists and records what the
// workflow showed, in order. When a list runs out it answers as a user who cancels.

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "workflow/FrontEnd.h"

namespace quorvane::testing {

class ScriptedFrontEnd final : public FrontEnd {
public:
    std::deque<bool> asks;
    std::deque<ReplaceAnswer> replaces;
    std::deque<std::filesystem::path> keyFiles;
    std::deque<PassphraseAnswer> passphrases;
    std::vector<bool> passphraseConfirms;  // the confirm flag of each passphrase asked
    int level = 2;

    std::vector<std::string> shown;    // notices, warnings and questions, in order
    std::vector<std::string> reasons;  // the reason of each FileProblem, in order
    std::vector<std::filesystem::path> replaceAsked;
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
    PassphraseAnswer AskPassphrase(std::string_view, bool confirm) override {
        passphraseConfirms.push_back(confirm);
        return Take(passphrases, PassphraseAnswer{});
    }
    Progress& Bar() override { return bar; }

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
