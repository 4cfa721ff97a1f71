// The search over the sets of four pulses, shared by the kernel files: each builds its own copy
// with its own instruction set (internal linkage), and supplies the test of the third pulses.
#pragma once

#include "codec/CodecConstants.h"

namespace velmar {

// The impulse correlations as the search reads them: diagonal[4][8], then cross[6][8][8] for the
// track pairs 01, 02, 03, 12, 13, 23; the search folds the signs of the positions and the doubling
// of the cross terms in itself.
inline constexpr int kPulseDiagonalValues = kPulsesPerSubframe * kTrackPositions;
inline constexpr int kPulsePair01 = 0;
inline constexpr int kPulsePair02 = 1;
inline constexpr int kPulsePair03 = 2;
inline constexpr int kPulsePair12 = 3;
inline constexpr int kPulsePair13 = 4;
inline constexpr int kPulsePair23 = 5;
inline constexpr int kPulsePairTracks[6][2] = {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}};

namespace {

// Tries the first `time` sets whose first three pulses pass `theta`, in order of the codes k0, k1,
// k2, each with the even codes of the fourth track; keeps the first set of highest P^2 / A in
// `best` and returns the budget left. trackSign[t][k] is the sign of track t's position k (d has
// it folded in already). `admit(p1, d2, theta)` has bit k set where p1 + d2[k] > theta.
template <typename Admit>
inline int SearchPulseSetsCore(const double* d, const double* rr, const double* trackSign, double theta,
                               int time, int* best, Admit admit) noexcept {
    using Quad = double __attribute__((vector_size(4 * sizeof(double))));
    using Octet = double __attribute__((vector_size(8 * sizeof(double))));
    constexpr int kCodes = kTrackPositions;
    static_assert(kCodes == 8 && kPulsesPerSubframe == 4);
    const double* diag = rr;
    // The cross terms appear twice in the energy of a pulse set: r(p, q) 2 sign(p) sign(q), a row
    // at a time.
    double cross[kTrackPairs * kCodes * kCodes];
    for (int pair = 0; pair < kTrackPairs; ++pair) {
        Octet signB;
        __builtin_memcpy(&signB, trackSign + kCodes * kPulsePairTracks[pair][1], sizeof signB);
        for (int k = 0; k < kCodes; ++k) {
            const double twiceSignA = 2.0 * trackSign[kCodes * kPulsePairTracks[pair][0] + k];
            const int at = (pair * kCodes + k) * kCodes;
            Octet r;
            __builtin_memcpy(&r, rr + kPulseDiagonalValues + at, sizeof r);
            r *= twiceSignA * signB;
            __builtin_memcpy(cross + at, &r, sizeof r);
        }
    }
    auto row = [&cross](int pair, int k) -> const double* { return cross + (pair * kCodes + k) * kCodes; };
    // Track t's values by code (position 8k + 2t); the fourth track's searched codes (the even
    // ones) packed together so that its four candidates are scored side by side.
    double dt[3][kCodes];
    for (int t = 0; t < 3; ++t) {
        for (int k = 0; k < kCodes; ++k) {
            dt[t][k] = d[kCodes * k + 2 * t];
        }
    }
    // (Written through a reference: a vector returned by value would change the ABI where the
    // file is not built for AVX.)
    auto fourth = [](const double* values, Quad& out) { out = Quad{values[0], values[2], values[4], values[6]}; };
    const Quad d3 = {d[6], d[22], d[38], d[54]};
    Quad diag3;
    fourth(diag + 3 * kCodes, diag3);
    Quad cross03[kCodes];
    Quad cross13[kCodes];
    Quad cross23[kCodes];
    for (int k = 0; k < kCodes; ++k) {
        fourth(row(kPulsePair03, k), cross03[k]);
        fourth(row(kPulsePair13, k), cross13[k]);
        fourth(row(kPulsePair23, k), cross23[k]);
    }
    double bestCorrelation2 = 0.0;
    double bestEnergy = 1.0;
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        best[t] = 0;
    }
    for (int k0 = 0; k0 < kCodes && time > 0; ++k0) {
        const double p0 = dt[0][k0];
        const double a0 = diag[k0];
        for (int k1 = 0; k1 < kCodes && time > 0; ++k1) {
            const double p1 = p0 + dt[1][k1];
            const double a1 = a0 + diag[kCodes + k1] + row(kPulsePair01, k0)[k1];
            // The third pulses that pass, found without a branch per candidate (which would be
            // unpredictable); they are then tried in ascending order.
            unsigned admitted = admit(p1, dt[2], theta);
            while (admitted != 0 && time > 0) {
                const int k2 = __builtin_ctz(admitted);
                admitted &= admitted - 1;
                const double p2 = p1 + dt[2][k2];
                const double a2 =
                    a1 + diag[2 * kCodes + k2] + row(kPulsePair12, k1)[k2] + row(kPulsePair02, k0)[k2];
                const Quad p3 = p2 + d3;
                const Quad p3Squared = p3 * p3;
                const Quad a3 = a2 + diag3 + cross03[k0] + cross13[k1] + cross23[k2];
#pragma GCC unroll 4
                for (int c = 0; c < 4; ++c) {
                    if (p3Squared[c] * bestEnergy > bestCorrelation2 * a3[c]) {
                        bestCorrelation2 = p3Squared[c];
                        bestEnergy = a3[c];
                        best[0] = k0;
                        best[1] = k1;
                        best[2] = k2;
                        best[3] = 2 * c;
                    }
                }
                --time;
            }
        }
    }
    return time;
}

} // namespace
} // namespace velmar
