// Whole-file throughput and peak memory of EncodeFile and DecodeFile on a large file, next to
// the raw triple-pass cipher on the same number of threads and libgcrypt doing the same passes.
//
// Usage: cipher_file_bench [size in MiB, default 1024] [folder, default the temporary folder]
// The test files are deleted at the end.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "cipher/EncodedFile.h"
#include "cipher/GostFast.h"

#ifdef __linux__
#include <sys/resource.h>
#endif
#ifdef QUORVANE_HAVE_GCRYPT
#include <gcrypt.h>
#endif

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = std::size_t{1} << 20;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kMB = 1e6;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Peak resident memory of this process so far, in MiB (0 where it cannot be told).
double PeakMiB() {
#ifdef __linux__
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
#else
    return 0.0;
#endif
}

bool MakeInput(const fs::path& path, std::uint64_t bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::vector<std::uint8_t> chunk(kChunk);
    std::uint64_t x = 0x9E3779B97F4A7C15ull;
    for (std::uint64_t done = 0; done < bytes; done += chunk.size()) {
        for (std::size_t i = 0; i < chunk.size(); i += 8) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            for (int b = 0; b < 8; ++b) {
                chunk[i + b] = static_cast<std::uint8_t>(x >> (8 * b));
            }
        }
        const auto n =
            static_cast<std::streamsize>(std::min<std::uint64_t>(chunk.size(), bytes - done));
        out.write(reinterpret_cast<const char*>(chunk.data()), n);
    }
    return static_cast<bool>(out.flush());
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream fa(a, std::ios::binary);
    std::ifstream fb(b, std::ios::binary);
    std::vector<char> ba(kChunk);
    std::vector<char> bb(kChunk);
    for (;;) {
        fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
        fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
        if (fa.gcount() != fb.gcount() ||
            !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin())) {
            return false;
        }
        if (fa.gcount() == 0) {
            return true;
        }
    }
}

// MB/s of `work` (one call enciphers `bytesPerCall`) run on `threads` threads for about `secs`.
template <typename Work>
double Throughput(int threads, double secs, std::size_t bytesPerCall, Work work) {
    std::atomic<std::uint64_t> total{0};
    const auto start = Clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            std::vector<std::uint8_t> data(bytesPerCall, 0x5A);
            std::uint64_t done = 0;
            while (Seconds(start) < secs) {
                work(data);
                done += data.size();
            }
            total += done;
        });
    }
    for (auto& t : pool) {
        t.join();
    }
    return static_cast<double>(total) / Seconds(start) / kMB;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const fs::path folder = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path();
    const std::uint64_t bytes = mib << 20;
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const quorvane::GostKey key = {1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFFu};
    const auto& table = quorvane::FileSubstitutionTable;

    const fs::path plain = folder / "quorvane-bench.plain";
    const fs::path encoded = folder / "quorvane-bench.crp";
    const fs::path decoded = folder / "quorvane-bench.decoded";
    std::printf("file: %llu MiB in %s, %d threads, cipher path %s\n",
                static_cast<unsigned long long>(mib), folder.string().c_str(), threads,
                quorvane::GostPathName(quorvane::GostFast::Best()));
    if (!MakeInput(plain, bytes)) {
        std::printf("cannot write %s\n", plain.string().c_str());
        return 1;
    }

    // The same work without the output disk: separates the cipher pipeline from the device.
    double nullSecs = 0.0;
    if (fs::is_character_file("/dev/null")) {
        const auto t0 = Clock::now();
        static_cast<void>(quorvane::EncodeFile(plain, "/dev/null", "benchcryptedfile", key, table));
        nullSecs = Seconds(t0);
    }
    auto start = Clock::now();
    const int enc = quorvane::EncodeFile(plain, encoded, "benchcryptedfile", key, table);
    const double encodeSecs = Seconds(start);
    start = Clock::now();
    const int dec = quorvane::DecodeFile(encoded, decoded, "benchcryptedfile", key, table);
    const double decodeSecs = Seconds(start);
    const double peak = PeakMiB();
    const bool same = enc == 1 && dec == 1 && SameContent(plain, decoded);
    std::error_code ec;
    fs::remove(plain, ec);
    fs::remove(encoded, ec);
    fs::remove(decoded, ec);

    const double encodeRate = static_cast<double>(bytes) / encodeSecs / kMB;
    const double decodeRate = static_cast<double>(bytes) / decodeSecs / kMB;
    if (nullSecs > 0.0) {
        std::printf("EncodeFile to /dev/null: %.2f s, %.1f MB/s\n", nullSecs,
                    static_cast<double>(bytes) / nullSecs / kMB);
    }
    std::printf("EncodeFile: %.2f s, %.1f MB/s (result %d)\n", encodeSecs, encodeRate, enc);
    std::printf("DecodeFile: %.2f s, %.1f MB/s (result %d), round trip %s\n", decodeSecs,
                decodeRate, dec, same ? "identical" : "DIFFERENT");
    std::printf("peak resident memory of the whole process: %.1f MiB\n", peak);

    const quorvane::GostFast cipher(key, table);
    const double raw1 = Throughput(1, 3.0, 4 * kChunk, [&](std::vector<std::uint8_t>& d) {
        cipher.Encrypt(d, quorvane::kEncryptionPasses);
    });
    const double rawN = Throughput(threads, 3.0, 4 * kChunk, [&](std::vector<std::uint8_t>& d) {
        cipher.Encrypt(d, quorvane::kEncryptionPasses);
    });
    std::printf("raw cipher, 3 passes, 1 thread: %.1f MB/s; %d threads: %.1f MB/s\n", raw1, threads,
                rawN);
    std::printf("EncodeFile / raw 3-pass cipher on %d threads: %.0f%%\n", threads,
                100.0 * encodeRate / rawN);
#ifdef QUORVANE_HAVE_GCRYPT
    if (gcry_check_version(nullptr) != nullptr) {
        const double g1 = Throughput(1, 3.0, 4 * kChunk, [&](std::vector<std::uint8_t>& d) {
            gcry_cipher_hd_t h = nullptr;
            gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, 0);
            const std::uint8_t k[32] = {1};
            gcry_cipher_setkey(h, k, sizeof k);
            for (int p = 0; p < quorvane::kEncryptionPasses; ++p) {
                gcry_cipher_encrypt(h, d.data(), d.size(), nullptr, 0);
            }
            gcry_cipher_close(h);
        });
        std::printf("libgcrypt, 3 passes, 1 thread: %.1f MB/s (%.0f MiB/s)\n", g1, g1 * kMB / kMiB);
        std::printf(
            "EncodeFile (%d threads) / libgcrypt 3 passes (1 thread): %.1fx; "
            "per thread: %.1fx\n",
            threads, encodeRate / g1, encodeRate / threads / g1);
    }
#else
    std::printf("libgcrypt comparison skipped: libgcrypt not installed\n");
#endif
    return same ? 0 : 1;
}
