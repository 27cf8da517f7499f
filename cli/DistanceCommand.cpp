// distance A B: a codebook trained on each of two sound files, and their distance.

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

#include "analysis/VoiceCodebook.h"
#include "cli/AnalysisViews.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/Text.h"
#include "speaker/Decision.h"

namespace quorvane {

namespace {

int RunDistance(const std::string& first, const std::string& second) {
    VoiceCodebook a;
    VoiceCodebook b;
    if (!TrainSoundFile(first, a) || !TrainSoundFile(second, b)) {
        return kExitError;
    }
    PrintLine(Number(CodebookDistance(a, b)));
    return kExitSuccess;
}

}  // namespace

void RegisterDistanceCommand(CLI::App& app, CliContext& context) {
    struct DistanceOptions {
        std::string first;
        std::string second;
    };
    const auto distanceOptions = std::make_shared<DistanceOptions>();
    CLI::App* distance = app.add_subcommand(
        "distance", "Train a codebook on each of two sound files and print their distance");
    distance->add_option("A", distanceOptions->first, "First sound file")->required();
    distance->add_option("B", distanceOptions->second, "Second sound file")->required();
    distance->callback([distanceOptions, &context] {
        context.exitCode = RunDistance(distanceOptions->first, distanceOptions->second);
    });
}

}  // namespace quorvane
