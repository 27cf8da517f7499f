#pragma once

// The system's own radix-2 transform and the power spectrum of one frame.
// Everything is float32; the rotation tables hold float32 roundings of the
// double-precision cosine and sine, so results do not depend on the
// platform's single-precision maths library.

#include <cstdint>
#include <span>

namespace quorvane {

// Largest transform order the rotation tables cover (2^24 points).
inline constexpr std::int32_t kMaxFftOrder = 24;

// In-place decimation-in-time transform of M = 2^m complex points: bit-reversed
// reordering, then per stage s = 1 .. m a twiddle that starts at (1, 0) and turns
// by the tabled rotation (cos, sin)(2*pi / 2^s) after each group of butterflies,
// then scaling by 1/M. It computes (1/M) sum x[n] e^{+2*pi*i*k*n/M}.
// Returns false, changing nothing, when m is outside 0 .. 24 or either array
// holds fewer than 2^m values.
bool Fft(std::span<float> re, std::span<float> im, std::int32_t m);

// Power spectrum of the samples x, zero-padded (or cut) to 1024 points:
// spectrum[k] = re[k]^2 + im[k]^2 of the scaled transform, i.e. |X[k]|^2 / 1024^2.
// spectrum must hold 1024 values.
void PowerSpectrum(std::span<const float> x, std::span<float> spectrum);

}  // namespace quorvane
