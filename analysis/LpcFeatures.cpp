#include "analysis/LpcFeatures.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvane {

void Autocorrelate(std::span<const float> x, std::int32_t p, std::span<float> R) {
    const auto N = static_cast<std::int32_t>(x.size());
    const std::int32_t lags = std::min(p + 1, static_cast<std::int32_t>(R.size()));
    if (N - p <= 0) {
        std::fill(R.begin(), R.begin() + std::max(lags, 0), 0.0f);
        return;
    }
    const auto divisor = static_cast<float>(N - p);
    // All lags are accumulated together, sample by sample: every lag still adds
    // its products in rising order of i, so the sums are the same as lag by lag.
    std::vector<float> sums(static_cast<std::size_t>(std::max(lags, 0)), 0.0f);
    for (std::int32_t i = 0; i < N; ++i) {
        const float xi = x[static_cast<std::size_t>(i)];
        const std::int32_t last = std::min(lags - 1, N - 1 - i);
        for (std::int32_t k = 0; k <= last; ++k) {
            sums[static_cast<std::size_t>(k)] =
                sums[static_cast<std::size_t>(k)] + xi * x[static_cast<std::size_t>(i + k)];
        }
    }
    for (std::int32_t k = 0; k < lags; ++k) {
        R[static_cast<std::size_t>(k)] = sums[static_cast<std::size_t>(k)] / divisor;
    }
}

std::int32_t LevinsonDurbin(std::span<const float> R, std::int32_t p, std::span<float> a,
                            std::span<float> k) {
    const auto size = static_cast<std::size_t>(std::max(p + 1, 1));
    if (p < 1 || R.size() < size || a.size() < size || k.size() < size) {
        return 1;
    }
    std::vector<float> t(size, 0.0f);
    float E = R[0];
    for (std::int32_t i = 1; i <= p; ++i) {
        const auto ui = static_cast<std::size_t>(i);
        float ki = -R[ui];
        for (std::int32_t j = 1; j < i; ++j) {
            ki = ki - a[static_cast<std::size_t>(j)] * R[static_cast<std::size_t>(i - j)];
        }
        ki = ki / E;
        k[ui] = ki;
        t[ui] = ki;
        for (std::int32_t j = 1; j < i; ++j) {
            t[static_cast<std::size_t>(j)] =
                a[static_cast<std::size_t>(j)] + ki * a[static_cast<std::size_t>(i - j)];
        }
        for (std::int32_t j = 1; j <= i; ++j) {
            a[static_cast<std::size_t>(j)] = t[static_cast<std::size_t>(j)];
        }
        E = (1.0f - ki * ki) * E;
    }
    a[0] = 1.0f;
    std::int32_t unstable = 0;
    for (std::int32_t i = 1; i <= p; ++i) {
        // Written as "not below 1" so that a NaN coefficient counts as unstable.
        if (!(std::fabs(k[static_cast<std::size_t>(i)]) < 1.0f)) {
            unstable = 1;
        }
    }
    return unstable;
}

void LpcToCepstrum(std::span<const float> a, std::int32_t p, std::span<float> c, std::int32_t Q) {
    const std::int32_t last = std::min(Q, static_cast<std::int32_t>(c.size())) - 1;
    if (last < 0) {
        return;
    }
    c[0] = 0.0f;
    if (last < 1 || p < 1) {
        std::fill(c.begin() + 1, c.begin() + last + 1, 0.0f);
        return;
    }
    c[1] = -a[1];
    for (std::int32_t n = 2; n <= last; ++n) {
        const auto un = static_cast<std::size_t>(n);
        const auto nf = static_cast<float>(n);
        float cn = n <= p ? -a[un] : 0.0f;
        const std::int32_t terms = n <= p ? n - 1 : p;
        for (std::int32_t j = 1; j <= terms; ++j) {
            const float factor = 1.0f - static_cast<float>(j) / nf;
            cn = cn - factor * a[static_cast<std::size_t>(j)] * c[static_cast<std::size_t>(n - j)];
        }
        c[un] = cn;
    }
}

bool ComputeFeatureVector(std::span<const float> x, std::int32_t lpcOrder,
                          std::int32_t cepstrumOrder, std::span<float> values) {
    if (lpcOrder < 1 || cepstrumOrder < 1) {
        return false;
    }
    const auto order = static_cast<std::size_t>(lpcOrder) + 1;
    std::vector<float> R(order, 0.0f);
    std::vector<float> a(order, 0.0f);
    std::vector<float> k(order, 0.0f);
    std::vector<float> c(static_cast<std::size_t>(cepstrumOrder) + 1, 0.0f);
    Autocorrelate(x, lpcOrder, R);
    if (LevinsonDurbin(R, lpcOrder, a, k) == 1) {
        return false;
    }
    LpcToCepstrum(a, lpcOrder, c, cepstrumOrder + 1);
    const std::size_t n = std::min(values.size(), static_cast<std::size_t>(cepstrumOrder));
    std::copy_n(c.begin() + 1, n, values.begin());
    return true;
}

std::string UnstableFrameNotice(std::int32_t frameIndex) {
    return "Unstable LPC system in the " + std::to_string(frameIndex) + " frame";
}

}  // namespace quorvane
