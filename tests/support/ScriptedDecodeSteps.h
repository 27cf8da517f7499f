#pragma once

// A decode's steps for workflow tests: the typed key lines and the confirmation of the files
// from prepared answers, the verdicts shown recorded, and the batch run at once with the
// scripted front end.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/ScriptedFrontEnd.h"
#include "workflow/Decoding.h"

namespace quorvane::testing {

class ScriptedDecodeSteps final : public DecodeSteps {
public:
    explicit ScriptedDecodeSteps(ScriptedFrontEnd& front) : front_(front) {}

    std::optional<std::vector<std::string>> keyLines;  // AskKeyLines' answer; none: cancelled
    bool confirmFiles = true;                          // false: the files dialog is cancelled
    bool canRun = true;                                // false: another batch runs

    std::vector<std::string> verdicts;       // the verdict texts shown, in order
    std::vector<std::string> keyLinesAsked;  // the names the key lines were asked for
    int batchesRun = 0;

    void ShowVerdict(const VoiceKeyResult& voice) override {
        verdicts.push_back(voice.verdictText);
    }
    std::optional<std::vector<std::string>> AskKeyLines(std::string_view name) override {
        keyLinesAsked.emplace_back(name);
        return keyLines;
    }
    std::optional<Files> ConfirmFiles(std::string_view, const Files& proposed) override {
        return confirmFiles ? std::optional(proposed) : std::nullopt;
    }
    bool RunBatch(const std::vector<std::filesystem::path>&,
                  const std::function<void(BatchFrontEnd&)>& work) override {
        if (!canRun) {
            return false;
        }
        ++batchesRun;
        work(front_);
        return true;
    }

private:
    ScriptedFrontEnd& front_;
};

}  // namespace quorvane::testing
