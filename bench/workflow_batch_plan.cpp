// Times the plan a batch makes before it writes anything (workflow/BatchPlan.h): every output
// compared with the inputs yet to be read and the earlier outputs, for batches of small files
// written beside them in one folder of the temporary folder's file system.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "workflow/BatchPlan.h"
#include "workflow/Coding.h"

namespace {

namespace fs = std::filesystem;

void BM_PlanOutputs(benchmark::State& state) {
    const fs::path folder = fs::temp_directory_path() / "quorvane-bench-plan";
    fs::create_directories(folder);
    std::vector<fs::path> inputs;
    std::vector<std::optional<fs::path>> outputs;
    for (int i = 0; i < state.range(0); ++i) {
        inputs.push_back(folder / ("file" + std::to_string(i) + ".txt"));
        std::ofstream(inputs.back()) << "x";
        outputs.push_back(quorvane::EncodedOutputPath({}, inputs.back()));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvane::PlanOutputs(inputs, outputs));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    fs::remove_all(folder);
}
BENCHMARK(BM_PlanOutputs)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
