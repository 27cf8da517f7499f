#pragma once

// What the analysis and the training make of sound files, for inspect and distance: one file
// analysed stage by stage and shown as text or JSON, and one file trained into a codebook.

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/LevelCheck.h"
#include "analysis/VoiceCodebook.h"

namespace quorvane {

// Everything inspect finds out about one file.
struct Inspection {
    std::string file;
    std::int32_t sampleCount = 0;
    LevelCheckResult level;
    std::int32_t frameLength = 0;
    std::int32_t frameCount = 0;
    std::vector<std::int32_t> activeFrames;
    std::vector<std::int32_t> unstableFrames;
    std::vector<std::string> notices;  // anything else the analysis reported
    std::int32_t vectorCount = 0;
    std::vector<std::vector<float>> vectors;  // before training
    bool trained = false;
    VoiceCodebook codebook;
};

// Analyses the accepted range of the samples, whatever the level checks said,
// and trains a codebook on it exactly as TrainCodebook does.
[[nodiscard]] Inspection Inspect(const std::string& file, const std::vector<std::int16_t>& samples);

// Every stage on standard output: as lines of text, or as one JSON object with the feature
// vectors before training (floats with 9 significant digits).
void PrintInspectionText(const Inspection& r);
void PrintInspectionJson(const Inspection& r);

// Reads the recording in `file` and trains `codebook` on it as an enrolment would; the level
// warnings and the analysis' notices are told as notes. On failure prints the reason.
[[nodiscard]] bool TrainSoundFile(const std::string& file, VoiceCodebook& codebook);

}  // namespace quorvane
