#include "analysis/MelBands.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

namespace quorvane {
namespace {

TEST(Mel, UsesFactor3321WithABaseTenLogarithm) {
    EXPECT_EQ(MelOfFrequency(0.0f), 0.0f);
    EXPECT_NEAR(MelOfFrequency(1000.0f), 999.72f, 0.005f);
    EXPECT_NEAR(MelOfFrequency(3400.0f), 2136.906f, 0.001f);
    // Rounded from double: the nearest float to 3321 * log10(4.4).
    EXPECT_EQ(MelOfFrequency(3400.0f), static_cast<float>(3321.0 * std::log10(4.4)));
}

TEST(Mel, DoesNotDependOnThePlatformLogarithm) {
    // Every bin's mel value again, with the logarithm taken in extended
    // precision and rounded to double; all other steps as in double.
    const BandLayout layout = BuildBandLayout();
    const float spacing = 3400.0f / 511.0f;
    for (std::size_t j = 1; j < 512; ++j) {
        const double f = static_cast<float>(j) * spacing;
        const double inner = 1.0 + 0.001 * f;
        const auto log = static_cast<double>(std::log10(static_cast<long double>(inner)));
        EXPECT_EQ(layout.melOfBin[j], static_cast<float>(3321.0 * log)) << j;
    }
}

class BandLayoutTest : public ::testing::Test {
protected:
    const BandLayout layout = BuildBandLayout();
};

TEST_F(BandLayoutTest, BinsAreSpreadEvenlyUpTo3400Hz) {
    EXPECT_EQ(layout.melOfBin[0], 0.0f);
    const double spacing = 3400.0 / 511.0;
    for (const int j : {1, 100, 255, 511}) {
        const double expected = 3321.0 * std::log10(1.0 + 0.001 * j * spacing);
        EXPECT_NEAR(layout.melOfBin[static_cast<std::size_t>(j)], expected, 1e-3) << j;
    }
    for (std::size_t j = 1; j < layout.melOfBin.size(); ++j) {
        EXPECT_LT(layout.melOfBin[j - 1], layout.melOfBin[j]);
    }
}

TEST_F(BandLayoutTest, SetAHasTwelveBandsCoveringAllBins) {
    const std::array<int, 12> sizes = {20, 23, 25, 28, 33, 36, 42, 47, 53, 60, 68, 77};
    int first = 0;
    for (int b = 0; b < 12; ++b) {
        const BandSpan band =
            BandOfSetA(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        EXPECT_EQ(band.first, first) << b;
        EXPECT_EQ(band.count, sizes[static_cast<std::size_t>(b)]) << b;
        first += sizes[static_cast<std::size_t>(b)];
    }
    EXPECT_EQ(first, 512);  // bin 511 belongs to band 11
}

TEST_F(BandLayoutTest, SetBHasElevenBandsOverBins10To471) {
    const std::array<int, 11> sizes = {21, 24, 27, 30, 35, 39, 44, 49, 57, 64, 72};
    int first = 10;
    for (int b = 0; b < 11; ++b) {
        const BandSpan band =
            BandOfSetB(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        EXPECT_EQ(band.first, first) << b;
        EXPECT_EQ(band.count, sizes[static_cast<std::size_t>(b)]) << b;
        first += sizes[static_cast<std::size_t>(b)];
    }
    EXPECT_EQ(first, 472);
    for (std::size_t j = 0; j < 10; ++j) {
        EXPECT_EQ(layout.weightB[j], 0.0f) << j;
    }
    for (std::size_t j = 472; j < 512; ++j) {
        EXPECT_EQ(layout.weightB[j], 0.0f) << j;
    }
}

// Triangle of cnt weights: 1/h, 2/h, ..., rising to the middle and falling
// back, h = cnt / 2; an odd count peaks at (cnt + 1) / cnt.
std::vector<double> Triangle(int cnt) {
    const double h = cnt / 2.0;
    std::vector<double> w;
    for (int k = 0; k < cnt; ++k) {
        if (k < h) {
            w.push_back((k + 1) / h);
        } else if (k == h) {
            w.push_back(1.0);
        } else {
            w.push_back((cnt - k) / h);
        }
    }
    return w;
}

TEST(TriangleReference, MatchesTheHandWorkedShapes) {
    EXPECT_EQ(Triangle(1), (std::vector<double>{2.0}));
    const auto three = Triangle(3);
    EXPECT_NEAR(three[0], 2.0 / 3, 1e-12);
    EXPECT_NEAR(three[1], 4.0 / 3, 1e-12);
    EXPECT_NEAR(three[2], 2.0 / 3, 1e-12);
    EXPECT_EQ(Triangle(4), (std::vector<double>{0.5, 1.0, 1.0, 0.5}));
}

TEST_F(BandLayoutTest, EveryBandCarriesItsTriangle) {
    for (int b = 0; b < 12; ++b) {
        const BandSpan band =
            BandOfSetA(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        const auto expected = Triangle(band.count);
        for (int k = 0; k < band.count; ++k) {
            EXPECT_NEAR(layout.weightA[static_cast<std::size_t>(band.first + k)],
                        expected[static_cast<std::size_t>(k)], 1e-5)
                << "A band " << b << " k " << k;
        }
    }
    for (int b = 0; b < 11; ++b) {
        const BandSpan band =
            BandOfSetB(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        const auto expected = Triangle(band.count);
        for (int k = 0; k < band.count; ++k) {
            EXPECT_NEAR(layout.weightB[static_cast<std::size_t>(band.first + k)],
                        expected[static_cast<std::size_t>(k)], 1e-5)
                << "B band " << b << " k " << k;
        }
    }
    // Band 1 of set A has 23 bins: its peak is 24/23, not 1.
    EXPECT_NEAR(layout.weightA[20 + 11], 24.0 / 23.0, 1e-5);
    // The middle pair of an even band is exactly 1.
    EXPECT_EQ(layout.weightA[10], 1.0f);
}

TEST_F(BandLayoutTest, BandEnergiesWeighTheRootOfThePowerSpectrum) {
    // A spectrum of 4 everywhere has root 2: each energy is twice the band's weight
    // sum, which for a triangle of cnt bins is h + 1 (even cnt) or h + 1/(2h) (odd).
    std::vector<float> spectrum(1024, 4.0f);
    std::array<float, 12> a{};
    std::array<float, 11> bset{};
    BandEnergies(a, spectrum, layout.weightA, layout.melOfBin, kBandTopFrequency, kBandBins,
                 kBandCount);
    ShiftedBandEnergies(bset, spectrum, layout.weightB, layout.melOfBin, kBandTopFrequency,
                        kBandBins, kBandCount);
    auto triangleSum = [](int cnt) {
        double sum = 0;
        for (const double w : Triangle(cnt)) {
            sum += w;
        }
        return sum;
    };
    EXPECT_NEAR(a[0], 2 * 11.0, 1e-3);  // 20 bins: h = 10, sum 11
    for (int b = 0; b < 12; ++b) {
        const BandSpan band =
            BandOfSetA(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        EXPECT_NEAR(a[static_cast<std::size_t>(b)], 2 * triangleSum(band.count), 2e-3) << b;
    }
    for (int b = 0; b < 11; ++b) {
        const BandSpan band =
            BandOfSetB(layout.melOfBin, kBandTopFrequency, kBandBins, kBandCount, b);
        EXPECT_NEAR(bset[static_cast<std::size_t>(b)], 2 * triangleSum(band.count), 2e-3) << b;
    }
    // Bins 512 .. 1023 never count.
    std::fill(spectrum.begin() + 512, spectrum.end(), 1e12f);
    std::array<float, 12> again{};
    BandEnergies(again, spectrum, layout.weightA, layout.melOfBin, kBandTopFrequency, kBandBins,
                 kBandCount);
    EXPECT_EQ(again, a);
}

TEST_F(BandLayoutTest, OnlyBin511ReachesTheTopBand) {
    std::vector<float> spectrum(1024, 0.0f);
    spectrum[511] = 9.0f;
    std::array<float, 12> a{};
    std::array<float, 11> bset{};
    BandEnergies(a, spectrum, layout.weightA, layout.melOfBin, kBandTopFrequency, kBandBins,
                 kBandCount);
    ShiftedBandEnergies(bset, spectrum, layout.weightB, layout.melOfBin, kBandTopFrequency,
                        kBandBins, kBandCount);
    for (int b = 0; b < 11; ++b) {
        EXPECT_EQ(a[static_cast<std::size_t>(b)], 0.0f);
        EXPECT_EQ(bset[static_cast<std::size_t>(b)], 0.0f);
    }
    // Last of 77 bins (h = 38.5): weight 1/38.5, times the root 3.
    EXPECT_NEAR(a[11], 3.0 / 38.5, 1e-5);
}

TEST(Interleave, AlternatesStartingAndEndingWithSetA) {
    const std::array<float, 3> a = {1.0f, 3.0f, 5.0f};
    const std::array<float, 2> b = {2.0f, 4.0f};
    std::array<float, 6> out{};
    out[5] = -7.0f;
    InterleaveBands(a, b, out, 3);
    EXPECT_EQ(out, (std::array<float, 6>{1.0f, 2.0f, 3.0f, 4.0f, 5.0f, -7.0f}));
}

}  // namespace
}  // namespace quorvane
