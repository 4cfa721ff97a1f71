// The codec's numeric conventions in one place: sums of products taken in index order, and the
// rounding and clamping with which doubles become 16-bit samples.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>

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

// Index of the first occurrence of the highest of the values: what a scan in index order that
// keeps every strictly higher value finds, without a branch per value. Values that are not numbers
// never count; if all are such, any index may be returned (no comparison with it succeeds).
template <std::size_t N> int FirstHighest(const std::array<double, N>& values) noexcept {
    static_assert(N % 2 == 0);
    // Lane l keeps the highest of the values at l, l + lanes, ..., two lanes to a register.
    constexpr std::size_t kPairs = N % 8 == 0 ? 4 : (N % 6 == 0 ? 3 : 1);
    constexpr std::size_t kLanes = 2 * kPairs;
    constexpr double kLowest = -std::numeric_limits<double>::infinity();
    DoublePair highest[kPairs];
    for (DoublePair& h : highest) {
        h = DoublePair{kLowest, kLowest};
    }
    for (std::size_t i = 0; i < N; i += kLanes) {
#pragma GCC unroll 4
        for (std::size_t p = 0; p < kPairs; ++p) {
            const DoublePair v = LoadPair(values.data() + i + 2 * p);
            highest[p] = v > highest[p] ? v : highest[p];
        }
    }
    double top = highest[0][0];
    for (std::size_t lane = 1; lane < kLanes; ++lane) {
        const double h = highest[lane / 2][lane % 2];
        top = h > top ? h : top;
    }
    const DoublePair topPair = {top, top};
    for (std::size_t i = 0; i < N; i += 2) {
        const auto equal = LoadPair(values.data() + i) == topPair;
        if ((equal[0] | equal[1]) != 0) {
            return static_cast<int>(equal[0] != 0 ? i : i + 1);
        }
    }
    return 0;
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

// RoundToSample of each of `count` values, two lanes at a time: every lane takes the scalar steps
// (the same addition of a half, the same comparisons), chosen by masks instead of branches, which
// speech, whose sign changes unpredictably, would mispredict half the time.
inline void RoundToSamples(const double* in, std::int16_t* out, std::size_t count) noexcept {
    using Halves = std::int32_t __attribute__((vector_size(2 * sizeof(std::int32_t))));
    const DoublePair half = {0.5, 0.5};
    const DoublePair below = {kRoundsBelowMin, kRoundsBelowMin};
    const DoublePair above = {kRoundsAboveMax, kRoundsAboveMax};
    const DoublePair lowest = {kSampleMin, kSampleMin};
    const DoublePair highest = {kSampleMax, kSampleMax};
    const DoublePair zero = {0.0, 0.0};
    std::size_t n = 0;
    for (; n + 2 <= count; n += 2) {
        const DoublePair v = LoadPair(in + n);
        const DoublePair rounded = v >= zero ? v + half : v - half;
        // Every lane is now a whole number within the 16-bit range, so the conversion is exact.
        const DoublePair r = v < below ? lowest : (v > above ? highest : (v != v ? zero : rounded));
        const Halves whole = __builtin_convertvector(r, Halves);
        out[n] = static_cast<std::int16_t>(whole[0]);
        out[n + 1] = static_cast<std::int16_t>(whole[1]);
    }
    for (; n < count; ++n) {
        out[n] = RoundToSample(in[n]);
    }
}

} // namespace velmar
