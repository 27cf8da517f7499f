#include "cli/AnalysisViews.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <utility>

#include "analysis/LpcFeatures.h"
#include "analysis/RecordingAnalysis.h"
#include "cli/JsonOutput.h"
#include "cli/RecordingFile.h"
#include "cli/SoundFile.h"
#include "cli/Terminal.h"
#include "cli/Text.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Training.h"

namespace quorvane {

namespace {

JsonDocument JsonValues(const std::vector<float>& values) {
    JsonDocument array = JsonDocument::array();
    for (const float value : values) {
        array.push_back(JsonFloat(value));
    }
    return array;
}

std::vector<std::string> WarningTexts(const LevelCheckResult& level) {
    std::vector<std::string> texts;
    for (const LevelWarning& warning : level.Warnings()) {
        texts.emplace_back(warning.text);
    }
    return texts;
}

std::string LevelSummary(const LevelCheckResult& level) {
    if (!level.recorded) {
        return std::string(kSoundNotRecordedText);
    }
    if (level.accepted) {
        return "accepted";
    }
    return "refused: " + Join(WarningTexts(level), "; ", [](const std::string& s) { return s; });
}

}  // namespace

Inspection Inspect(const std::string& file, const std::vector<std::int16_t>& samples) {
    Inspection result;
    result.file = file;
    result.sampleCount = static_cast<std::int32_t>(samples.size());
    result.level = CheckRecordingLevel(samples);
    const std::span<const std::int16_t> recording =
        result.level.recorded ? std::span<const std::int16_t>(samples).subspan(
                                    static_cast<std::size_t>(result.level.first),
                                    static_cast<std::size_t>(result.level.count))
                              : std::span<const std::int16_t>();

    RecordingNotifier notifier;
    AnalysisReport report;
    AnalyseForTraining(result.codebook, recording, static_cast<std::int32_t>(recording.size()),
                       kSampleRate, kMaxCodewords, notifier, &report);
    result.frameLength = result.codebook.frameLength;
    result.frameCount = result.codebook.frameCount;
    result.vectorCount = result.codebook.vectorCount;
    if (result.codebook.vectors) {
        const auto count =
            std::min(result.codebook.vectors->size(),
                     static_cast<std::size_t>(std::max(result.codebook.vectorCount, 0)));
        for (std::size_t i = 0; i < count; ++i) {
            result.vectors.push_back((*result.codebook.vectors)[i].values);
        }
    }
    result.activeFrames = std::move(report.activeFrames);
    result.unstableFrames = std::move(report.unstableFrames);
    // The report lists the unstable frames; any other notice is shown as it came.
    for (const std::string& text : notifier.Texts()) {
        const bool listed =
            std::any_of(result.unstableFrames.begin(), result.unstableFrames.end(),
                        [&text](std::int32_t f) { return UnstableFrameNotice(f) == text; });
        if (!listed) {
            result.notices.push_back(text);
        }
    }

    NullProgress progress;
    result.trained = GrowCodebook(result.codebook, progress);
    return result;
}

void PrintInspectionText(const Inspection& r) {
    std::string out;
    // The name as the terminal may show it: a control character in it is written escaped.
    out += "file: " + EscapeControls(r.file) + "\n";
    out += "samples: " + std::to_string(r.sampleCount) + " (16-bit mono, 11025 Hz)\n";
    out += "level check: " + LevelSummary(r.level) + "\n";
    out += "  clipped samples: " + std::to_string(r.level.clippedCount) +
           ", loud samples: " + std::to_string(r.level.loudCount) + "\n";
    if (r.level.count > 0) {
        out += "  analysed range: samples " + std::to_string(r.level.first) + " .. " +
               std::to_string(r.level.first + r.level.count - 1) + " (" +
               std::to_string(r.level.count) + " samples)\n";
    } else {
        out += "  analysed range: none\n";
    }
    out += "frameLength: " + std::to_string(r.frameLength) + "\n";
    out += "frameCount: " + std::to_string(r.frameCount) + "\n";
    out += "active frames (" + std::to_string(r.activeFrames.size()) +
           "): " + Join(r.activeFrames, " ", [](std::int32_t i) { return std::to_string(i); }) +
           "\n";
    out += "unstable frames (" + std::to_string(r.unstableFrames.size()) +
           "): " + Join(r.unstableFrames, " ", [](std::int32_t i) { return std::to_string(i); }) +
           "\n";
    for (const std::string& notice : r.notices) {
        out += "notice: " + notice + "\n";
    }
    out += "vectorCount: " + std::to_string(r.vectorCount) + "\n";
    if (!r.trained) {
        out += "training: refused: " + std::string(kTooFewVectorsText) + "\n";
    } else {
        const VoiceCodebook& book = r.codebook;
        out += "training: codewordCount " + std::to_string(book.codewordCount) + "\n";
        for (std::int32_t k = 0; k < book.codewordCount; ++k) {
            const Codeword& c = (*book.codewords)[static_cast<std::size_t>(k)];
            out += "codeword " + std::to_string(k) + ": memberCount " +
                   std::to_string(c.memberCount) + ", distortion " + Number(c.distortion) +
                   "\n  values: " + Join(c.values, " ", Number) + "\n";
        }
    }
    std::fputs(out.c_str(), stdout);
}

void PrintInspectionJson(const Inspection& r) {
    JsonDocument out;
    out["file"] = r.file;
    out["sampleCount"] = r.sampleCount;
    out["levelCheck"] = {{"recorded", r.level.recorded},
                         {"clipped", r.level.clipped},
                         {"tooQuiet", r.level.tooQuiet},
                         {"accepted", r.level.accepted},
                         {"first", r.level.first},
                         {"count", r.level.count},
                         {"clippedCount", r.level.clippedCount},
                         {"loudCount", r.level.loudCount},
                         {"warnings", WarningTexts(r.level)}};
    out["frameLength"] = r.frameLength;
    out["frameCount"] = r.frameCount;
    out["activeFrames"] = r.activeFrames;
    out["unstableFrames"] = r.unstableFrames;
    out["notices"] = r.notices;
    out["vectorCount"] = r.vectorCount;
    out["vectors"] = JsonDocument::array();
    for (const std::vector<float>& vector : r.vectors) {
        out["vectors"].push_back(JsonValues(vector));
    }
    out["trained"] = r.trained;
    if (r.trained) {
        const VoiceCodebook& book = r.codebook;
        out["codewordCount"] = book.codewordCount;
        out["codewords"] = JsonDocument::array();
        for (std::int32_t k = 0; k < book.codewordCount; ++k) {
            const Codeword& c = (*book.codewords)[static_cast<std::size_t>(k)];
            out["codewords"].push_back({{"index", k},
                                        {"memberCount", c.memberCount},
                                        {"distortion", JsonFloat(c.distortion)},
                                        {"values", JsonValues(c.values)}});
        }
    } else {
        out["refusal"] = std::string(kTooFewVectorsText);
    }
    std::fputs(JsonText(out, {}).c_str(), stdout);
}

bool TrainSoundFile(const std::string& file, VoiceCodebook& codebook) {
    const Result<RecordingFile> input = ReadRecordingFile(file);
    if (!input) {
        PrintError(SoundFileProblemText(input.error()));
        return false;
    }
    for (const LevelWarning& warning : input->level.Warnings()) {
        PrintNote(file + ": " + std::string(warning.text));
    }
    const std::span<const std::int16_t> recording = input->Recorded();
    NullProgress progress;
    RecordingNotifier notifier;
    const bool trained =
        TrainCodebook(codebook, recording, static_cast<std::int32_t>(recording.size()), kSampleRate,
                      kMaxCodewords, progress, notifier);
    for (const std::string& notice : notifier.Texts()) {
        PrintNote(file + ": " + notice);
    }
    if (!trained) {
        PrintError(file + ": " + std::string(kTooFewVectorsText));
    }
    return trained;
}

}  // namespace quorvane
