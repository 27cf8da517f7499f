#include "workflow/Evaluation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <limits>
#include <mutex>
#include <span>
#include <system_error>
#include <thread>
#include <utility>

#include "analysis/VoiceCodebook.h"
#include "speaker/Decision.h"
#include "speaker/SpeakerStore.h"
#include "speaker/Training.h"
#include "workflow/Enrolment.h"
#include "workflow/FrontEnd.h"
#include "workflow/Messages.h"

namespace quorvane {

namespace {

namespace fs = std::filesystem;

// A front end that asks nobody: the security level is set beforehand, questions are No,
// and the lower layers' notices are kept for the caller to report in order. One per worker.
class QuietFrontEnd final : public FrontEnd {
public:
    void Notice(const std::string& text) override { notices.push_back(text); }
    void Warning(const std::string& text, const std::string& caption) override {
        notices.push_back(caption + ": " + text);
    }
    bool Ask(std::string_view, std::string_view, Icon) override { return false; }
    int ChooseSecurityLevel() override { return level; }
    fs::path ChooseKeyFile(std::string_view) override { return {}; }
    ReplaceAnswer AskReplace(const fs::path&) override { return ReplaceAnswer::No; }
    Progress& Bar() override { return bar_; }

    int level = kSecurityLow;
    std::vector<std::string> notices;

private:
    NullProgress bar_;
};

void KeepNotices(const fs::path& file, QuietFrontEnd& front, std::vector<std::string>& notes) {
    for (const std::string& notice : front.notices) {
        notes.push_back(PathText(file) + ": " + notice);
    }
    front.notices.clear();
}

// Calls work(i) for i = 0 .. count-1 on up to `threads` threads; each index exactly once.
// Each call writes only its own results, so the order the threads take them in does not
// matter. An exception of a call is passed on after all threads ended.
void RunIndexed(std::size_t count, int threads, const std::function<void(std::size_t)>& work) {
    std::atomic<std::size_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    const auto worker = [&] {
        // A worker thread is a boundary: an exception stops the other workers and is rethrown,
        // as it is, on the calling thread once all have ended.
        try {
            for (std::size_t i = next++; i < count; i = next++) {
                work(i);
            }
        } catch (...) {
            const std::lock_guard<std::mutex> lock(failureLock);
            failure = std::current_exception();
            next = count;
        }
    };
    const auto helpers = static_cast<std::size_t>(std::max(1, threads) - 1);
    {
        std::vector<std::jthread> pool;
        for (std::size_t t = 0; t < std::min(helpers, count); ++t) {
            try {
                pool.emplace_back(worker);
            } catch (const std::system_error&) {
                break;  // no more threads to be had: the others do the work
            }
        }
        worker();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

// One speaker enrolled as "Add phrase" three times and "Train system..." at each level.
struct Enrolled {
    bool done = false;
    std::string reason;
    std::array<VoiceCodebook, 3> phrases;
    std::array<float, kSecurityLevelCount> thresholds{};
    std::vector<std::string> notes;
};

Enrolled EnrolSpeaker(const CorpusSpeaker& speaker, const SoundReader& reader) {
    Enrolled result;
    if (!speaker.problem.empty()) {
        result.reason = speaker.problem;
        return result;
    }
    QuietFrontEnd front;
    Enrolment enrolment;
    for (std::size_t slot = 0; slot < 3; ++slot) {
        const fs::path& file = speaker.phrases[slot];
        if (file.empty()) {
            result.reason = std::string(kEnrolPhraseNames[slot]) + ": no such file";
            return result;
        }
        const Result<std::vector<std::int16_t>> sound = reader.read(file);
        if (!sound) {
            result.reason = reader.describe(sound.error());
            return result;
        }
        const std::vector<std::int16_t>& samples = *sound;
        const std::string where = PathText(file.filename()) + ": ";
        const LevelCheckResult check = enrolment.TakeRecording(samples);
        if (!check.accepted) {
            result.reason = where + LevelRefusalText(check);
            return result;
        }
        const StepResult added = enrolment.AddPhrase(static_cast<int>(slot), front);
        KeepNotices(file, front, result.notes);
        if (!added.done) {
            result.reason = where + added.message;
            return result;
        }
    }
    for (int level = 0; level < kSecurityLevelCount; ++level) {
        front.level = level;
        const TrainResult trained = enrolment.Train(front);
        if (!trained.done || !(trained.threshold > 0.0f)) {
            result.reason = std::string(kNoUsableThresholdMessage) + " (level " +
                            std::string(kSecurityLevelNames[static_cast<std::size_t>(level)]) + ")";
            return result;
        }
        result.thresholds[static_cast<std::size_t>(level)] = trained.threshold;
    }
    result.phrases = enrolment.PhraseCodebooks();
    result.done = true;
    return result;
}

// One test recording taken as "Verify" takes it: the level checks, then the training of its
// temporary codebook (once, for every claimed speaker).
struct Tested {
    bool readable = false;
    bool trained = false;
    std::string refusal;
    VoiceCodebook codebook;
    std::vector<std::string> notes;
};

Tested TrainTest(const fs::path& file, const SoundReader& reader) {
    Tested result;
    const Result<std::vector<std::int16_t>> sound = reader.read(file);
    if (!sound) {
        result.notes.push_back(reader.describe(sound.error()) + "; not a test recording");
        return result;
    }
    const std::vector<std::int16_t>& samples = *sound;
    result.readable = true;
    Enrolment take;
    const LevelCheckResult check = take.TakeRecording(samples);
    if (!check.accepted) {
        result.refusal = LevelRefusalText(check);
        return result;
    }
    QuietFrontEnd front;
    result.trained = TrainRecording(result.codebook, take.Recording(), front);
    KeepNotices(file, front, result.notes);
    if (!result.trained) {
        result.refusal = kTooFewVectorsText;
    }
    return result;
}

double Percent(std::int32_t part, std::int32_t whole) {
    return whole > 0 ? 100.0 * part / whole : 0.0;
}

}  // namespace

double LevelRates::FrrPercent() const {
    return Percent(falseRejections, genuineTrials);
}
double LevelRates::FarPercent() const {
    return Percent(falseAcceptances, impostorTrials);
}

namespace {

class CorpusErrorCategoryImpl final : public std::error_category {
public:
    const char* name() const noexcept override { return "quorvane.corpus"; }
    std::string message(int value) const override {
        switch (static_cast<CorpusError>(value)) {
            case CorpusError::NoSuchFolder:
                return "no such folder";
        }
        return "cannot list the corpus";
    }
};

// The folders (or the regular files) of `folder` whose names do not start with a dot, in
// the folder's order; stops at the first error, which `failure` then holds.
std::vector<fs::path> VisibleEntries(const fs::path& folder, bool folders,
                                     std::error_code& failure) {
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, failure), end; !failure && it != end;
         it.increment(failure)) {
        const bool wanted = folders ? it->is_directory(failure) : it->is_regular_file(failure);
        if (wanted && !PathText(it->path().filename()).starts_with(".")) {
            entries.push_back(it->path());
        }
    }
    return entries;
}

}  // namespace

const std::error_category& CorpusErrorCategory() {
    static const CorpusErrorCategoryImpl category;
    return category;
}

std::error_code MakeError(CorpusError error) {
    return {static_cast<int>(error), CorpusErrorCategory()};
}

Result<std::vector<CorpusSpeaker>> ListCorpus(const fs::path& corpus) {
    std::error_code failure;
    if (!fs::is_directory(corpus, failure)) {
        return Failure(MakeError(CorpusError::NoSuchFolder), corpus);
    }
    std::vector<fs::path> folders = VisibleEntries(corpus, true, failure);
    if (failure) {
        return Failure(failure, corpus);
    }
    std::vector<CorpusSpeaker> speakers;
    std::sort(folders.begin(), folders.end());
    for (const fs::path& folder : folders) {
        CorpusSpeaker speaker;
        speaker.name = PathText(folder.filename());
        std::vector<fs::path> files = VisibleEntries(folder, false, failure);
        if (failure) {
            speaker.problem = PathText(folder) + ": " + failure.message();
            failure.clear();
        }
        std::sort(files.begin(), files.end());
        for (const fs::path& file : files) {
            const auto phrase = std::find(kEnrolPhraseNames.begin(), kEnrolPhraseNames.end(),
                                          PathText(file.stem()));
            if (phrase == kEnrolPhraseNames.end()) {
                speaker.tests.push_back(file);
                continue;
            }
            fs::path& slot =
                speaker.phrases[static_cast<std::size_t>(phrase - kEnrolPhraseNames.begin())];
            if (!slot.empty() && speaker.problem.empty()) {
                speaker.problem = std::string(*phrase) + ": more than one file (" +
                                  PathText(slot.filename()) + ", " + PathText(file.filename()) +
                                  ")";
            }
            slot = file;
        }
        speakers.push_back(std::move(speaker));
    }
    return speakers;
}

std::string LevelRefusalText(const LevelCheckResult& check) {
    if (check.accepted) {
        return {};
    }
    std::string reasons;
    for (const LevelWarning& warning : check.Warnings()) {
        reasons += (reasons.empty() ? "" : "; ") + std::string(warning.text);
    }
    return reasons.empty() ? std::string(kSoundNotRecordedText) : reasons;
}

std::vector<RateAtThreshold> GlobalThresholdCurve(const std::vector<Trial>& trials) {
    std::vector<float> genuine;
    std::vector<float> impostor;
    std::int32_t genuineCount = 0;
    std::int32_t impostorCount = 0;
    for (const Trial& trial : trials) {
        (trial.genuine ? genuineCount : impostorCount) += 1;
        if (trial.distance) {
            (trial.genuine ? genuine : impostor).push_back(*trial.distance);
        }
    }
    std::vector<RateAtThreshold> curve;
    if (genuineCount == 0 || impostorCount == 0) {
        return curve;
    }
    std::sort(genuine.begin(), genuine.end());
    std::sort(impostor.begin(), impostor.end());
    std::vector<float> thresholds(genuine);
    thresholds.insert(thresholds.end(), impostor.begin(), impostor.end());
    std::sort(thresholds.begin(), thresholds.end());
    thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
    if (!thresholds.empty()) {
        thresholds.push_back(std::nextafter(thresholds.back(), std::numeric_limits<float>::max()));
    }
    for (const float t : thresholds) {
        // Accepted exactly when the distance is below t, as VerifySpeaker decides.
        const auto acceptedGenuine =
            std::lower_bound(genuine.begin(), genuine.end(), t) - genuine.begin();
        const auto acceptedImpostor =
            std::lower_bound(impostor.begin(), impostor.end(), t) - impostor.begin();
        curve.push_back({t, 1.0 - static_cast<double>(acceptedGenuine) / genuineCount,
                         static_cast<double>(acceptedImpostor) / impostorCount});
    }
    return curve;
}

EqualErrorRate ComputeEqualErrorRate(const std::vector<Trial>& trials) {
    const std::vector<RateAtThreshold> curve = GlobalThresholdCurve(trials);
    EqualErrorRate result;
    if (curve.empty()) {
        return result;
    }
    result.defined = true;
    const auto cross = std::find_if(curve.begin(), curve.end(),
                                    [](const RateAtThreshold& p) { return p.frr <= p.far; });
    if (cross == curve.end() || cross == curve.begin()) {
        // No crossing (refused genuine recordings keep FRR above FAR even at the top), or
        // crossed at the first point: the mean of the two rates there.
        const RateAtThreshold& p = cross == curve.end() ? curve.back() : curve.front();
        result.rate = (p.frr + p.far) / 2.0;
        result.threshold = p.threshold;
        return result;
    }
    const RateAtThreshold& a = *(cross - 1);
    const RateAtThreshold& b = *cross;
    const double above = a.frr - a.far;  // > 0
    const double below = b.frr - b.far;  // <= 0
    const double f = above / (above - below);
    result.rate = a.far + f * (b.far - a.far);
    result.threshold = a.threshold + f * (b.threshold - a.threshold);
    return result;
}

int DefaultEvaluationThreads() {
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

EvaluationResult Evaluate(const std::vector<CorpusSpeaker>& speakers, const SoundReader& read,
                          int threads) {
    // Every enrolment and every test recording's training are independent: one list of work.
    std::vector<std::pair<std::size_t, std::size_t>> tests;  // (speaker, test)
    for (std::size_t s = 0; s < speakers.size(); ++s) {
        for (std::size_t t = 0; t < speakers[s].tests.size(); ++t) {
            tests.emplace_back(s, t);
        }
    }
    std::vector<Enrolled> enrolled(speakers.size());
    std::vector<Tested> tested(tests.size());
    RunIndexed(speakers.size() + tests.size(), threads, [&](std::size_t i) {
        if (i < speakers.size()) {
            enrolled[i] = EnrolSpeaker(speakers[i], read);
        } else {
            const auto [s, t] = tests[i - speakers.size()];
            tested[i - speakers.size()] = TrainTest(speakers[s].tests[t], read);
        }
    });

    EvaluationResult result;
    std::vector<const Enrolled*> models;
    for (std::size_t s = 0; s < speakers.size(); ++s) {
        result.notes.insert(result.notes.end(), enrolled[s].notes.begin(), enrolled[s].notes.end());
        if (enrolled[s].done) {
            result.enrolled.push_back({speakers[s].name, enrolled[s].thresholds});
            models.push_back(&enrolled[s]);
        } else {
            result.skipped.push_back({speakers[s].name, enrolled[s].reason});
        }
    }
    std::vector<const Tested*> codebooks;
    std::vector<std::int32_t> owner;  // index into enrolled, -1 for a skipped speaker
    for (std::size_t i = 0; i < tests.size(); ++i) {
        result.notes.insert(result.notes.end(), tested[i].notes.begin(), tested[i].notes.end());
        if (!tested[i].readable) {
            continue;
        }
        const CorpusSpeaker& speaker = speakers[tests[i].first];
        result.recordings.push_back(
            {speaker.name, speaker.tests[tests[i].second], tested[i].trained, tested[i].refusal});
        codebooks.push_back(&tested[i]);
        const auto own =
            std::find_if(result.enrolled.begin(), result.enrolled.end(),
                         [&](const EnrolledSpeaker& e) { return e.name == speaker.name; });
        owner.push_back(own == result.enrolled.end()
                            ? -1
                            : static_cast<std::int32_t>(own - result.enrolled.begin()));
    }

    // Each test codebook against each enrolled speaker, the decision at each level.
    const std::size_t claims = models.size();
    result.trials.resize(codebooks.size() * claims);
    RunIndexed(codebooks.size(), threads, [&](std::size_t r) {
        for (std::size_t c = 0; c < claims; ++c) {
            Trial& trial = result.trials[r * claims + c];
            trial.recording = static_cast<std::int32_t>(r);
            trial.claimed = static_cast<std::int32_t>(c);
            trial.genuine = owner[r] == static_cast<std::int32_t>(c);
            if (!codebooks[r]->trained) {
                continue;
            }
            for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
                float distance = 0.0f;
                trial.accepted[level] = VerifySpeaker(models[c]->phrases, codebooks[r]->codebook,
                                                      models[c]->thresholds[level], distance);
                trial.distance = distance;
            }
        }
    });

    for (const Trial& trial : result.trials) {
        for (std::size_t level = 0; level < kSecurityLevelCount; ++level) {
            LevelRates& rates = result.levels[level];
            if (trial.genuine) {
                ++rates.genuineTrials;
                rates.falseRejections += trial.accepted[level] ? 0 : 1;
            } else {
                ++rates.impostorTrials;
                rates.falseAcceptances += trial.accepted[level] ? 1 : 0;
            }
        }
    }
    result.equalError = ComputeEqualErrorRate(result.trials);
    return result;
}

}  // namespace quorvane
