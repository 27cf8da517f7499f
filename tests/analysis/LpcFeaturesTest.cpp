#include "analysis/LpcFeatures.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace quorvane {
namespace {

TEST(AutocorrelateTest, DividesEveryLagByNMinusP) {
    // x = 1 2 3 4, p = 2, N - p = 2:
    // R0 = (1+4+9+16)/2 = 15, R1 = (2+6+12)/2 = 10, R2 = (3+8)/2 = 5.5.
    const std::vector<float> x = {1.0f, 2.0f, 3.0f, 4.0f};
    std::vector<float> R(3);
    Autocorrelate(x, 2, R);
    EXPECT_EQ(R, (std::vector<float>{15.0f, 10.0f, 5.5f}));
}

TEST(AutocorrelateTest, IsBitForBitTheLagByLagSum) {
    // Each lag summed on its own in rising i, in float32, then divided by N - p.
    std::uint32_t state = 777;
    std::vector<float> x(275);
    for (float& v : x) {
        state = state * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<std::int32_t>(state >> 16) - 32768) * 0.731f;
    }
    std::vector<float> expected(15);
    for (std::size_t k = 0; k < 15; ++k) {
        float sum = 0.0f;
        for (std::size_t i = 0; i + k < x.size(); ++i) {
            sum = sum + x[i] * x[i + k];
        }
        expected[k] = sum / 261.0f;
    }
    std::vector<float> R(15);
    Autocorrelate(x, 14, R);
    EXPECT_EQ(std::memcmp(R.data(), expected.data(), sizeof(float) * 15), 0);
}

TEST(AutocorrelateTest, AFrameNoLongerThanTheOrderGivesZeros) {
    const std::vector<float> x = {1.0f, 2.0f};
    std::vector<float> R(4, 7.0f);
    Autocorrelate(x, 3, R);
    EXPECT_EQ(R, (std::vector<float>{0.0f, 0.0f, 0.0f, 0.0f}));
}

TEST(LevinsonDurbinTest, GeometricAutocorrelationGivesAFirstOrderModel) {
    // R[k] = 0.5^k: k1 = -0.5, all others 0; a1 = -0.5, a2..a14 = 0.
    std::vector<float> R(15);
    for (std::size_t k = 0; k < R.size(); ++k) {
        R[k] = std::ldexp(1.0f, -static_cast<int>(k));
    }
    std::vector<float> a(15, 9.0f);
    std::vector<float> k(15, 9.0f);
    EXPECT_EQ(LevinsonDurbin(R, 14, a, k), 0);
    EXPECT_EQ(a[0], 1.0f);
    EXPECT_EQ(a[1], -0.5f);
    EXPECT_EQ(k[1], -0.5f);
    for (std::size_t i = 2; i < 15; ++i) {
        EXPECT_EQ(a[i], 0.0f) << i;
        EXPECT_EQ(k[i], 0.0f) << i;
    }
}

TEST(LevinsonDurbinTest, RecoversAKnownSecondOrderProcess) {
    // x[n] = 1.3 x[n-1] - 0.6 x[n-2] + e[n]: A(z) = 1 - 1.3 z^-1 + 0.6 z^-2.
    std::uint32_t state = 12345;
    std::vector<float> x(40000);
    double x1 = 0;
    double x2 = 0;
    for (float& v : x) {
        state = state * 1664525u + 1013904223u;
        const double e = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        const double next = 1.3 * x1 - 0.6 * x2 + e;
        v = static_cast<float>(next);
        x2 = x1;
        x1 = next;
    }
    std::vector<float> R(3);
    Autocorrelate(x, 2, R);
    std::vector<float> a(3);
    std::vector<float> k(3);
    EXPECT_EQ(LevinsonDurbin(R, 2, a, k), 0);
    EXPECT_NEAR(a[1], -1.3f, 0.02f);
    EXPECT_NEAR(a[2], 0.6f, 0.02f);
    // Reflection coefficients of that model: k2 = a2, k1 = a1 / (1 + a2).
    EXPECT_NEAR(k[2], 0.6f, 0.02f);
    EXPECT_NEAR(k[1], -1.3f / 1.6f, 0.02f);
}

TEST(LevinsonDurbinTest, AReflectionCoefficientOfMagnitudeOneIsUnstable) {
    std::vector<float> a(3);
    std::vector<float> k(3);
    // R1 = R0 gives k1 = -1 exactly; R1 = -R0 gives k1 = +1.
    EXPECT_EQ(LevinsonDurbin(std::vector<float>{2.0f, 2.0f, 0.0f}, 2, a, k), 1);
    EXPECT_EQ(k[1], -1.0f);
    EXPECT_EQ(LevinsonDurbin(std::vector<float>{2.0f, -2.0f, 0.0f}, 2, a, k), 1);
    EXPECT_EQ(k[1], 1.0f);
    // Beyond 1 in a later order: R = 1, 0, 1.5 gives k2 = -1.5.
    EXPECT_EQ(LevinsonDurbin(std::vector<float>{1.0f, 0.0f, 1.5f}, 2, a, k), 1);
    EXPECT_EQ(k[2], -1.5f);
    // Just inside: R = 1, 0, 0.75 gives k2 = -0.75, stable.
    EXPECT_EQ(LevinsonDurbin(std::vector<float>{1.0f, 0.0f, 0.75f}, 2, a, k), 0);
    // A zero prediction error yields no number; that is unstable too.
    EXPECT_EQ(LevinsonDurbin(std::vector<float>{0.0f, 0.0f, 0.0f}, 2, a, k), 1);
}

TEST(LpcToCepstrumTest, FirstOrderModelGivesPowersOverN) {
    // a1 = -0.5: c[n] = 0.5^n / n.
    std::vector<float> a(15, 0.0f);
    a[0] = 1.0f;
    a[1] = -0.5f;
    std::vector<float> c(23, 9.0f);
    LpcToCepstrum(a, 14, c, 23);
    EXPECT_EQ(c[0], 0.0f);
    for (std::size_t n = 1; n < 23; ++n) {
        const double expected = std::pow(0.5, static_cast<double>(n)) / static_cast<double>(n);
        EXPECT_NEAR(c[n], expected, 1e-6 * expected) << n;
    }
    EXPECT_NEAR(c[1], 0.5f, 1e-7f);
    EXPECT_NEAR(c[2], 0.125f, 1e-7f);
    EXPECT_NEAR(c[3], 0.0416667f, 1e-7f);
    EXPECT_NEAR(c[4], 0.015625f, 1e-7f);
}

TEST(LpcToCepstrumTest, SecondOrderRecursionByHand) {
    // a1 = 0.5, a2 = 0.25, p = 2:
    // c1 = -0.5; c2 = -a2 - (1/2) a1 c1 = -0.125;
    // c3 = -(2/3) a1 c2 - (1/3) a2 c1 = 1/24 + 1/24 = 1/12;
    // c4 = -(3/4) a1 c3 - (1/2) a2 c2 = -1/32 + 1/64 = -1/64.
    const std::vector<float> a = {1.0f, 0.5f, 0.25f};
    std::vector<float> c(5);
    LpcToCepstrum(a, 2, c, 5);
    EXPECT_EQ(c[0], 0.0f);
    EXPECT_EQ(c[1], -0.5f);
    EXPECT_EQ(c[2], -0.125f);
    EXPECT_NEAR(c[3], 1.0f / 12.0f, 1e-7f);
    EXPECT_NEAR(c[4], -1.0f / 64.0f, 1e-7f);
}

TEST(FeatureVectorTest, IsTheCepstrumFromC1) {
    // A decaying exponential frame x[n] = 0.9^n behaves like a first-order model
    // with a1 close to -0.9 (the finite frame shortens the lags a little).
    std::vector<float> x(275);
    for (std::size_t n = 0; n < x.size(); ++n) {
        x[n] = static_cast<float>(1000.0 * std::pow(0.9, static_cast<double>(n)));
    }
    std::vector<float> values(22, -1.0f);
    ASSERT_TRUE(ComputeFeatureVector(x, 14, 22, values));
    EXPECT_NEAR(values[0], 0.9f, 0.01f);
    EXPECT_NEAR(values[1], 0.81f / 2, 0.01f);
    EXPECT_NEAR(values[2], 0.729f / 3, 0.01f);
}

TEST(FeatureVectorTest, UnstableModelsWriteNothing) {
    // A silent frame has a zero prediction error: no model.
    const std::vector<float> x(275, 0.0f);
    std::vector<float> values(22, -1.0f);
    EXPECT_FALSE(ComputeFeatureVector(x, 14, 22, values));
    EXPECT_EQ(values, std::vector<float>(22, -1.0f));
}

TEST(FeatureVectorTest, NoticeNamesTheFrame) {
    EXPECT_EQ(UnstableFrameNotice(57), "Unstable LPC system in the 57 frame");
    EXPECT_EQ(UnstableFrameNotice(0), "Unstable LPC system in the 0 frame");
}

}  // namespace
}  // namespace quorvane
