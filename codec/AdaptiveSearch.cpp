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

} // namespace

SubframeVector SearchAdaptiveCodebook(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
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
        const TapCorrelations c = CorrelateTaps(t, h, v);
        std::array<double, kPitchGainRows> scores;
        Kernels().scoreRows(c.data(), scores.data());
        // The first row of the highest score, if that beats the best so far: what a scan in row
        // order keeping every strictly higher score finds, without a branch per row.
        const int row = FirstHighest(scores);
        if (scores[row] > bestScore) {
            bestScore = scores[row];
            bestK = k;
            bestRow = row;
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
    Kernels().causalConvolution(p.data(), h.data(), filtered.data());
    for (int n = 0; n < kSubframeSamples; ++n) {
        t[n] = t[n] - filtered[n];
    }
    return p;
}

} // namespace velmar
