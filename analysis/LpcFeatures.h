#pragma once

// The feature stage: an LPC model of each selected frame by the
// autocorrelation method and the Levinson-Durbin recursion, tested for
// stability and turned into LPC-cepstral coefficients, the frame's feature
// vector. All arithmetic is float32 in the order written below.

#include <cstdint>
#include <span>
#include <string>

namespace quorvane {

// R[k] = (x[0]x[k] + x[1]x[k+1] + ... + x[N-1-k]x[N-1]) / (N - p) for
// k = 0 .. p, N = x.size(). Every lag is divided by the same N - p (275 - 14 =
// 261), not by N or N - k. R must hold p + 1 values. With N <= p there is no
// meaningful divisor and R is all zeros.
void Autocorrelate(std::span<const float> x, std::int32_t p, std::span<float> R);

// Levinson-Durbin recursion of order p on R[0 .. p], starting from E = R[0]:
// fills a[0 .. p] (a[0] = 1) of A(z) = 1 + a1 z^-1 + ... + ap z^-p and the
// reflection coefficients k[1 .. p] (k[0] is left alone). Runs to order p
// always; returns 1 when any |k[i]| >= 1 (unstable model), else 0. A
// coefficient that is not a number (a zero prediction error) also counts as
// unstable. a and k must hold p + 1 values.
std::int32_t LevinsonDurbin(std::span<const float> R, std::int32_t p, std::span<float> a,
                            std::span<float> k);

// LPC cepstrum c[0 .. Q-1] of a[0 .. p]: c0 = 0, c1 = -a1; for n = 2 .. p,
// c[n] = -a[n] - sum_{j=1}^{n-1} (1 - j/n) a[j] c[n-j]; for n > p,
// c[n] = - sum_{j=1}^{p} (1 - j/n) a[j] c[n-j]; terms subtracted in rising j.
void LpcToCepstrum(std::span<const float> a, std::int32_t p, std::span<float> c, std::int32_t Q);

// Feature vector of one windowed frame: the cepstrum c[1 .. cepstrumOrder] of
// its order-lpcOrder model, written to values[0 .. cepstrumOrder-1]. Returns
// false, writing nothing, when the model is unstable.
bool ComputeFeatureVector(std::span<const float> x, std::int32_t lpcOrder,
                          std::int32_t cepstrumOrder, std::span<float> values);

// "Unstable LPC system in the <f> frame", f counting all frames from 0.
std::string UnstableFrameNotice(std::int32_t frameIndex);

}  // namespace quorvane
