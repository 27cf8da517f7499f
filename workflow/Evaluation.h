#pragma once

// The accuracy of the voice decision on a corpus of recordings: how often each security
// level rejects a speaker's own voice (false rejections) and accepts somebody else's (false
// acceptances). Every decision is the program's own: the level checks of a fresh recording
// (Enrolment::TakeRecording), "Add phrase" and "Train system..." at each level (Enrolment),
// the training of the test recording and VerifySpeaker, exactly as "Verify" runs them.
//
// A corpus is a folder with one folder per speaker. In a speaker's folder the files whose
// names without extension are "enrol-1", "enrol-2" and "enrol-3" are the three enrolment
// phrases; every other file (hidden ones aside) is a test recording of that speaker. Each
// speaker whose phrases pass is enrolled once, in memory; each test recording is tried
// against every enrolled speaker: a genuine trial for its own, an impostor trial for the
// others (so a skipped speaker's recordings give impostor trials only).

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "analysis/LevelCheck.h"
#include "files/Result.h"

namespace quorvane {

// The security levels by index (0 High, 1 Medium, 2 Low), as the dialog names them.
inline constexpr int kSecurityLevelCount = 3;
inline constexpr std::array<std::string_view, kSecurityLevelCount> kSecurityLevelNames = {
    "High", "Medium", "Low"};

// Names (without extension) of the enrolment phrases in a speaker's folder.
inline constexpr std::array<std::string_view, 3> kEnrolPhraseNames = {"enrol-1", "enrol-2",
                                                                      "enrol-3"};

// Reads a sound file as the program would have recorded it (16-bit mono, 11025 Hz), and words
// a failure of it as the one line the report shows. Both are called from several threads at once.
struct SoundReader {
    std::function<Result<std::vector<std::int16_t>>(const std::filesystem::path& file)> read;
    std::function<std::string(const Failure& failure)> describe;
};

// One speaker's folder: the phrase files (empty path: missing) and the test files, sorted.
struct CorpusSpeaker {
    std::string name;
    std::array<std::filesystem::path, 3> phrases;
    std::vector<std::filesystem::path> tests;
    std::string problem;  // e.g. two files for one phrase; the speaker is then skipped
};

// Why a corpus cannot be listed, beside the system's reasons for a folder it cannot read.
enum class CorpusError {
    NoSuchFolder = 1,  // the corpus is no folder, or none that can be reached
};
[[nodiscard]] const std::error_category& CorpusErrorCategory();
[[nodiscard]] std::error_code MakeError(CorpusError error);

// Lists the speaker folders of `corpus` in name order (byte order of the names). Fails,
// naming the corpus, when it is no folder (CorpusError::NoSuchFolder) or cannot be read (the
// system's code).
[[nodiscard]] Result<std::vector<CorpusSpeaker>> ListCorpus(const std::filesystem::path& corpus);

// The level checks' refusal of a recording as one line: the warning texts joined by "; ",
// or kSoundNotRecordedText when nothing counts as recorded. Empty when it stands.
[[nodiscard]] std::string LevelRefusalText(const LevelCheckResult& check);

struct EnrolledSpeaker {
    std::string name;
    std::array<float, kSecurityLevelCount> thresholds{};  // "Train system..." at each level
};

struct SkippedSpeaker {
    std::string name;
    std::string reason;  // which phrase and the program's text, or the corpus problem
};

// A test recording; trained is false when the level checks or the training refused it, and
// every trial of it is then a rejection.
struct TestRecording {
    std::string speaker;  // the folder it lies in
    std::filesystem::path file;
    bool trained = false;
    std::string refusal;  // the program's text when not trained
};

struct Trial {
    std::int32_t recording = 0;  // index into EvaluationResult::recordings
    std::int32_t claimed = 0;    // index into EvaluationResult::enrolled
    bool genuine = false;
    // The smallest codebook distance (VerifySpeaker's); none for a refused recording.
    std::optional<float> distance;
    std::array<bool, kSecurityLevelCount> accepted{};
};

struct LevelRates {
    std::int32_t genuineTrials = 0;
    std::int32_t falseRejections = 0;
    std::int32_t impostorTrials = 0;
    std::int32_t falseAcceptances = 0;
    // Percentages; 0 when there is no trial of the kind.
    [[nodiscard]] double FrrPercent() const;
    [[nodiscard]] double FarPercent() const;
};

// One global threshold t over the smallest distances of all trials (accepted when the
// distance is below t, a refused recording never): the rate where the false-rejection and
// false-acceptance rates cross as t runs through the sorted distances, linearly
// interpolated between the last threshold with FRR > FAR and the first with FRR <= FAR.
// The rates are fractions, 0 .. 1.
struct EqualErrorRate {
    bool defined = false;  // false without genuine or impostor trials
    double rate = 0.0;
    double threshold = 0.0;
};

struct RateAtThreshold {
    double threshold = 0.0;
    double frr = 0.0;  // fractions, 0 .. 1
    double far = 0.0;
};

// FRR and FAR of one global threshold at each distinct distance of the trials, in ascending
// order, and one just above the largest (the whole curve of the global threshold).
[[nodiscard]] std::vector<RateAtThreshold> GlobalThresholdCurve(const std::vector<Trial>& trials);
[[nodiscard]] EqualErrorRate ComputeEqualErrorRate(const std::vector<Trial>& trials);

struct EvaluationResult {
    std::vector<EnrolledSpeaker> enrolled;
    std::vector<SkippedSpeaker> skipped;
    std::vector<TestRecording> recordings;
    // Recording by recording, each against the enrolled speakers in their order.
    std::vector<Trial> trials;
    std::array<LevelRates, kSecurityLevelCount> levels;
    EqualErrorRate equalError;
    // Files that are no sound file, and the lower layers' notices, each "FILE: text".
    std::vector<std::string> notes;
};

// Threads the evaluation uses by default: the hardware's, at least 1.
[[nodiscard]] int DefaultEvaluationThreads();

// Runs the whole evaluation on `threads` threads (at least 1). The result is the same for
// every thread count.
[[nodiscard]] EvaluationResult Evaluate(const std::vector<CorpusSpeaker>& speakers,
                                        const SoundReader& read, int threads);

}  // namespace quorvane
