#include "cipher/GostFast.h"

#include <cstddef>

#include "cipher/GostFastAvx2.h"
#include "cipher/GostFastAvx512.h"
#include "files/Secret.h"

namespace quorvane {

namespace {

constexpr std::size_t kInterleave = 8;  // independent blocks per round step (hides load latency)

std::uint32_t LoadWord(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

void StoreWord(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline std::uint32_t Round(const GostFast::Prepared& p, std::uint32_t x) {
    return p.byteRound[0][x & 0xFFu] ^ p.byteRound[1][(x >> 8) & 0xFFu] ^
           p.byteRound[2][(x >> 16) & 0xFFu] ^ p.byteRound[3][x >> 24];
}

// N blocks at once: the rounds of different blocks are independent, so their table loads
// overlap. After each pass word 0 holds N2, which is N1 of the next pass.
template <std::size_t N>
void RunGroup(const GostFast::Prepared& p, std::uint8_t* data, int passes,
              const std::uint32_t* keys) {
    std::uint32_t n1[N];
    std::uint32_t n2[N];
    for (std::size_t b = 0; b < N; ++b) {
        n1[b] = LoadWord(data + 8 * b);
        n2[b] = LoadWord(data + 8 * b + 4);
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (int j = 0; j < kGostRounds; j += 2) {
            const std::uint32_t k1 = keys[j];
            const std::uint32_t k2 = keys[j + 1];
            // Unrolled so the halves stay in registers.
#pragma GCC unroll 8
            for (std::size_t b = 0; b < N; ++b) {
                n2[b] ^= Round(p, n1[b] + k1);
            }
#pragma GCC unroll 8
            for (std::size_t b = 0; b < N; ++b) {
                n1[b] ^= Round(p, n2[b] + k2);
            }
        }
#pragma GCC unroll 8
        for (std::size_t b = 0; b < N; ++b) {
            const std::uint32_t t = n1[b];
            n1[b] = n2[b];
            n2[b] = t;
        }
    }
    for (std::size_t b = 0; b < N; ++b) {
        StoreWord(data + 8 * b, n1[b]);
        StoreWord(data + 8 * b + 4, n2[b]);
    }
}

bool CpuHasAvx2() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    __builtin_cpu_init();  // needed when called before main (static initialisers)
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

bool CpuHasAvx512() {
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
    __builtin_cpu_init();
    // The kernel's tail runs on the AVX2 path.
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

const char* GostPathName(GostPath path) {
    switch (path) {
        case GostPath::Portable:
            return "portable";
        case GostPath::Avx2:
            return "AVX2";
        case GostPath::Avx512:
            return "AVX-512";
    }
    return "unknown";
}

GostFast::GostFast(const GostKey& key, const SubstitutionTable& table)
    : GostFast(key, table, Best()) {}

GostFast::GostFast(const GostKey& key, const SubstitutionTable& table, GostPath path)
    : prepared_{}, path_(Supported(path) ? path : GostPath::Portable) {
    for (int j = 0; j < kGostRounds; ++j) {
        // Encryption: K0..K7 three times, then K7..K0. Decryption: K0..K7, then K7..K0 three
        // times.
        prepared_.encryptKeys[j] = key[j < 24 ? j % 8 : 31 - j];
        prepared_.decryptKeys[j] = key[j < 8 ? j : 7 - j % 8];
    }
    for (int position = 0; position < 4; ++position) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            // The substituted nibbles occupy disjoint bits and the rotation distributes over
            // XOR, so each input byte's share of the round value can be tabled on its own.
            const std::uint32_t lo = table[kGostTableRowSize * (2 * position) + (b & 0xFu)];
            const std::uint32_t hi = table[kGostTableRowSize * (2 * position + 1) + (b >> 4)];
            const std::uint32_t substituted = (lo | (hi << 4)) << (8 * position);
            prepared_.byteRound[position][b] = (substituted << 11) | (substituted >> 21);
        }
    }
    prepared_.table = table;
}

GostFast::~GostFast() {
    WipeMemory(prepared_.encryptKeys, sizeof prepared_.encryptKeys);
    WipeMemory(prepared_.decryptKeys, sizeof prepared_.decryptKeys);
}

bool GostFast::Supported(GostPath path) {
    switch (path) {
        case GostPath::Portable:
            return true;
        case GostPath::Avx2:
            return CpuHasAvx2();
        case GostPath::Avx512:
            return CpuHasAvx512();
    }
    return false;
}

GostPath GostFast::Best() {
    if (Supported(GostPath::Avx512)) {
        return GostPath::Avx512;
    }
    return Supported(GostPath::Avx2) ? GostPath::Avx2 : GostPath::Portable;
}

void GostFast::Encrypt(std::span<std::uint8_t> data, int passes) const {
    Run(data, passes, prepared_.encryptKeys);
}

void GostFast::Decrypt(std::span<std::uint8_t> data, int passes) const {
    Run(data, passes, prepared_.decryptKeys);
}

void GostFast::Run(std::span<std::uint8_t> data, int passes, const std::uint32_t* keys) const {
    std::size_t blocks = data.size() / kGostBlockBytes;
    std::uint8_t* p = data.data();
    if (path_ == GostPath::Avx512 && blocks >= kAvx512GroupBlocks) {
        const std::size_t groups = blocks / kAvx512GroupBlocks;
        GostAvx512Run(p, groups, passes, keys, prepared_.table);
        p += groups * kAvx512GroupBlocks * kGostBlockBytes;
        blocks -= groups * kAvx512GroupBlocks;
    }
    // The tail of the wide path, or the whole run of the AVX2 path.
    if ((path_ == GostPath::Avx2 || path_ == GostPath::Avx512) && blocks >= kAvx2GroupBlocks) {
        const std::size_t groups = blocks / kAvx2GroupBlocks;
        GostAvx2Run(p, groups, passes, keys, prepared_.table);
        p += groups * kAvx2GroupBlocks * kGostBlockBytes;
        blocks -= groups * kAvx2GroupBlocks;
    }
    for (; blocks >= kInterleave; blocks -= kInterleave) {
        RunGroup<kInterleave>(prepared_, p, passes, keys);
        p += kInterleave * kGostBlockBytes;
    }
    for (; blocks > 0; --blocks) {
        RunGroup<1>(prepared_, p, passes, keys);
        p += kGostBlockBytes;
    }
}

}  // namespace quorvane
