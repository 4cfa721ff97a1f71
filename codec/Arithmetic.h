// The codec's numeric conventions in one place: sums of products taken in index order, and the
// rounding and clamping with which doubles become 16-bit samples.
#pragma once

#include <cstdint>

namespace velmar {

// Sum of a[i] * b[i] for i = 0 .. n-1, accumulated from 0.0 in index order. Every filter,
// correlation and codebook search is built on it, so its order of summation is part of the
// bit-exact results; it must never be reassociated or vectorised.
inline double DotProduct(const double* a, const double* b, int n) noexcept {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        sum += a[i] * b[i];
    }
    return sum;
}

// Two independent sums held side by side in one SSE2 register: each lane is an ordinary double
// with its own order of summation, so results are those of scalar code. Used where many sums of
// the same shape run at once (correlations over lags, convolutions).
using DoublePair = double __attribute__((vector_size(2 * sizeof(double))));

inline DoublePair LoadPair(const double* p) noexcept {
    DoublePair v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline constexpr double kSampleMax = 32767.0;
inline constexpr double kSampleMin = -32768.0;
// A value beyond these rounds outside the 16-bit range.
inline constexpr double kRoundsAboveMax = 32766.5;
inline constexpr double kRoundsBelowMin = -32767.5;

// Clamps a double to what rounds into the 16-bit range, leaving other values untouched; used for
// the stored excitation histories.
inline double ClampToSampleRange(double v) noexcept {
    if (v < kRoundsBelowMin) {
        return kSampleMin;
    }
    if (v > kRoundsAboveMax) {
        return kSampleMax;
    }
    return v;
}

// Rounds half away from zero and clips to the 16-bit range. A NaN, which no valid filter state
// produces, becomes silence rather than an undefined conversion.
inline std::int16_t RoundToSample(double v) noexcept {
    if (v < kRoundsBelowMin) {
        return INT16_MIN;
    }
    if (v > kRoundsAboveMax) {
        return INT16_MAX;
    }
    if (v != v) {
        return 0;
    }
    return static_cast<std::int16_t>(v >= 0.0 ? v + 0.5 : v - 0.5);
}

} // namespace velmar
