#include "codec/AdaptiveSearch.h"

#include "codec/Arithmetic.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <ostream>

namespace velmar {
namespace {

using History = std::array<double, kExcitationHistory>;

// The row choice must be that of a scan in row order keeping strictly higher scores: ties keep the
// first row (zeros of either sign are a tie), and a score that is not a number never wins.
TEST(AdaptiveSearch, HighestScoreIsItsFirstOccurrenceAndNotANumberNeverWins) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::vector<std::pair<int, double>> set; // rows set; all others -1
        int expected;
    };
    const Case cases[] = {
        {{}, 0},
        {{{41, 5.0}}, 41},
        {{{7, 3.0}, {30, 3.0}}, 7},
        {{{12, 2.0}, {13, 2.5}, {40, 2.5}}, 13},
        {{{0, nan}, {5, 1.0}}, 5},
        {{{3, 1.0}, {4, nan}, {9, 1.0}}, 3},
        {{{2, -0.0}, {6, 0.0}}, 2},
        {{{20, std::numeric_limits<double>::infinity()}, {21, 1e308}}, 20},
    };
    for (const Case& c : cases) {
        std::array<double, kPitchGainRows> scores;
        scores.fill(-1.0);
        for (const auto& [row, value] : c.set) {
            scores[static_cast<std::size_t>(row)] = value;
        }
        EXPECT_EQ(FirstHighest(scores), c.expected) << c.expected;
    }
}

SubframeVector UnitImpulse() {
    SubframeVector h{};
    h[0] = 1.0;
    return h;
}

double Energy(const SubframeVector& t) {
    return std::inner_product(t.begin(), t.end(), t.begin(), 0.0);
}

struct SilentCase {
    int subframe;
    int pitchLag;
    int expectedLag;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const SilentCase& c, std::ostream* os) {
    *os << "subframe " << c.subframe << ", pitch lag " << c.pitchLag << ", expected lag " << c.expectedLag;
}

class SilentHistory : public testing::TestWithParam<SilentCase> {};

TEST_P(SilentHistory, ChoosesNoPredictionAtTheClampedBaseLag) {
    const SilentCase& c = GetParam();
    FrameParams params;
    params.pitchLag = {c.pitchLag, c.pitchLag};
    SubframeVector t{};
    for (int n = 0; n < kSubframeSamples; ++n) {
        t[n] = 100.0 * ((n * 7) % 11) - 500.0;
    }
    const SubframeVector original = t;
    SearchAdaptiveCodebook(t, UnitImpulse(), History{}, params, c.subframe);
    EXPECT_EQ(params.sub[c.subframe].pitchGainIndex, 0);
    EXPECT_EQ(params.sub[c.subframe].lagDelta, 1);
    EXPECT_EQ(params.pitchLag[c.subframe / 2], c.expectedLag);
    EXPECT_EQ(t, original);
}

INSTANTIATE_TEST_SUITE_P(Lags, SilentHistory,
                         testing::Values(SilentCase{0, 18, 19}, SilentCase{2, 18, 19}, SilentCase{0, 60, 60},
                                         SilentCase{2, 140, 140}, SilentCase{0, 141, 140},
                                         SilentCase{2, 142, 140}, SilentCase{1, 18, 18},
                                         SilentCase{3, 141, 141}));

// A random excitation pattern repeated with `period`, and a target that continues it: only lags
// within a sample of the period predict it well.
struct PeriodicCase {
    History past{};
    SubframeVector target{};
};

PeriodicCase Periodic(int period, std::uint32_t seed) {
    test::Rng rng(seed);
    std::uniform_real_distribution<double> dist(-1000.0, 1000.0);
    std::vector<double> pattern(static_cast<std::size_t>(period));
    for (double& v : pattern) {
        v = dist(rng);
    }
    PeriodicCase c;
    for (int n = 0; n < kExcitationHistory; ++n) {
        c.past[n] = pattern[static_cast<std::size_t>(n % period)];
    }
    for (int n = 0; n < kSubframeSamples; ++n) {
        c.target[n] = pattern[static_cast<std::size_t>((kExcitationHistory + n) % period)];
    }
    return c;
}

TEST(AdaptiveSearch, EvenSubframeFindsThePeriodNearItsOpenLoopLag) {
    for (int period : {19, 45, 120, 141}) {
        SCOPED_TRACE(period);
        PeriodicCase c = Periodic(period, test::kDefaultSeed);
        FrameParams params;
        params.pitchLag = {period, kMinPitchLag};
        const double before = Energy(c.target);
        SearchAdaptiveCodebook(c.target, UnitImpulse(), c.past, params, 0);
        EXPECT_NE(params.sub[0].pitchGainIndex, 0);
        EXPECT_LE(std::abs(params.pitchLag[0] - period), 1);
        EXPECT_LT(Energy(c.target), 0.1 * before);
    }
}

TEST(AdaptiveSearch, OddSubframeSearchesAroundTheLagItsEvenNeighbourChose) {
    constexpr int kPeriod = 80;
    for (int chosen : {kPeriod - 2, kPeriod, kPeriod + 1}) {
        SCOPED_TRACE(chosen);
        PeriodicCase c = Periodic(kPeriod, test::kDefaultSeed + 1);
        FrameParams params;
        params.pitchLag = {chosen, kMinPitchLag};
        const double before = Energy(c.target);
        SearchAdaptiveCodebook(c.target, UnitImpulse(), c.past, params, 1);
        EXPECT_EQ(params.pitchLag[0], chosen); // odd subframes never move the frame's lag
        EXPECT_LT(Energy(c.target), 0.1 * before);
    }
    // Far from the period no candidate predicts the random pattern.
    PeriodicCase c = Periodic(kPeriod, test::kDefaultSeed + 1);
    FrameParams params;
    params.pitchLag = {kPeriod / 2 + 7, kMinPitchLag};
    const double before = Energy(c.target);
    SearchAdaptiveCodebook(c.target, UnitImpulse(), c.past, params, 1);
    EXPECT_GT(Energy(c.target), 0.5 * before);
}

// The joint pitch and pulse choice takes the best few (lag, row) pairs further: they must be the
// pairs that leave the least error, best first, led by the plain search's own choice, so that the
// harder search can only match or beat the plain one. Each case: past excitation, target, filter.
TEST(AdaptiveSearch, RankedCandidatesAreTheLeastErrorPairsLedByThePlainChoice) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    struct Case {
        const char* name;
        PeriodicCase signal;
        int subframe;
        int pitchLag;
    };
    std::vector<Case> cases = {{"periodic even", Periodic(57, test::kDefaultSeed), 0, 57},
                               {"periodic odd", Periodic(33, test::kDefaultSeed + 2), 1, 34},
                               {"periodic at the lowest lag", Periodic(18, test::kDefaultSeed + 3), 2, 18},
                               {"unrelated", Periodic(90, test::kDefaultSeed + 4), 3, 40}};
    Case random{"random", {}, 0, 100};
    for (double& v : random.signal.past) {
        v = 3000.0 * dist(rng);
    }
    for (double& v : random.signal.target) {
        v = 3000.0 * dist(rng);
    }
    cases.push_back(random);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SubframeVector h = UnitImpulse();
        for (int n = 1; n < kSubframeSamples; ++n) {
            h[n] = 0.7 * std::pow(0.85, n) * dist(rng);
        }
        FrameParams start;
        start.pitchLag = {c.pitchLag, c.pitchLag};
        const PitchCandidates ranked =
            RankAdaptiveCandidates(c.signal.target, h, c.signal.past, start, c.subframe);
        ASSERT_GE(ranked.count, 1);
        ASSERT_LE(ranked.count, kJointPitchCandidates);

        FrameParams plainParams = start;
        SubframeVector plainTarget = c.signal.target;
        SearchAdaptiveCodebook(plainTarget, h, c.signal.past, plainParams, c.subframe);
        FrameParams firstParams = start;
        SubframeVector firstTarget = c.signal.target;
        ApplyAdaptiveCandidate(firstTarget, h, c.signal.past, firstParams, c.subframe, ranked.list[0]);
        EXPECT_EQ(firstParams, plainParams);
        EXPECT_EQ(firstTarget, plainTarget);

        // Error each (lag, row) pair leaves; those ranked must be the smallest, in order.
        const double before = Energy(c.signal.target);
        const double tolerance = 1e-9 * before;
        const int lags = c.subframe % 2 == 0 ? 3 : 4;
        std::vector<std::vector<double>> error(lags, std::vector<double>(kPitchGainRows));
        for (int k = 0; k < lags; ++k) {
            for (int row = 0; row < kPitchGainRows; ++row) {
                FrameParams params = start;
                SubframeVector t = c.signal.target;
                ApplyAdaptiveCandidate(t, h, c.signal.past, params, c.subframe, {k, row});
                error[k][row] = Energy(t);
            }
        }
        std::vector<std::vector<bool>> listed(lags, std::vector<bool>(kPitchGainRows, false));
        for (int i = 0; i < ranked.count; ++i) {
            const PitchCandidate& p = ranked.list[i];
            ASSERT_FALSE(listed[p.lagOffset][p.row]) << "listed twice";
            listed[p.lagOffset][p.row] = true;
            if (i > 0) {
                EXPECT_LE(error[ranked.list[i - 1].lagOffset][ranked.list[i - 1].row],
                          error[p.lagOffset][p.row] + tolerance);
                EXPECT_LT(error[p.lagOffset][p.row], before); // only pairs that predict something
            }
        }
        const PitchCandidate& last = ranked.list[ranked.count - 1];
        for (int k = 0; k < lags; ++k) {
            for (int row = 0; row < kPitchGainRows; ++row) {
                if (listed[k][row]) {
                    continue;
                }
                if (ranked.count == kJointPitchCandidates) {
                    EXPECT_GE(error[k][row] + tolerance, error[last.lagOffset][last.row]) << k << " " << row;
                } else {
                    EXPECT_GE(error[k][row] + tolerance, before)
                        << k << " " << row; // a short list missed none
                }
            }
        }
    }
}

// Nothing to predict: the list is the plain search's choice alone, row 0 at the frame's lag.
TEST(AdaptiveSearch, SilentHistoryRanksOnlyTheNoPredictionChoice) {
    SubframeVector t{};
    t[3] = 500.0;
    FrameParams params;
    params.pitchLag = {60, 60};
    const PitchCandidates ranked = RankAdaptiveCandidates(t, UnitImpulse(), History{}, params, 0);
    ASSERT_EQ(ranked.count, 1);
    EXPECT_EQ(ranked.list[0].lagOffset, 1);
    EXPECT_EQ(ranked.list[0].row, 0);
}

} // namespace
} // namespace velmar
