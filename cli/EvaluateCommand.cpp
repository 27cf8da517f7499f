// evaluate DIR: how often each security level rejects a speaker's own voice and accepts
// somebody else's, on a corpus of sound files (workflow/Evaluation.h does the work).
//
// Output: the table per level, the equal error rate, the speakers skipped and the test
// recordings refused on standard output (or the same as JSON with --json); notes on
// standard error. Exit codes: 0 evaluated; 2 the corpus (no speaker could be enrolled) or
// the scores file failed.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "cli/Commands.h"
#include "cli/JsonOutput.h"
#include "cli/SoundFile.h"
#include "cli/Terminal.h"
#include "cli/Text.h"
#include "files/PathText.h"
#include "files/SmallFile.h"
#include "workflow/Evaluation.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

struct EvaluateOptions {
    std::string corpus;
    bool json = false;
    std::string scores;
    int threads = DefaultEvaluationThreads();
};

std::string Fixed(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Padded(const std::string& text, std::size_t width, bool left = false) {
    if (text.size() >= width) {
        return text;
    }
    const std::string pad(width - text.size(), ' ');
    return left ? text + pad : pad + text;
}

std::string LevelName(std::size_t level) {
    return std::string(kSecurityLevelNames[level]);
}

// A CSV field in double quotes, its quotes doubled (names may hold commas and quotes).
std::string CsvText(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"') {
            quoted += '"';
        }
    }
    return quoted + "\"";
}

std::string ScoresCsv(const EvaluationResult& r) {
    std::string csv = "speaker,file,claimed,genuine,distance";
    for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
        csv += ",threshold_" + LevelName(level);
    }
    for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
        csv += ",decision_" + LevelName(level);
    }
    csv += ",refusal\n";
    for (const Trial& trial : r.trials) {
        const TestRecording& recording = r.recordings[static_cast<std::size_t>(trial.recording)];
        const EnrolledSpeaker& claimed = r.enrolled[static_cast<std::size_t>(trial.claimed)];
        csv += CsvText(recording.speaker) + "," + CsvText(PathText(recording.file.filename())) +
               "," + CsvText(claimed.name) + "," + (trial.genuine ? "1" : "0") + "," +
               (trial.distance ? Number(*trial.distance) : "");
        for (const float threshold : claimed.thresholds) {
            csv += "," + Number(threshold);
        }
        for (const bool accepted : trial.accepted) {
            csv += accepted ? ",accept" : ",reject";
        }
        csv += "," + (recording.trained ? std::string() : CsvText(recording.refusal)) + "\n";
    }
    return csv;
}

bool WriteScores(const fs::path& file, const std::string& csv) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(csv.data());
    const Status written =
        WriteFileAtomically(file, std::span<const std::uint8_t>(bytes, csv.size()), false);
    if (!written) {
        PrintError(PathText(file) + ": the scores can not be written (" + written.error().Reason() +
                   ")");
    }
    return static_cast<bool>(written);
}

std::int32_t RefusedCount(const EvaluationResult& r) {
    std::int32_t refused = 0;
    for (const TestRecording& recording : r.recordings) {
        refused += recording.trained ? 0 : 1;
    }
    return refused;
}

void PrintText(const std::string& corpus, const EvaluationResult& r) {
    const std::size_t speakers = r.enrolled.size() + r.skipped.size();
    PrintLine("Corpus " + corpus + ": " + std::to_string(speakers) + " speaker(s), " +
              std::to_string(r.enrolled.size()) + " enrolled; " +
              std::to_string(r.recordings.size()) + " test recording(s), " +
              std::to_string(RefusedCount(r)) + " refused");
    PrintLine("");
    PrintLine("Level   Genuine  Rejected   FRR %  Impostor  Accepted   FAR %");
    for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
        const LevelRates& rates = r.levels[level];
        PrintLine(Padded(LevelName(level), 6, true) +
                  Padded(std::to_string(rates.genuineTrials), 9) +
                  Padded(std::to_string(rates.falseRejections), 10) +
                  Padded(Fixed(rates.FrrPercent(), 2), 8) +
                  Padded(std::to_string(rates.impostorTrials), 10) +
                  Padded(std::to_string(rates.falseAcceptances), 10) +
                  Padded(Fixed(rates.FarPercent(), 2), 8));
    }
    PrintLine("");
    if (r.equalError.defined) {
        PrintLine(
            "Equal error rate of one global threshold: " + Fixed(100.0 * r.equalError.rate, 2) +
            " % (at distance " + Fixed(r.equalError.threshold, 4) + ")");
    } else {
        PrintLine(
            "Equal error rate of one global threshold: none (no genuine or no impostor "
            "trials)");
    }
    if (!r.skipped.empty()) {
        PrintLine("");
        PrintLine("Speakers skipped:");
        for (const SkippedSpeaker& skipped : r.skipped) {
            PrintLine("  " + skipped.name + ": " + skipped.reason);
        }
    }
    if (RefusedCount(r) > 0) {
        PrintLine("");
        PrintLine("Test recordings refused (each of their trials is a rejection):");
        for (const TestRecording& recording : r.recordings) {
            if (!recording.trained) {
                PrintLine("  " + recording.speaker + "/" + PathText(recording.file.filename()) +
                          ": " + recording.refusal);
            }
        }
    }
}

void PrintJson(const std::string& corpus, const EvaluationResult& r) {
    JsonDocument out;
    out["corpus"] = corpus;
    out["enrolled"] = JsonDocument::array();
    for (const auto& enrolled : r.enrolled) {
        JsonDocument thresholds = JsonDocument::object();
        for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
            thresholds[LevelName(level)] = JsonFloat(enrolled.thresholds[level]);
        }
        out["enrolled"].push_back({{"name", enrolled.name}, {"thresholds", thresholds}});
    }
    out["skipped"] = JsonDocument::array();
    for (const auto& skipped : r.skipped) {
        out["skipped"].push_back({{"name", skipped.name}, {"reason", skipped.reason}});
    }
    out["testRecordings"] = r.recordings.size();
    out["refused"] = JsonDocument::array();
    for (const TestRecording& recording : r.recordings) {
        if (!recording.trained) {
            out["refused"].push_back({{"speaker", recording.speaker},
                                      {"file", PathText(recording.file.filename())},
                                      {"reason", recording.refusal}});
        }
    }
    out["levels"] = JsonDocument::array();
    for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
        const LevelRates& rates = r.levels[level];
        out["levels"].push_back({{"level", LevelName(level)},
                                 {"genuineTrials", rates.genuineTrials},
                                 {"falseRejections", rates.falseRejections},
                                 {"frrPercent", rates.FrrPercent()},
                                 {"impostorTrials", rates.impostorTrials},
                                 {"falseAcceptances", rates.falseAcceptances},
                                 {"farPercent", rates.FarPercent()}});
    }
    out["equalErrorRate"] = nullptr;
    if (r.equalError.defined) {
        out["equalErrorRate"] = {{"percent", 100.0 * r.equalError.rate},
                                 {"threshold", static_cast<double>(r.equalError.threshold)}};
    }
    out["notes"] = r.notes;
    const JsonLayout layout{
        .firstItemOnItsOwnLine = true,
        .fixedDecimals = {{"frrPercent", 4}, {"farPercent", 4}, {"percent", 4}, {"threshold", 6}}};
    std::fputs(JsonText(out, layout).c_str(), stdout);
}

int RunEvaluate(const EvaluateOptions& options) {
    const fs::path corpus = fs::path(std::u8string(options.corpus.begin(), options.corpus.end()));
    const Result<std::vector<CorpusSpeaker>> listed = ListCorpus(corpus);
    if (!listed) {
        PrintError(PathText(listed.error().path()) + ": " + listed.error().Reason());
        return kExitError;
    }
    const std::vector<CorpusSpeaker>& speakers = *listed;
    const SoundReader read{.read = [](const fs::path& file) { return ReadSoundFile(file); },
                           .describe = SoundFileProblemText};
    if (speakers.empty()) {
        PrintError(PathText(corpus) +
                   ": no speaker folders (one folder per speaker, with enrol-1, enrol-2 and "
                   "enrol-3)");
        return kExitError;
    }
    const EvaluationResult result = Evaluate(speakers, read, options.threads);
    for (const std::string& note : result.notes) {
        PrintNote(note);
    }
    // Without an enrolled speaker there is no trial: a table of zeros would measure nothing.
    if (result.enrolled.empty()) {
        for (const SkippedSpeaker& skipped : result.skipped) {
            PrintNote(skipped.name + ": " + skipped.reason);
        }
        PrintError(PathText(corpus) + ": no speaker could be enrolled");
        return kExitError;
    }
    if (!options.scores.empty() &&
        !WriteScores(fs::path(std::u8string(options.scores.begin(), options.scores.end())),
                     ScoresCsv(result))) {
        return kExitError;
    }
    if (options.json) {
        PrintJson(options.corpus, result);
    } else {
        PrintText(options.corpus, result);
    }
    return kExitSuccess;
}

}  // namespace

void RegisterEvaluateCommand(CLI::App& app, CliContext& context) {
    const auto options = std::make_shared<EvaluateOptions>();
    CLI::App* command = app.add_subcommand(
        "evaluate",
        "Measure the false rejections and false acceptances of each security level "
        "on a corpus of recordings");
    command
        ->add_option("DIR", options->corpus,
                     "One folder per speaker: enrol-1, enrol-2, enrol-3 (any sound format) "
                     "are the enrolment phrases, every other file a test recording")
        ->required();
    command->add_flag("--json", options->json, "Print the results as JSON");
    command->add_option("--scores", options->scores,
                        "Write one CSV line per trial to this file (replaced when it exists)");
    command->add_option("--threads", options->threads, "Threads to use (the results do not change)")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();
    command->footer(
        "Each speaker is enrolled once, in memory, as \"Add phrase\" and \"Train system...\" "
        "would at each level; each test recording is trained once and tried against every "
        "enrolled speaker as \"Verify\" would: a genuine trial for its own speaker, an impostor "
        "trial for the others. A test recording the level checks or the training refuse is a "
        "rejection in every trial.\n"
        "The equal error rate is that of one global threshold over the smallest distances of "
        "all trials (accepted below it): where FRR and FAR cross as the threshold runs through "
        "the sorted distances, linearly interpolated between the last threshold with FRR above "
        "FAR and the first with FRR at or below FAR.");
    command->callback([&context, options] { context.exitCode = RunEvaluate(*options); });
}

}  // namespace quorvane
