// Times AnalyseRecording on 3-second and 30-second voice-like recordings, on
// the calling thread alone and with the per-frame stages on several threads.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/FrameWorkers.h"
#include "analysis/RecordingAnalysis.h"
#include "analysis/VoiceCodebook.h"
#include "tests/analysis/SyntheticVoice.h"

namespace {

const std::vector<std::int16_t>& Recording(std::int32_t seconds) {
    static const std::vector<std::int16_t> three =
        quorvane::testing::SyntheticVoice(3 * quorvane::kSampleRate, 21);
    static const std::vector<std::int16_t> thirty =
        quorvane::testing::SyntheticVoice(30 * quorvane::kSampleRate, 21);
    return seconds == 3 ? three : thirty;
}

void AnalyseRecording(benchmark::State& state) {
    const auto seconds = static_cast<std::int32_t>(state.range(0));
    const auto threads = static_cast<std::int32_t>(state.range(1));
    const std::vector<std::int16_t>& samples = Recording(seconds);
    quorvane::SilentNotifier notifier;
    std::int32_t vectors = 0;
    for (auto _ : state) {
        quorvane::VoiceCodebook codebook;
        codebook.sampleCount = static_cast<std::int32_t>(samples.size());
        codebook.sampleRate = quorvane::kSampleRate;
        quorvane::AnalyseRecording(codebook, samples, notifier, threads);
        vectors = codebook.vectorCount;
        benchmark::DoNotOptimize(codebook.vectors);
    }
    state.counters["vectors"] = vectors;
    state.counters["threads"] = threads;
}

void Arguments(benchmark::internal::Benchmark* b) {
    const std::int64_t hardware = quorvane::DefaultAnalysisThreads();
    for (const std::int64_t seconds : {3, 30}) {
        b->Args({seconds, 1});
        if (hardware > 1) {
            b->Args({seconds, hardware});
        }
    }
    b->ArgNames({"seconds", "threads"})->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK(AnalyseRecording)->Apply(Arguments);

BENCHMARK_MAIN();
