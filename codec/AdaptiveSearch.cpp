#include "codec/AdaptiveSearch.h"

#include "codec/Arithmetic.h"
#include "codec/Kernels.h"
#include "codec/tables/PitchTables.h"

#include <algorithm>

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

TapCorrelations CorrelateTaps(ConstSubframeSignal t, const SubframeVector& h, const PitchVector& v) noexcept {
    // y[i] is v[i .. i + 59] filtered by h.
    std::array<SubframeVector, kPitchTaps> y;
    const KernelSet& kernels = Kernels();
    kernels.tapResponses(v.data(), h.data(), y[0].data());
    TapCorrelations c;
    kernels.correlateTaps(t.data(), y[0].data(), c.data());
    return c;
}

// First searched lag of subframe j, one below the frame's lag (even subframes: kept inside the
// lag code), and the number of lags searched from it.
int SearchBase(const FrameParams& params, int j) noexcept {
    int base = params.pitchLag[j / 2];
    if (j % 2 == 0) {
        if (base == kMinPitchLag) {
            base = kLowestEvenBase;
        }
        if (base > kHighestEvenBase) {
            base = kHighestEvenBase;
        }
    }
    return base;
}

int SearchedLags(int j) noexcept {
    return j % 2 == 0 ? kEvenCandidates : kOddCandidates;
}

} // namespace

SubframeVector ApplyAdaptiveCandidate(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                                      FrameParams& params, int j, PitchCandidate c) noexcept {
    SubframeParams& sub = params.sub[j];
    if (j % 2 == 0) {
        params.pitchLag[j / 2] = SearchBase(params, j) + c.lagOffset - 1;
        sub.lagDelta = 1;
    } else {
        sub.lagDelta = c.lagOffset;
    }
    sub.pitchGainIndex = c.row;

    const SubframeVector p = PitchContribution(encExcitation, params.pitchLag[j / 2], sub.lagDelta, c.row);
    SubframeVector filtered{};
    Kernels().causalConvolution(p.data(), h.data(), filtered.data());
    for (int n = 0; n < kSubframeSamples; ++n) {
        t[n] = t[n] - filtered[n];
    }
    return p;
}

SubframeVector SearchAdaptiveCodebook(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                                      FrameParams& params, int j) noexcept {
    const int base = SearchBase(params, j);
    const int candidates = SearchedLags(j);

    // Each row's score is half the reduction of the squared weighted error it achieves, so the
    // first strictly largest reduction wins and no reduction at all keeps row 0 at the base lag.
    double bestScore = 0.0;
    PitchCandidate best;
    for (int k = 0; k < candidates; ++k) {
        const PitchVector v = BuildPitchVector(encExcitation, base + k - 1);
        const TapCorrelations c = CorrelateTaps(t, h, v);
        std::array<double, kPitchGainRows> scores;
        Kernels().scoreRows(c.data(), scores.data());
        // The first row of the highest score, if that beats the best so far: what a scan in row
        // order keeping every strictly higher score finds, without a branch per row.
        const int row = FirstHighest(scores);
        if (scores[row] > bestScore) {
            bestScore = scores[row];
            best = {k, row};
        }
    }
    return ApplyAdaptiveCandidate(t, h, encExcitation, params, j, best);
}

PitchCandidates RankAdaptiveCandidates(ConstSubframeSignal t, const SubframeVector& h,
                                       ExcitationPast encExcitation, const FrameParams& params,
                                       int j) noexcept {
    const int base = SearchBase(params, j);
    const int lags = SearchedLags(j);
    PitchCandidates ranked;
    std::array<double, kJointPitchCandidates> rankedScores{};
    for (int k = 0; k < lags; ++k) {
        const PitchVector v = BuildPitchVector(encExcitation, base + k - 1);
        const TapCorrelations c = CorrelateTaps(t, h, v);
        std::array<double, kPitchGainRows> scores;
        Kernels().scoreRows(c.data(), scores.data());
        for (int row = 0; row < kPitchGainRows; ++row) {
            const double score = scores[row];
            // Only a strictly higher score moves ahead of one already kept: ties keep scan order.
            if (!(score > 0.0) || (ranked.count == kJointPitchCandidates && !(score > rankedScores.back()))) {
                continue;
            }
            int at = ranked.count < kJointPitchCandidates ? ranked.count++ : kJointPitchCandidates - 1;
            while (at > 0 && score > rankedScores[at - 1]) {
                rankedScores[at] = rankedScores[at - 1];
                ranked.list[at] = ranked.list[at - 1];
                --at;
            }
            rankedScores[at] = score;
            ranked.list[at] = {k, row};
        }
    }
    if (ranked.count == 0) {
        ranked.list[0] = PitchCandidate{};
        ranked.count = 1;
    }
    return ranked;
}

} // namespace velmar
