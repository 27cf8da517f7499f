// Times TrainCodebook on a 3-second and a 30-second recording, its growth
// stage alone, and one assignment pass against a plain loop of FeatureDistance
// calls. The recordings are spoken by espeak-ng when it is installed (read
// aloud text, cut or repeated to length), otherwise a synthetic voice.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "interfaces/Notifier.h"
#include "interfaces/Progress.h"
#include "speaker/Training.h"
#include "tests/analysis/SyntheticVoice.h"
#include "tests/speaker/SpokenPhrase.h"

namespace {

using quorvane::kMaxCodewords;
using quorvane::kSampleRate;
using quorvane::VoiceCodebook;

constexpr const char* kText =
    "When the sunlight strikes raindrops in the air, they act as a prism and form a rainbow. "
    "The rainbow is a division of white light into many beautiful colors. These take the shape "
    "of a long round arch, with its path high above, and its two ends apparently beyond the "
    "horizon. There is, according to legend, a boiling pot of gold at one end. People look, "
    "but no one ever finds it.";

std::vector<std::int16_t> MakeRecording(std::int32_t seconds) {
    const auto length = static_cast<std::size_t>(seconds) * kSampleRate;
    std::vector<std::int16_t> spoken;
    if (quorvane::testing::EspeakAvailable() &&
        quorvane::testing::SpeakPhrase("en", kText, spoken)) {
        std::vector<std::int16_t> samples;
        while (samples.size() < length) {
            samples.insert(samples.end(), spoken.begin(), spoken.end());
        }
        samples.resize(length);
        return samples;
    }
    static bool told = false;
    if (!told) {
        std::fprintf(stderr, "espeak-ng not found: timing a synthetic voice instead\n");
        told = true;
    }
    return quorvane::testing::SyntheticVoice(static_cast<std::int32_t>(length), 21);
}

const std::vector<std::int16_t>& Recording(std::int64_t seconds) {
    static const std::vector<std::int16_t> three = MakeRecording(3);
    static const std::vector<std::int16_t> thirty = MakeRecording(30);
    return seconds == 3 ? three : thirty;
}

// The record as TrainCodebook leaves it after the analysis.
const VoiceCodebook& Analysed(std::int64_t seconds) {
    static const auto analyse = [](std::int64_t s) {
        const std::vector<std::int16_t>& samples = Recording(s);
        VoiceCodebook codebook;
        quorvane::SilentNotifier notifier;
        quorvane::AnalyseForTraining(codebook, samples, static_cast<std::int32_t>(samples.size()),
                                     kSampleRate, kMaxCodewords, notifier);
        return codebook;
    };
    static const VoiceCodebook three = analyse(3);
    static const VoiceCodebook thirty = analyse(30);
    return seconds == 3 ? three : thirty;
}

void TrainCodebook(benchmark::State& state) {
    const std::vector<std::int16_t>& samples = Recording(state.range(0));
    quorvane::NullProgress progress;
    quorvane::SilentNotifier notifier;
    std::int32_t vectors = 0;
    for (auto _ : state) {
        VoiceCodebook codebook;
        const bool trained =
            quorvane::TrainCodebook(codebook, samples, static_cast<std::int32_t>(samples.size()),
                                    kSampleRate, kMaxCodewords, progress, notifier);
        benchmark::DoNotOptimize(trained);
        vectors = codebook.vectorCount;
    }
    state.counters["vectors"] = vectors;
}

// The growth alone, on the vector unit given as the second argument (0 plain
// loops, 1 SSE, 2 AVX), where the processor has it.
void GrowCodebook(benchmark::State& state) {
    const VoiceCodebook& analysed = Analysed(state.range(0));
    const auto unit = static_cast<quorvane::DistanceUnit>(state.range(1));
    const std::vector<quorvane::DistanceUnit> units = quorvane::AvailableDistanceUnits();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        state.SkipWithError("this processor lacks the vector unit");
        return;
    }
    const quorvane::DistanceKernel kernel = quorvane::DistanceKernelFor(unit);
    quorvane::NullProgress progress;
    for (auto _ : state) {
        state.PauseTiming();
        VoiceCodebook codebook = analysed;
        state.ResumeTiming();
        const bool trained = quorvane::GrowCodebook(codebook, progress, kernel);
        benchmark::DoNotOptimize(trained);
    }
    state.counters["vectors"] = analysed.vectorCount;
}

// A codebook of 64 codewords over the 30-second vectors, with its vectors kept.
VoiceCodebook WithFullCodebook() {
    VoiceCodebook trained = Analysed(30);
    quorvane::NullProgress progress;
    static_cast<void>(quorvane::GrowCodebook(trained, progress));
    VoiceCodebook codebook = Analysed(30);
    codebook.codewords = trained.codewords;
    codebook.codewordCount = trained.codewordCount;
    return codebook;
}

void AssignVectors(benchmark::State& state) {
    VoiceCodebook codebook = WithFullCodebook();
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvane::AssignVectors(codebook));
    }
    state.counters["pairs"] = static_cast<double>(codebook.vectorCount) * codebook.codewordCount;
}

// The assignment pass written plainly: one FeatureDistance call per pair over
// the records' own entries, for comparison.
void PlainAssignVectors(benchmark::State& state) {
    VoiceCodebook codebook = WithFullCodebook();
    std::vector<quorvane::Codeword>& cw = *codebook.codewords;
    std::vector<quorvane::Codeword>& vs = *codebook.vectors;
    for (auto _ : state) {
        for (std::int32_t k = 0; k < codebook.codewordCount; ++k) {
            cw[k].distortion = 0.0f;
            cw[k].memberCount = 0;
        }
        float sum = 0.0f;
        for (std::int32_t i = 0; i < codebook.vectorCount; ++i) {
            std::int32_t best = 0;
            float nearest = quorvane::FeatureDistance(codebook.cepstrumOrder, vs[i].values.data(),
                                                      cw[0].values.data());
            for (std::int32_t k = 1; k < codebook.codewordCount; ++k) {
                const float d = quorvane::FeatureDistance(codebook.cepstrumOrder,
                                                          vs[i].values.data(), cw[k].values.data());
                if (d < nearest) {
                    nearest = d;
                    best = k;
                }
            }
            vs[i].label = best;
            cw[best].distortion += nearest;
            ++cw[best].memberCount;
            sum += nearest;
        }
        for (std::int32_t k = 0; k < codebook.codewordCount; ++k) {
            if (cw[k].memberCount > 0) {
                cw[k].distortion /= static_cast<float>(cw[k].memberCount);
            }
        }
        benchmark::DoNotOptimize(sum / static_cast<float>(codebook.vectorCount));
    }
    state.counters["pairs"] = static_cast<double>(codebook.vectorCount) * codebook.codewordCount;
}

}  // namespace

BENCHMARK(TrainCodebook)
    ->ArgName("seconds")
    ->Arg(3)
    ->Arg(30)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(GrowCodebook)
    ->ArgNames({"seconds", "unit"})
    ->ArgsProduct({{3, 30}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(AssignVectors)->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(PlainAssignVectors)
    ->Unit(benchmark::kMicrosecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

BENCHMARK_MAIN();
