// Times one unlock of a protected speaker file with the costs the program writes (Argon2id,
// t = 3, m = 64 MiB, p = 4): the key derivation alone, and the whole unlock (derivation, key
// check, decoding and parsing the model); and the derivation at the two corners of the costs a
// reader accepts, the most a file can make an unlock cost. Its own executable, so that
// `/usr/bin/time -v` with one --benchmark_filter gives the peak memory of that case alone.

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "analysis/VoiceCodebook.h"
#include "speaker/ModelFile.h"
#include "speaker/ProtectedFile.h"

namespace {

namespace fs = std::filesystem;
using quorvane::VoiceCodebook;

constexpr std::string_view kPassphrase = "correct horse battery staple";

std::span<const char> Passphrase() {
    return {kPassphrase.data(), kPassphrase.size()};
}

// Three codebooks of 64 filled codewords: the largest model.
std::array<VoiceCodebook, 3> FullModel() {
    VoiceCodebook book;
    std::vector<float> rows(static_cast<std::size_t>(64 * 22));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = 0.001f * static_cast<float>(i % 977);
    }
    quorvane::ImportCodewords(book, rows, 64, 22);
    return {book, book, book};
}

void BM_DeriveKey(benchmark::State& state) {
    quorvane::GostKey key{};
    const quorvane::Salt salt{};
    for (auto _ : state) {
        if (!quorvane::DerivePassphraseKey(Passphrase(), salt, quorvane::kProtectionKdf, key)) {
            state.SkipWithError("Argon2id failed");
        }
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_DeriveKey)->Unit(benchmark::kMillisecond)->UseRealTime();

// The derivation at the ceiling: passes x memory at kMaxKdfWork, with the most memory (3 x
// 512 MiB) or the most passes (10 x 153.6 MiB), and the most lanes.
void BM_DeriveKeyAtCeiling(benchmark::State& state) {
    const auto passes = static_cast<std::uint32_t>(state.range(0));
    const quorvane::KdfParameters kdf{passes,
                                      static_cast<std::uint32_t>(quorvane::kMaxKdfWork / passes),
                                      quorvane::kMaxKdf.lanes};
    if (!quorvane::CheckKdfBounds(kdf)) {
        state.SkipWithError("the costs lie outside the bounds");
        return;
    }
    quorvane::GostKey key{};
    const quorvane::Salt salt{};
    for (auto _ : state) {
        if (!quorvane::DerivePassphraseKey(Passphrase(), salt, kdf, key)) {
            state.SkipWithError("Argon2id failed");
        }
        benchmark::DoNotOptimize(key);
    }
}
BENCHMARK(BM_DeriveKeyAtCeiling)
    ->Arg(quorvane::kMinKdf.passes)
    ->Arg(quorvane::kMaxKdf.passes)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void BM_Unlock(benchmark::State& state) {
    const fs::path path = fs::temp_directory_path() / "quorvane-bench-unlock.qvlock";
    if (!quorvane::WriteProtectedFile(path, "anna", FullModel(), 0.5f, Passphrase(),
                                      quorvane::kProtectionKdf, quorvane::OutputMode::Replace)) {
        state.SkipWithError("cannot write the protected file");
        return;
    }
    for (auto _ : state) {
        std::array<VoiceCodebook, 3> books;
        float threshold = 0.0f;
        if (!quorvane::ReadProtectedFile(path, Passphrase(), books, threshold)) {
            state.SkipWithError("unlock failed");
        }
        benchmark::DoNotOptimize(threshold);
    }
    fs::remove(path);
}
BENCHMARK(BM_Unlock)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
