// Block throughput of our GOST 28147-89 paths against libgcrypt and Botan 2, on the same data.
// Run: cipher_bench --benchmark_counters_tabular=true

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "cipher/FileTag.h"
#include "cipher/Gost.h"
#include "cipher/GostFast.h"

#ifdef QUORVANE_HAVE_GCRYPT
#include <gcrypt.h>
#endif
#ifdef QUORVANE_HAVE_BOTAN
#include <botan/block_cipher.h>
#include <botan/gost_28147.h>
#endif

namespace {

using quorvane::GostFast;
using quorvane::GostKey;
using quorvane::GostPath;

constexpr std::size_t kBufferBytes = std::size_t{1} << 20;  // 1 MiB, stays in cache

// The key of the GOST R 34.12-2015 example, as bytes (each 32-bit word little-endian).
const std::uint8_t kKeyBytes[32] = {
    0xcc, 0xdd, 0xee, 0xff, 0x88, 0x99, 0xaa, 0xbb, 0x44, 0x55, 0x66, 0x77, 0x00, 0x11, 0x22, 0x33,
    0xf3, 0xf2, 0xf1, 0xf0, 0xf7, 0xf6, 0xf5, 0xf4, 0xfb, 0xfa, 0xf9, 0xf8, 0xff, 0xfe, 0xfd, 0xfc};

GostKey Key() {
    GostKey key{};
    for (int i = 0; i < 8; ++i) {
        key[i] = std::uint32_t{kKeyBytes[4 * i]} | (std::uint32_t{kKeyBytes[4 * i + 1]} << 8) |
                 (std::uint32_t{kKeyBytes[4 * i + 2]} << 16) |
                 (std::uint32_t{kKeyBytes[4 * i + 3]} << 24);
    }
    return key;
}

// The substitution boxes of GOST R 34.12-2015 (libgcrypt's "1.2.643.7.1.2.5.1.1"), rows pi0..pi7.
const quorvane::SubstitutionTable kMagmaTable = {
    12, 4,  6, 2,  10, 5,  11, 9,  14, 8,  13, 7,  0,  3,  15, 1,  6,  8,  2,  3,  9,  10,
    5,  12, 1, 14, 4,  7,  11, 13, 0,  15, 11, 3,  5,  8,  2,  15, 10, 13, 14, 1,  7,  4,
    12, 9,  6, 0,  12, 8,  2,  1,  13, 4,  15, 6,  7,  0,  10, 5,  3,  14, 9,  11, 7,  15,
    5,  10, 8, 1,  6,  13, 0,  9,  3,  14, 11, 4,  2,  12, 5,  13, 15, 6,  9,  2,  12, 10,
    11, 7,  8, 1,  4,  3,  14, 0,  8,  14, 2,  5,  6,  9,  1,  12, 15, 4,  11, 0,  13, 10,
    3,  7,  1, 7,  14, 13, 0,  5,  8,  3,  4,  15, 10, 6,  9,  12, 11, 2};

std::vector<std::uint8_t> Data() {
    std::vector<std::uint8_t> data(kBufferBytes);
    std::mt19937_64 rng(1);
    for (auto& b : data) {
        b = static_cast<std::uint8_t>(rng());
    }
    return data;
}

void Fast(benchmark::State& state, GostPath path, int passes) {
    if (!GostFast::Supported(path)) {
        state.SkipWithError("this processor lacks the instructions for this path");
        return;
    }
    const GostFast cipher(Key(), kMagmaTable, path);
    std::vector<std::uint8_t> data = Data();
    for (auto _ : state) {
        cipher.Encrypt(data, passes);
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}

void Reference(benchmark::State& state) {
    const GostKey key = Key();
    std::vector<std::uint8_t> data = Data();
    data.resize(std::size_t{64} << 10);
    for (auto _ : state) {
        for (std::size_t i = 0; i < data.size(); i += 8) {
            auto* w = reinterpret_cast<std::uint32_t*>(data.data() + i);
            quorvane::GostEncryptBlock(w, w, key, kMagmaTable);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}

#ifdef QUORVANE_HAVE_GCRYPT
// gcry_cipher_set_sbox is a macro over this control call.
constexpr const char* kMagmaOid = "1.2.643.7.1.2.5.1.1";

struct GcryptCipher {
    gcry_cipher_hd_t handle = nullptr;
    bool ok = false;
    GcryptCipher() {
        if (!gcry_check_version(nullptr) ||
            gcry_cipher_open(&handle, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, 0) != 0) {
            return;
        }
        ok = gcry_cipher_setkey(handle, kKeyBytes, sizeof kKeyBytes) == 0 &&
             gcry_cipher_ctl(handle, GCRYCTL_SET_SBOX, const_cast<char*>(kMagmaOid), 0) == 0;
    }
    ~GcryptCipher() { gcry_cipher_close(handle); }
};

void GcryptGost(benchmark::State& state, int passes) {
    GcryptCipher c;
    if (!c.ok) {
        state.SkipWithError("libgcrypt would not set up GOST 28147-89 with the test S-boxes");
        return;
    }
    std::vector<std::uint8_t> data = Data();
    for (auto _ : state) {
        for (int p = 0; p < passes; ++p) {
            gcry_cipher_encrypt(c.handle, data.data(), data.size(), nullptr, 0);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
#else
void GcryptGost(benchmark::State& state, int) {
    state.SkipWithError("libgcrypt not installed");
}
#endif

#ifdef QUORVANE_HAVE_BOTAN
void BotanGost(benchmark::State& state, int passes) {
    // Botan's own parameter set: its speed does not depend on the box values.
    auto cipher = Botan::BlockCipher::create("GOST-28147-89");
    if (!cipher) {
        state.SkipWithError("Botan has no GOST-28147-89");
        return;
    }
    cipher->set_key(kKeyBytes, sizeof kKeyBytes);
    std::vector<std::uint8_t> data = Data();
    for (auto _ : state) {
        for (int p = 0; p < passes; ++p) {
            cipher->encrypt_n(data.data(), data.data(), data.size() / 8);
        }
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(data.size()));
}
#else
void BotanGost(benchmark::State& state, int) {
    state.SkipWithError("Botan 2 not installed");
}
#endif

// The trailer's chunk value over one 1 MiB chunk of cipher data, the work the check value adds
// to each chunk next to the three cipher passes: HMAC-SHA-256 (version 1) or GMAC-AES-128 under
// a key derived per chunk (version 2).
void ChunkValue(benchmark::State& state, quorvane::TrailerVersion version) {
    const quorvane::TagKey key(Key(), quorvane::FileSubstitutionTable, version);
    const std::vector<std::uint8_t> chunk(quorvane::kTagChunkBytes, 0x5A);
    std::array<std::uint8_t, quorvane::kTagBytes> value{};
    std::uint64_t index = 0;
    for (auto _ : state) {
        key.ChunkValue(index++, chunk, value);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(chunk.size()));
}

// Before measuring: our fast paths and libgcrypt must agree byte for byte.
void CrossCheck() {
#ifdef QUORVANE_HAVE_GCRYPT
    GcryptCipher c;
    if (!c.ok) {
        std::printf("cross-check: libgcrypt unavailable with the test S-boxes\n");
        return;
    }
    const std::vector<std::uint8_t> plain = Data();
    std::vector<std::uint8_t> theirs = plain;
    gcry_cipher_encrypt(c.handle, theirs.data(), theirs.size(), nullptr, 0);
    for (const GostPath path : {GostPath::Portable, GostPath::Avx2, GostPath::Avx512}) {
        if (!GostFast::Supported(path)) {
            continue;
        }
        std::vector<std::uint8_t> ours = plain;
        GostFast(Key(), kMagmaTable, path).Encrypt(ours, 1);
        std::printf("cross-check against libgcrypt, %s path: %s\n", quorvane::GostPathName(path),
                    ours == theirs ? "identical" : "DIFFERENT");
    }
#else
    std::printf("cross-check skipped: libgcrypt not installed\n");
#endif
#ifdef QUORVANE_HAVE_BOTAN
    // Botan with its default parameter set, whose boxes it hands out row by row.
    const Botan::GOST_28147_89_Params params;
    quorvane::SubstitutionTable botanTable{};
    for (std::size_t r = 0; r < 8; ++r) {
        for (std::size_t c = 0; c < 16; ++c) {
            botanTable[16 * r + c] = params.sbox_entry(r, c);
        }
    }
    Botan::GOST_28147_89 botan(params);
    botan.set_key(kKeyBytes, sizeof kKeyBytes);
    const std::vector<std::uint8_t> input = Data();
    std::vector<std::uint8_t> botanOut = input;
    botan.encrypt_n(botanOut.data(), botanOut.data(), botanOut.size() / 8);
    std::vector<std::uint8_t> ours = input;
    GostFast(Key(), botanTable).Encrypt(ours, 1);
    std::printf("cross-check against Botan (%s boxes), %s path: %s\n", params.param_name().c_str(),
                quorvane::GostPathName(GostFast::Best()),
                ours == botanOut ? "identical" : "DIFFERENT");
#endif
}

}  // namespace

BENCHMARK_CAPTURE(Fast, portable_1pass, GostPath::Portable, 1);
BENCHMARK_CAPTURE(Fast, avx2_1pass, GostPath::Avx2, 1);
BENCHMARK_CAPTURE(Fast, avx512_1pass, GostPath::Avx512, 1);
BENCHMARK(Reference);
BENCHMARK_CAPTURE(ChunkValue, v1_hmac_sha256, quorvane::TrailerVersion::V1);
BENCHMARK_CAPTURE(ChunkValue, v2_gmac, quorvane::TrailerVersion::V2);
BENCHMARK_CAPTURE(GcryptGost, gcrypt_1pass, 1);
BENCHMARK_CAPTURE(BotanGost, botan_1pass, 1);
// The three passes of the file format, on one thread and on two.
BENCHMARK_CAPTURE(Fast, best_3pass, quorvane::GostFast::Best(), 3);
BENCHMARK_CAPTURE(Fast, best_3pass, quorvane::GostFast::Best(), 3)->Threads(2)->UseRealTime();
BENCHMARK_CAPTURE(GcryptGost, gcrypt_3pass, 3);
BENCHMARK_CAPTURE(GcryptGost, gcrypt_3pass, 3)->Threads(2)->UseRealTime();

int main(int argc, char** argv) {
    CrossCheck();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
