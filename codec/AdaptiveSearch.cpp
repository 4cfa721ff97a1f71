#include "codec/AdaptiveSearch.h"

#include "codec/Arithmetic.h"
#include "codec/tables/PitchTables.h"

#include <algorithm>
#include <iterator>

namespace velmar {
namespace {

// Even subframes code their lag absolutely and search it one either side, kept inside the 7-bit
// lag code; odd subframes code -1 .. +2 around the lag their even neighbour chose.
constexpr int kEvenCandidates = 3;
constexpr int kOddCandidates = 4;
constexpr int kLowestEvenBase = kMinPitchLag + 1;
constexpr int kHighestEvenBase = kMaxPitchLag - 1;

// Products of the filtered tap vectors in the column order of PitchTapTable: five correlations
// with the target, five half energies and the ten cross products.
using TapCorrelations = std::array<double, kPitchTableWidth>;

// y[n] = sum over m = 0 .. n of x[m] h[n - m], each sum taken in ascending m. Twelve outputs are
// accumulated side by side, two to a register, over the terms they share, so that the additions
// overlap in the pipeline; each then adds its own remaining terms, still in ascending m.
void CausalConvolution(const double* x, const double* h, double* y) noexcept {
    constexpr int kPairs = 6;
    constexpr int kBlock = 2 * kPairs;
    static_assert(kSubframeSamples % kBlock == 0);
    for (int n = 0; n < kSubframeSamples; n += kBlock) {
        std::array<DoublePair, kPairs> acc{};
        for (int m = 0; m <= n; ++m) {
            const DoublePair xm = {x[m], x[m]};
            const double* hm = h + n - m;
#pragma GCC unroll 6
            for (int p = 0; p < kPairs; ++p) {
                acc[p] += xm * LoadPair(hm + 2 * p);
            }
        }
        std::array<double, kBlock> out{};
        for (int p = 0; p < kPairs; ++p) {
            out[2 * p] = acc[p][0];
            out[2 * p + 1] = acc[p][1];
        }
        // Term m = n + j of output n + r, in ascending j for every r.
#pragma GCC unroll 12
        for (int j = 1; j < kBlock; ++j) {
#pragma GCC unroll 12
            for (int r = j; r < kBlock; ++r) {
                out[r] += x[n + j] * h[r - j];
            }
        }
        std::copy(out.begin(), out.end(), y + n);
    }
}

TapCorrelations CorrelateTaps(ConstSubframeSignal t, const SubframeVector& h, const PitchVector& v) noexcept {
    // y[i] is v[i .. i + 59] convolved with h; as h[0] = 1, each is the next one delayed by a
    // sample plus a scaled copy of h.
    std::array<SubframeVector, kPitchTaps> y{};
    CausalConvolution(v.data() + kPitchTaps - 1, h.data(), y[kPitchTaps - 1].data());
    for (int i = kPitchTaps - 2; i >= 0; --i) {
        y[i][0] = v[i];
        for (int n = 1; n < kSubframeSamples; ++n) {
            y[i][n] = v[i] * h[n] + y[i + 1][n - 1];
        }
    }

    // Every product is its own sum in ascending n; they are accumulated side by side.
    const double* y0 = y[0].data();
    const double* y1 = y[1].data();
    const double* y2 = y[2].data();
    const double* y3 = y[3].data();
    const double* y4 = y[4].data();
    TapCorrelations c{};
    {
        double t0 = 0.0, t1 = 0.0, t2 = 0.0, t3 = 0.0, t4 = 0.0;
        double e0 = 0.0, e1 = 0.0, e2 = 0.0, e3 = 0.0, e4 = 0.0;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const double tn = t[n];
            t0 += tn * y0[n];
            t1 += tn * y1[n];
            t2 += tn * y2[n];
            t3 += tn * y3[n];
            t4 += tn * y4[n];
            e0 += y0[n] * y0[n];
            e1 += y1[n] * y1[n];
            e2 += y2[n] * y2[n];
            e3 += y3[n] * y3[n];
            e4 += y4[n] * y4[n];
        }
        c = {t0, t1, t2, t3, t4, 0.5 * e0, 0.5 * e1, 0.5 * e2, 0.5 * e3, 0.5 * e4};
    }
    double x10 = 0.0, x20 = 0.0, x21 = 0.0, x30 = 0.0, x31 = 0.0;
    double x32 = 0.0, x40 = 0.0, x41 = 0.0, x42 = 0.0, x43 = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        x10 += y1[n] * y0[n];
        x20 += y2[n] * y0[n];
        x21 += y2[n] * y1[n];
        x30 += y3[n] * y0[n];
        x31 += y3[n] * y1[n];
        x32 += y3[n] * y2[n];
        x40 += y4[n] * y0[n];
        x41 += y4[n] * y1[n];
        x42 += y4[n] * y2[n];
        x43 += y4[n] * y3[n];
    }
    const double cross[] = {x10, x20, x21, x30, x31, x32, x40, x41, x42, x43};
    std::copy(std::begin(cross), std::end(cross), c.begin() + 2 * kPitchTaps);
    return c;
}

// Scores of every predictor row for one lag: the dot product of the row with the correlations,
// summed in column order, six rows side by side.
std::array<double, kPitchGainRows> ScoreRows(const TapCorrelations& c) noexcept {
    constexpr int kRowBlock = 6;
    static_assert(kPitchGainRows % kRowBlock == 0);
    std::array<double, kPitchGainRows> scores{};
    for (int row = 0; row < kPitchGainRows; row += kRowBlock) {
        std::array<double, kRowBlock> sum{};
        for (int m = 0; m < kPitchTableWidth; ++m) {
#pragma GCC unroll 6
            for (int r = 0; r < kRowBlock; ++r) {
                sum[r] += c[m] * PitchTapTable[row + r][m];
            }
        }
        std::copy(sum.begin(), sum.end(), scores.begin() + row);
    }
    return scores;
}

} // namespace

void SearchAdaptiveCodebook(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                            FrameParams& params, int j) noexcept {
    const bool even = j % 2 == 0;
    int base = params.pitchLag[j / 2];
    if (even) {
        if (base == kMinPitchLag) {
            base = kLowestEvenBase;
        }
        if (base > kHighestEvenBase) {
            base = kHighestEvenBase;
        }
    }
    const int candidates = even ? kEvenCandidates : kOddCandidates;

    // Each row's score is half the reduction of the squared weighted error it achieves, so the
    // first strictly largest reduction wins and no reduction at all keeps row 0 at the base lag.
    double bestScore = 0.0;
    int bestK = 1;
    int bestRow = 0;
    for (int k = 0; k < candidates; ++k) {
        const PitchVector v = BuildPitchVector(encExcitation, base + k - 1);
        const std::array<double, kPitchGainRows> scores = ScoreRows(CorrelateTaps(t, h, v));
        for (int row = 0; row < kPitchGainRows; ++row) {
            if (scores[row] > bestScore) {
                bestScore = scores[row];
                bestK = k;
                bestRow = row;
            }
        }
    }

    SubframeParams& sub = params.sub[j];
    if (even) {
        params.pitchLag[j / 2] = base + bestK - 1;
        sub.lagDelta = 1;
    } else {
        sub.lagDelta = bestK;
    }
    sub.pitchGainIndex = bestRow;

    const SubframeVector p = PitchContribution(encExcitation, params.pitchLag[j / 2], sub.lagDelta, bestRow);
    SubframeVector filtered{};
    CausalConvolution(p.data(), h.data(), filtered.data());
    for (int n = 0; n < kSubframeSamples; ++n) {
        t[n] = t[n] - filtered[n];
    }
}

} // namespace velmar
