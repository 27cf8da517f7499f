#include "analysis/Spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

#include "analysis/AnalysisFrame.h"

namespace quorvane {
namespace {

// A small deterministic generator, so the inputs are the same on every run.
class Lcg {
public:
    explicit Lcg(std::uint32_t seed) : state_(seed) {}
    float Next(float scale) {
        state_ = state_ * 1664525u + 1013904223u;
        return scale * (static_cast<float>(state_ >> 8) / 16777216.0f - 0.5f);
    }

private:
    std::uint32_t state_;
};

// (1/M) sum x[n] e^{+2 pi i k n / M}, in double.
std::vector<std::complex<double>> NaiveTransform(const std::vector<float>& re,
                                                 const std::vector<float>& im) {
    const std::size_t M = re.size();
    std::vector<std::complex<double>> out(M);
    for (std::size_t k = 0; k < M; ++k) {
        std::complex<double> sum = 0.0;
        for (std::size_t n = 0; n < M; ++n) {
            const double angle =
                2.0 * std::numbers::pi * static_cast<double>((k * n) % M) / static_cast<double>(M);
            sum += std::complex<double>(re[n], im[n]) *
                   std::complex<double>(std::cos(angle), std::sin(angle));
        }
        out[k] = sum / static_cast<double>(M);
    }
    return out;
}

TEST(Fft, MatchesTheDirectTransformInDouble) {
    for (const std::int32_t m : {0, 1, 2, 3, 6, 10}) {
        const std::size_t M = std::size_t{1} << m;
        Lcg random(static_cast<std::uint32_t>(17 + m));
        std::vector<float> re(M);
        std::vector<float> im(M);
        for (std::size_t i = 0; i < M; ++i) {
            re[i] = random.Next(2000.0f);
            im[i] = random.Next(2000.0f);
        }
        const auto expected = NaiveTransform(re, im);
        ASSERT_TRUE(Fft(re, im, m));
        for (std::size_t k = 0; k < M; ++k) {
            // float32 rounding over m stages of values up to 1000.
            EXPECT_NEAR(re[k], expected[k].real(), 2e-3) << "m=" << m << " k=" << k;
            EXPECT_NEAR(im[k], expected[k].imag(), 2e-3) << "m=" << m << " k=" << k;
        }
    }
}

// The transform exactly as the system describes it, written out plainly:
// bit-reversed order, then per stage a twiddle that starts at (1, 0) and turns
// by the float32 rotation after each group q of butterflies, then 1/M.
void LiteralTransform(std::vector<float>& re, std::vector<float>& im, int m) {
    const std::size_t M = std::size_t{1} << m;
    for (std::size_t i = 0; i < M; ++i) {
        std::size_t r = 0;
        for (int b = 0; b < m; ++b) {
            r |= ((i >> b) & 1u) << (m - 1 - b);
        }
        if (i < r) {
            std::swap(re[i], re[r]);
            std::swap(im[i], im[r]);
        }
    }
    for (int s = 1; s <= m; ++s) {
        const std::size_t le = std::size_t{1} << s;
        const std::size_t half = le / 2;
        // The rotation in extended precision, rounded to double and then to
        // float: the platform's double cosine and sine must agree with it.
        const double angle = 2.0 * std::numbers::pi / static_cast<double>(le);
        const auto c =
            static_cast<float>(static_cast<double>(std::cos(static_cast<long double>(angle))));
        const auto d =
            static_cast<float>(static_cast<double>(std::sin(static_cast<long double>(angle))));
        float rr = 1.0f;
        float ri = 0.0f;
        for (std::size_t q = 0; q < half; ++q) {
            for (std::size_t u = q; u < M; u += le) {
                const std::size_t l = u + half;
                const float tr = re[l] * rr - im[l] * ri;
                const float ti = im[l] * rr + re[l] * ri;
                re[l] = re[u] - tr;
                im[l] = im[u] - ti;
                re[u] = re[u] + tr;
                im[u] = im[u] + ti;
            }
            const float nr = rr * c - ri * d;
            const float ni = ri * c + rr * d;
            rr = nr;
            ri = ni;
        }
    }
    for (std::size_t i = 0; i < M; ++i) {
        re[i] = re[i] * (1.0f / static_cast<float>(M));
        im[i] = im[i] * (1.0f / static_cast<float>(M));
    }
}

TEST(Fft, IsBitForBitTheDescribedTransform) {
    for (int m = 0; m <= 12; ++m) {
        const std::size_t M = std::size_t{1} << m;
        Lcg random(static_cast<std::uint32_t>(1000 + m));
        std::vector<float> re(M);
        std::vector<float> im(M);
        for (std::size_t i = 0; i < M; ++i) {
            re[i] = random.Next(60000.0f);
            im[i] = m % 2 == 0 ? 0.0f : random.Next(60000.0f);
        }
        std::vector<float> expectedRe = re;
        std::vector<float> expectedIm = im;
        LiteralTransform(expectedRe, expectedIm, m);
        ASSERT_TRUE(Fft(re, im, m));
        EXPECT_EQ(std::memcmp(re.data(), expectedRe.data(), M * sizeof(float)), 0) << "m=" << m;
        EXPECT_EQ(std::memcmp(im.data(), expectedIm.data(), M * sizeof(float)), 0) << "m=" << m;
    }
}

TEST(Fft, TwoPointsByHand) {
    // (1/2) [a + b, a - b]
    std::vector<float> re = {3.0f, 1.0f};
    std::vector<float> im = {0.0f, 2.0f};
    ASSERT_TRUE(Fft(re, im, 1));
    EXPECT_EQ(re, (std::vector<float>{2.0f, 1.0f}));
    EXPECT_EQ(im, (std::vector<float>{1.0f, -1.0f}));
}

TEST(Fft, TurnsPositively) {
    // x[n] = e^{-2 pi i n / 8} lands in bin 1 for the positive exponent (bin 7
    // for the usual negative one).
    std::vector<float> re(8);
    std::vector<float> im(8);
    for (std::size_t n = 0; n < 8; ++n) {
        re[n] = static_cast<float>(std::cos(-2.0 * std::numbers::pi * static_cast<double>(n) / 8));
        im[n] = static_cast<float>(std::sin(-2.0 * std::numbers::pi * static_cast<double>(n) / 8));
    }
    ASSERT_TRUE(Fft(re, im, 3));
    EXPECT_NEAR(re[1], 1.0f, 1e-6f);
    EXPECT_NEAR(im[1], 0.0f, 1e-6f);
    EXPECT_NEAR(re[7], 0.0f, 1e-6f);
    EXPECT_NEAR(im[7], 0.0f, 1e-6f);
}

TEST(Fft, RefusesOrdersBeyondTheTablesAndShortArrays) {
    std::vector<float> re = {1.0f, 2.0f, 3.0f, 4.0f};
    std::vector<float> im = {5.0f, 6.0f, 7.0f, 8.0f};
    const std::vector<float> re0 = re;
    const std::vector<float> im0 = im;
    EXPECT_FALSE(Fft(re, im, 25));
    EXPECT_FALSE(Fft(re, im, -1));
    EXPECT_FALSE(Fft(re, im, 3));  // 8 points do not fit in 4
    EXPECT_EQ(re, re0);
    EXPECT_EQ(im, im0);
}

TEST(PowerSpectrumTest, ASingleWindowedSampleHasAFlatSpectrum) {
    // One sample 0.08 * a at n = 0, zero elsewhere: every bin is (0.08 a / 1024)^2.
    const float a = 1000.0f;
    std::vector<float> x(275, 0.0f);
    x[0] = 0.08f * a;
    std::vector<float> spectrum(kSpectrumSize, -1.0f);
    PowerSpectrum(x, spectrum);
    const float expected = (0.08f * a / 1024.0f) * (0.08f * a / 1024.0f);
    for (const float value : spectrum) {
        EXPECT_FLOAT_EQ(value, expected);
    }
}

TEST(PowerSpectrumTest, IsTheScaledSquaredMagnitudeOfTheZeroPaddedFrame) {
    Lcg random(99);
    std::vector<float> x(275);
    for (float& v : x) {
        v = random.Next(20000.0f);
    }
    std::vector<float> spectrum(kSpectrumSize);
    PowerSpectrum(x, spectrum);
    for (const std::size_t k : {0u, 1u, 37u, 100u, 511u, 512u, 700u, 1023u}) {
        std::complex<double> sum = 0.0;
        for (std::size_t n = 0; n < x.size(); ++n) {
            const double angle = -2.0 * std::numbers::pi * static_cast<double>(k * n % 1024) / 1024;
            sum +=
                static_cast<double>(x[n]) * std::complex<double>(std::cos(angle), std::sin(angle));
        }
        const double expected = std::norm(sum) / (1024.0 * 1024.0);
        EXPECT_NEAR(spectrum[k], expected, 1e-4 * expected + 1e-2) << k;
    }
}

TEST(PowerSpectrumTest, CutsFramesLongerThanTheTransform) {
    std::vector<float> x(1500, 0.0f);
    x[1024] = 5000.0f;  // beyond the transform: ignored
    std::vector<float> spectrum(kSpectrumSize, -1.0f);
    PowerSpectrum(x, spectrum);
    for (const float value : spectrum) {
        EXPECT_EQ(value, 0.0f);
    }
}

}  // namespace
}  // namespace quorvane
