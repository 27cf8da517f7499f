// Whole-file throughput and peak memory of EncodeFile and DecodeFile on a large file, next to
// the raw triple-pass cipher on the same number of threads and libgcrypt doing the same passes,
// and with the trailer (key check and file tag, version 2 as written now and version 1 of the
// previous release) against the format without it.
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
#include "tests/support/CodingWrappers.h"
#include "tests/support/EarlierFormats.h"

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

// Processor time used by all threads of this process so far, in seconds (0 where unknown).
double CpuSeconds() {
#ifdef __linux__
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
#else
    return 0.0;
#endif
}

// Wall and processor seconds of one call.
struct Timing {
    double wall = 0.0;
    double cpu = 0.0;
};

template <typename Call>
Timing Time(Call call) {
    const auto start = Clock::now();
    const double cpu = CpuSeconds();
    call();
    return Timing{Seconds(start), CpuSeconds() - cpu};
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
    const fs::path encodedOld = folder / "quorvane-bench-untagged.crp";
    const fs::path decodedOld = folder / "quorvane-bench-untagged.decoded";
    // Outputs are always new regular files (a device is refused): "without the output disk"
    // writes into a memory folder where there is one.
    const fs::path nullOut =
        (fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : folder) / "quorvane-bench.null";
    std::printf("file: %llu MiB in %s, %d threads, cipher path %s\n",
                static_cast<unsigned long long>(mib), folder.string().c_str(), threads,
                quorvane::GostPathName(quorvane::GostFast::Best()));
    if (!MakeInput(plain, bytes)) {
        std::printf("cannot write %s\n", plain.string().c_str());
        return 1;
    }

    // Raw cipher first and last, so load from other programs affects both sides alike.
    const quorvane::GostFast cipher(key, table);
    const auto raw = [&](int n) {
        return Throughput(n, 2.0, 4 * kChunk, [&](std::vector<std::uint8_t>& d) {
            cipher.Encrypt(d, quorvane::kEncryptionPasses);
        });
    };
    const double rawBefore = raw(threads);

    int enc = 0;
    int dec = 0;
    // The same work without the output disk: separates the pipeline from the device.
    // The same work without the trailer, run alternately with it so load hits both alike.
    bool oldOk = true;
    const auto untagged = [&](const fs::path& out) {
        oldOk =
            quorvane::EncodeFileWithoutTrailer(plain, out, "benchcryptedfile", key, table) && oldOk;
    };
    const Timing toNullUntagged = Time([&] { untagged(nullOut); });
    const Timing toNullV1 = Time([&] {
        oldOk = quorvane::EncodeFileWithTrailerVersion(plain, nullOut, "benchcryptedfile", key,
                                                       table, quorvane::TrailerVersion::V1) &&
                oldOk;
    });
    const Timing toNull = Time([&] {
        static_cast<void>(quorvane::EncodeFile(plain, nullOut, "benchcryptedfile", key, table));
    });
    const Timing encodeUntagged = Time([&] { untagged(encodedOld); });
    const Timing encode =
        Time([&] { enc = quorvane::EncodeFile(plain, encoded, "benchcryptedfile", key, table); });
    const Timing decodeNullUntagged = Time([&] {
        oldOk = quorvane::DecodeFile(encodedOld, nullOut, "benchcryptedfile", key, table, {},
                                     true) == 1 &&
                oldOk;
    });
    const Timing decodeNull = Time([&] {
        static_cast<void>(quorvane::DecodeFile(encoded, nullOut, "benchcryptedfile", key, table));
    });
    const Timing decodeUntagged = Time([&] {
        quorvane::CodingOptions allowed;
        allowed.allowUnverified = true;
        const quorvane::Result<quorvane::Coded> r = quorvane::DecodeFileChecked(
            encodedOld, decodedOld, "benchcryptedfile", key, table, allowed);
        oldOk = r && !r->tagVerified && oldOk;
    });
    oldOk = oldOk && SameContent(plain, decodedOld);
    std::error_code ec;
    fs::remove(encodedOld, ec);
    fs::remove(decodedOld, ec);
    const Timing decode =
        Time([&] { dec = quorvane::DecodeFile(encoded, decoded, "benchcryptedfile", key, table); });
    const double peak = PeakMiB();
    const bool same = enc == 1 && dec == 1 && oldOk && SameContent(plain, decoded);
    fs::remove(plain, ec);
    fs::remove(encoded, ec);
    fs::remove(decoded, ec);
    fs::remove(nullOut, ec);
    const double rawAfter = raw(threads);
    const double rawN = (rawBefore + rawAfter) / 2.0;
    const double raw1 = raw(1);
    // Processor seconds the raw cipher needs for the file's bytes (all threads together).
    const Timing rawCpu = Time([&] {
        std::vector<std::uint8_t> d(4 * kChunk, 0x5A);
        for (std::uint64_t done = 0; done < bytes; done += d.size()) {
            cipher.Encrypt(d, quorvane::kEncryptionPasses);
        }
    });

    const auto rate = [&](const Timing& t) { return static_cast<double>(bytes) / t.wall / kMB; };
    std::printf(
        "raw cipher, 3 passes: 1 thread %.1f MB/s; %d threads %.1f MB/s "
        "(%.1f before, %.1f after the file runs); %.2f processor-s per file\n",
        raw1, threads, rawN, rawBefore, rawAfter, rawCpu.cpu);
    std::printf("EncodeFile to memory: %.2f s, %.1f MB/s, %.2f processor-s\n", toNull.wall,
                rate(toNull), toNull.cpu);
    std::printf("EncodeFile: %.2f s, %.1f MB/s, %.2f processor-s (result %d)\n", encode.wall,
                rate(encode), encode.cpu, enc);
    std::printf("DecodeFile: %.2f s, %.1f MB/s, %.2f processor-s (result %d), round trip %s\n",
                decode.wall, rate(decode), decode.cpu, dec, same ? "identical" : "DIFFERENT");
    std::printf(
        "without trailer: EncodeFile to memory %.1f MB/s, %.2f processor-s; "
        "EncodeFile %.1f MB/s, %.2f processor-s\n",
        rate(toNullUntagged), toNullUntagged.cpu, rate(encodeUntagged), encodeUntagged.cpu);
    std::printf(
        "without trailer: DecodeFile to memory %.1f MB/s, %.2f processor-s; "
        "DecodeFile %.1f MB/s, %.2f processor-s\n",
        rate(decodeNullUntagged), decodeNullUntagged.cpu, rate(decodeUntagged), decodeUntagged.cpu);
    std::printf("with trailer: DecodeFile to memory %.1f MB/s, %.2f processor-s\n",
                rate(decodeNull), decodeNull.cpu);
    std::printf("trailer version 1: EncodeFile to memory %.1f MB/s, %.2f processor-s\n",
                rate(toNullV1), toNullV1.cpu);
    // What the check value costs next to the cipher: the extra processor time of a run with the
    // trailer over the same run without it, against the raw cipher's processor time.
    std::printf(
        "check value cost, EncodeFile to memory, extra processor-s / raw cipher processor-s: "
        "version 2 %.0f%%, version 1 %.0f%%\n",
        100.0 * (toNull.cpu - toNullUntagged.cpu) / rawCpu.cpu,
        100.0 * (toNullV1.cpu - toNullUntagged.cpu) / rawCpu.cpu);
    std::printf(
        "with / without trailer, throughput: EncodeFile %.0f%% (to memory %.0f%%), "
        "DecodeFile %.0f%% (to memory %.0f%%)\n",
        100.0 * rate(encode) / rate(encodeUntagged), 100.0 * rate(toNull) / rate(toNullUntagged),
        100.0 * rate(decode) / rate(decodeUntagged),
        100.0 * rate(decodeNull) / rate(decodeNullUntagged));
    std::printf("peak resident memory of the whole process during the file runs: %.1f MiB\n", peak);
    std::printf(
        "EncodeFile / raw 3-pass cipher on %d threads: %.0f%% (to memory %.0f%%); "
        "processor time raw / EncodeFile: %.0f%%\n",
        threads, 100.0 * rate(encode) / rawN, 100.0 * rate(toNull) / rawN,
        100.0 * rawCpu.cpu / encode.cpu);
    const double encodeRate = rate(encode);
#ifdef QUORVANE_HAVE_GCRYPT
    if (gcry_check_version(nullptr) != nullptr) {
        const auto gcrypt = [&](int n) {
            return Throughput(n, 2.0, 4 * kChunk, [&](std::vector<std::uint8_t>& d) {
                gcry_cipher_hd_t h = nullptr;
                if (gcry_cipher_open(&h, GCRY_CIPHER_GOST28147, GCRY_CIPHER_MODE_ECB, 0) != 0) {
                    return;
                }
                const std::uint8_t k[32] = {1};
                static_cast<void>(gcry_cipher_setkey(h, k, sizeof k));
                for (int p = 0; p < quorvane::kEncryptionPasses; ++p) {
                    static_cast<void>(gcry_cipher_encrypt(h, d.data(), d.size(), nullptr, 0));
                }
                gcry_cipher_close(h);
            });
        };
        const double g1 = gcrypt(1);
        const double gN = gcrypt(threads);
        std::printf("libgcrypt, 3 passes: 1 thread %.1f MB/s; %d threads %.1f MB/s\n", g1, threads,
                    gN);
        std::printf("EncodeFile / libgcrypt 3 passes on %d threads: %.1fx (raw cipher: %.1fx)\n",
                    threads, encodeRate / gN, rawN / gN);
    }
#else
    std::printf("libgcrypt comparison skipped: libgcrypt not installed\n");
#endif
    return same ? 0 : 1;
}
