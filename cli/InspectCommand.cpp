// inspect FILE [--json]: a sound file read as a recording, level-checked, analysed and
// trained, every stage shown.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/AnalysisViews.h"
#include "cli/Commands.h"
#include "cli/SoundFile.h"
#include "cli/Terminal.h"

namespace quorvane {

namespace {

int RunInspect(const std::string& file, bool json) {
    const Result<std::vector<std::int16_t>> samples = ReadSoundFile(file);
    if (!samples) {
        PrintError(SoundFileProblemText(samples.error()));
        return kExitError;
    }
    const Inspection inspection = Inspect(file, *samples);
    if (json) {
        PrintInspectionJson(inspection);
    } else {
        PrintInspectionText(inspection);
    }
    return kExitSuccess;
}

}  // namespace

void RegisterInspectCommand(CLI::App& app, CliContext& context) {
    struct InspectOptions {
        std::string file;
        bool json = false;
    };
    const auto inspectOptions = std::make_shared<InspectOptions>();
    CLI::App* inspect = app.add_subcommand(
        "inspect",
        "Read a sound file as a recording, apply the level checks, analyse and train it, and "
        "show every stage: level check, frames, feature vectors, codebook");
    inspect->add_option("FILE", inspectOptions->file, "Sound file (WAV, FLAC, ...)")->required();
    inspect->add_flag("--json", inspectOptions->json,
                      "One JSON object, with the feature vectors before training; floats with 9 "
                      "significant digits");
    inspect->callback([inspectOptions, &context] {
        context.exitCode = RunInspect(inspectOptions->file, inspectOptions->json);
    });
}

}  // namespace quorvane
