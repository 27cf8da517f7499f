#pragma once

// The mel band layout of the frame selection: two interleaved sets of
// triangular filters over the lower 512 bins of the 1024-point spectrum.
// Set A has n bands with edges b*w .. (b+1)*w on the mel scale, set B has n-1
// bands shifted by half a band, w = mel(F) / n. Together they form 2n-1
// filters of width w spaced w/2 apart.

#include <array>
#include <cstdint>
#include <span>

namespace quorvane {

// Frequency given to the last bin used for bands (3400 Hz). The 512 bins are
// spread evenly over 0 .. 3400 Hz whatever the sampling rate.
inline constexpr float kBandTopFrequency = 3400.0f;
// Spectrum bins used for bands (bins 0 .. 511).
inline constexpr std::int32_t kBandBins = 512;
// Bands of set A; set B has one fewer.
inline constexpr std::int32_t kBandCount = 12;
// Interleaved band energies per frame (12 of set A and 11 of set B).
inline constexpr std::int32_t kInterleavedBandCount = 2 * kBandCount - 1;

// 3321 * log10(1 + 0.001 f), computed in double and rounded to float32 so that
// the value does not depend on the single-precision maths library.
// 1000 Hz -> 999.72, 3400 Hz -> 2136.906.
float MelOfFrequency(float f);

// First bin and number of bins of one band. Bins j with
// lower <= melOfBin[j] < upper are members; they are consecutive because
// melOfBin rises with j.
struct BandSpan {
    std::int32_t first = 0;
    std::int32_t count = 0;
};

// Band b of set A (b = 0 .. n-1) or set B (b = 0 .. n-2) over the first B
// bins. The top band of set A also takes the bins lying exactly on its upper
// edge: the last bin, 3400 Hz, maps to exactly n*w in float32, and it belongs
// to that band.
BandSpan BandOfSetA(std::span<const float> melOfBin, float F, std::int32_t B, std::int32_t n,
                    std::int32_t b);
BandSpan BandOfSetB(std::span<const float> melOfBin, float F, std::int32_t B, std::int32_t n,
                    std::int32_t b);

// Fills melOfBin[0 .. B-1] (bin j at frequency j * F/(B-1)) and the set-A
// weights. Each band of cnt bins gets the triangle of a running value:
// h = cnt/2, step = 1/h; v rises by step while k < h, is 1 at k = h and falls by
// step after. Weights are written band after band from the first band's
// first bin. The bands of set A cover every bin from 0 up.
void BuildBandWeights(std::span<float> weights, std::span<float> melOfBin, float F, std::int32_t B,
                      std::int32_t n);

// Set-B weights from the given melOfBin; bins outside set B keep weight 0.
void BuildShiftedBandWeights(std::span<float> weights, std::span<const float> melOfBin, float F,
                             std::int32_t B, std::int32_t n);

// energies[b] = sum over the members j of band b of sqrt(spectrum[j]) *
// weights[j], in float32 in rising j: n energies for set A, n-1 for set B.
void BandEnergies(std::span<float> energies, std::span<const float> spectrum,
                  std::span<const float> weights, std::span<const float> melOfBin, float F,
                  std::int32_t B, std::int32_t n);
void ShiftedBandEnergies(std::span<float> energies, std::span<const float> spectrum,
                         std::span<const float> weights, std::span<const float> melOfBin, float F,
                         std::int32_t B, std::int32_t n);

// out = A[0], B[0], A[1], B[1], ..., A[n-2], B[n-2], A[n-1]: 2n-1 values.
void InterleaveBands(std::span<const float> energiesA, std::span<const float> energiesB,
                     std::span<float> out, std::int32_t n);

// The layout a whole recording shares: mel value and weights of each bin.
struct BandLayout {
    std::array<float, kBandBins> melOfBin{};
    std::array<float, kBandBins> weightA{};
    std::array<float, kBandBins> weightB{};
};

// Builds set A then set B with 3400 Hz, 512 bins and 12 bands.
BandLayout BuildBandLayout();

}  // namespace quorvane
