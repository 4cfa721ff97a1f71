#include "codec/PulseSearch.h"

#include "codec/Arithmetic.h"
#include "codec/tables/PulseTables.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

SubframeVector UnitImpulse() {
    SubframeVector h{};
    h[0] = 1.0;
    return h;
}

SubframeVector DecayingResponse(test::Rng& rng) {
    std::uniform_real_distribution<double> dist(-0.5, 0.5);
    SubframeVector h{};
    h[0] = 1.0;
    for (int n = 1; n < kSubframeSamples; ++n) {
        h[n] = 0.9 * h[n - 1] + dist(rng);
    }
    return h;
}

SubframeVector RandomTarget(test::Rng& rng, double amplitude) {
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    SubframeVector t{};
    for (double& v : t) {
        v = dist(rng);
    }
    return t;
}

TEST(PulseSearch, ZeroTargetKeepsTheFirstPositionsWithPositiveSignsAndTheSmallestAmplitude) {
    SubframeVector t{};
    SubframeVector h = UnitImpulse();
    std::int16_t budget = kPulseSearchBudget;
    const PulseCode code = CodePulses(t, h, kSubframeSamples, t, 0.0, budget);
    EXPECT_EQ(code.positions, 0);
    EXPECT_EQ(code.signs, 15);
    EXPECT_EQ(code.gainIndex, 0);
    EXPECT_EQ(budget, 2 * kPulseSearchBudget); // nothing passed the threshold
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(t[n], (n == 0 || n == 2 || n == 4 || n == 6) ? 2.0 : 0.0) << n;
    }
}

TEST(PulseSearch, PositionPastTheSubframeIsChosenWhenItsTrackHasNothingToOffer) {
    // With h a unit impulse every real pulse costs energy 1 while position 60 costs nothing.
    SubframeVector t{};
    t[0] = 10.0;
    t[2] = 10.0;
    t[6] = 10.0;
    SubframeVector h = UnitImpulse();
    std::int16_t budget = kPulseSearchBudget;
    const PulseCode code = CodePulses(t, h, kSubframeSamples, t, 0.0, budget);
    EXPECT_EQ(code.positions, 7 << 6);
    EXPECT_EQ(code.signs, 15); // the absent pulse counts as positive
    const double amplitude = PulseGainTable[code.gainIndex];
    EXPECT_EQ(amplitude, 8.0); // the optimal 10 lies halfway between 8 and 12: the lower wins
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(t[n], (n == 0 || n == 2 || n == 6) ? amplitude : 0.0) << n;
    }
}

TEST(PulseSearch, SignsFollowTheTarget) {
    SubframeVector t{};
    t[8] = -50.0;
    t[10] = 40.0;
    t[20] = -45.0;
    t[22] = 35.0;
    SubframeVector h = UnitImpulse();
    std::int16_t budget = kPulseSearchBudget;
    const PulseCode code = CodePulses(t, h, kSubframeSamples, t, 0.0, budget);
    EXPECT_EQ(code.positions, 1 + (1 << 3) + (2 << 6) + (1 << 9));
    EXPECT_EQ(code.signs, 0b1010);
    EXPECT_LT(t[8], 0.0);
    EXPECT_GT(t[10], 0.0);
    EXPECT_LT(t[20], 0.0);
    EXPECT_GT(t[22], 0.0);
}

TEST(PulseSearch, GainIsTheNearestAmplitudeWithTiesToTheLower) {
    SubframeVector y{};
    y[5] = 1.0;
    struct Case {
        double target;
        int index;
    };
    for (const Case& c : {Case{3.0, 0}, Case{5.0, 1}, Case{5.5, 2}, Case{-100.0, 0}, Case{0.0, 0},
                          Case{1e9, 23}, Case{13246.0, 23}, Case{11205.0, 22}}) {
        SubframeVector t{};
        t[5] = c.target;
        const PulseGain gain = QuantisePulseGain(t, y);
        EXPECT_EQ(gain.index, c.index) << c.target;
        EXPECT_EQ(gain.amplitude, PulseGainTable[c.index]) << c.target;
    }
    // No energy in the filtered pulses: gain 0, the smallest amplitude.
    SubframeVector t{};
    t[5] = 1.0;
    SubframeVector tiny{};
    tiny[5] = 1e-30;
    EXPECT_EQ(QuantisePulseGain(t, tiny).index, 0);
}

// What one subframe's search leaves of the budget, starting from `budget`.
int Remaining(const BackwardTarget& d, const ImpulseCorrelations& rr, const SubframeVector& h, int budget) {
    BackwardTarget dCopy = d;
    ImpulseCorrelations rrCopy = rr;
    auto left = static_cast<std::int16_t>(budget);
    SearchPulses(dCopy, rrCopy, h, left);
    return left;
}

TEST(PulseSearch, BudgetCarriesOverAndRunsOutAfterTheGrantedTriples) {
    // Equal correlations on every even position: all 8 x 8 x 7 triples without the absent third
    // pulse pass the threshold.
    BackwardTarget d{};
    for (int n = 0; n < kSubframeSamples; n += 2) {
        d[n] = 1.0;
    }
    const SubframeVector h = UnitImpulse();
    const ImpulseCorrelations rr = CorrelateImpulse(h);
    constexpr int kAdmitted = 8 * 8 * 7;
    EXPECT_EQ(Remaining(d, rr, h, 480), 480 + kPulseSearchBudget - kAdmitted);
    EXPECT_EQ(Remaining(d, rr, h, 400), 400 + kPulseSearchBudget - kAdmitted);
    EXPECT_EQ(Remaining(d, rr, h, 0), 0);
    EXPECT_EQ(Remaining(d, rr, h, 300), 0);

    // A random target: each unit carried over is one more unit left when the search completes.
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    const SubframeVector hr = DecayingResponse(rng);
    const SubframeVector t = RandomTarget(rng, 1000.0);
    const BackwardTarget dr = BackwardFilterTarget(hr, t);
    const ImpulseCorrelations rrr = CorrelateImpulse(hr);
    const int admitted = 480 + kPulseSearchBudget - Remaining(dr, rrr, hr, 480);
    ASSERT_GT(admitted, 0);
    for (int budget : {0, 7, 120, 360}) {
        EXPECT_EQ(Remaining(dr, rrr, hr, budget), std::max(0, budget + kPulseSearchBudget - admitted))
            << budget;
    }
}

TEST(PulseSearch, ExcitationIsThePulseVectorTheDecoderRebuilds) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    for (int row : {0, 8, 13, 22, 29, 35}) { // with and without sharpening
        for (int lag : {18, 40, 57, 100}) {
            SCOPED_TRACE(testing::Message() << "row " << row << " lag " << lag);
            FrameParams params;
            params.pitchLag = {lag, lag};
            params.sub[2].lagDelta = 1;
            params.sub[2].pitchGainIndex = row;
            SubframeVector t = RandomTarget(rng, 3000.0);
            SubframeVector h = DecayingResponse(rng);
            std::int16_t budget = kPulseSearchBudget;
            SearchFixedCodebook(t, h, params, 2, budget);
            EXPECT_EQ(t, BuildPulseVector(params.sub[2], lag));
        }
    }
}

TEST(PulseSearch, CorrelationsAndBackwardFilterMatchTheirDefinitions) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    const SubframeVector h = DecayingResponse(rng);
    const SubframeVector t = RandomTarget(rng, 1000.0);
    auto r = [&h](int p, int q) {
        double sum = 0.0;
        for (int n = std::max(p, q); n < kSubframeSamples; ++n) {
            sum += h[n - p] * h[n - q];
        }
        return sum;
    };
    const ImpulseCorrelations rr = CorrelateImpulse(h);
    for (int track = 0; track < kPulsesPerSubframe; ++track) {
        for (int k = 0; k < kTrackPositions; ++k) {
            const int p = 8 * k + 2 * track;
            EXPECT_EQ(rr.diagonal[track][k], r(p, p)) << p;
        }
    }
    for (int pair = 0; pair < kTrackPairs; ++pair) {
        for (int k = 0; k < kTrackPositions; ++k) {
            for (int m = 0; m < kTrackPositions; ++m) {
                const int p = 8 * k + 2 * kTrackPairOrder[pair][0];
                const int q = 8 * m + 2 * kTrackPairOrder[pair][1];
                EXPECT_EQ(rr.cross[pair][k][m], r(p, q)) << p << "," << q;
            }
        }
    }
    EXPECT_EQ(rr.diagonal[2][7], 0.0); // position 60
    const BackwardTarget d = BackwardFilterTarget(h, t);
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(d[n], DotProduct(t.data() + n, h.data(), kSubframeSamples - n)) << n;
    }
}

} // namespace
} // namespace velmar
