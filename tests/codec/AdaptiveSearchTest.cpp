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

} // namespace
} // namespace velmar
