#include "codec/Weighting.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar {
namespace {

using Buffer = std::array<double, kWeightedBufferSize>;

// Unit pulses every `period` samples over the whole buffer, alternately of heights a and b.
Buffer PulseTrain(int period, double a, double b) {
    Buffer buf{};
    for (int n = 0, k = 0; n < kWeightedBufferSize; n += period, ++k) {
        buf[n] = k % 2 == 0 ? a : b;
    }
    return buf;
}

TEST(Weighting, SilenceGivesTheShortestLagAndNoHarmonicWeight) {
    const Buffer silent{};
    EXPECT_EQ(EstimateOpenLoopPitch(silent, kWeightedHistory), kOpenLoopMinLag);
    EXPECT_EQ(EstimateOpenLoopPitch(silent, kWeightedHistory + kOpenLoopWindow), kOpenLoopMinLag);
    const HarmonicWeight hw = FindHarmonicWeight(silent, kWeightedHistory, 57);
    EXPECT_EQ(hw.lag, 57);
    EXPECT_EQ(hw.gain, 0.0);

    std::array<double, kFrameSamples> x{};
    Buffer buf{};
    for (int n = 0; n < kWeightedBufferSize; ++n) {
        buf[n] = std::sin(0.3 * n) * 1000.0;
    }
    ApplyHarmonicWeight(x, buf, kSubframeSamples, {30, 0.0});
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(x[kSubframeSamples + n], buf[kWeightedHistory + kSubframeSamples + n]);
    }
}

TEST(Weighting, EqualMultiplesKeepTheShorterLag) {
    // Every multiple of 25 correlates equally well with a uniform pulse train.
    for (int start : {kWeightedHistory, kWeightedHistory + kOpenLoopWindow}) {
        EXPECT_EQ(EstimateOpenLoopPitch(PulseTrain(25, 1.0, 1.0), start), 25) << start;
    }
}

TEST(Weighting, DoubleLagMustWinByMoreThanAThird) {
    // Alternating heights a, b: lag 2P beats lag P by ((a^2 + b^2) / 2)^2 / (ab)^2.
    EXPECT_EQ(EstimateOpenLoopPitch(PulseTrain(30, 1.0, 0.9), kWeightedHistory), 30);  // 1.01: too little
    EXPECT_EQ(EstimateOpenLoopPitch(PulseTrain(30, 1.0, 0.5), kWeightedHistory), 60);  // 1.56: enough
    EXPECT_EQ(EstimateOpenLoopPitch(PulseTrain(30, 1.0, 0.65), kWeightedHistory), 30); // 1.21
}

// Only lags 120 and `later` correlate positively with the window (a unit pulse at its end): lag 120
// with 3 over energy 12, the later lag with h over energy h^2. For h = 1 the later lag beats 120 by
// exactly 4/3, which is not enough once it lies 18 or more beyond; 17 beyond, any gain wins.
TEST(Weighting, OpenLoopLagEighteenBeyondTheBestMustBeatItByMoreThanAThird) {
    struct Case {
        int later;
        double height;
        int expected;
    };
    const Case cases[] = {
        {137, 1.0, 137}, // 17 beyond: a better ratio is enough
        {138, 1.0, 120}, // 18 beyond: exactly 4/3 is not more than 4/3
        {138, 2.0, 138}, // 18 beyond, 1.6 times better
    };
    for (const Case& c : cases) {
        const int start = kWeightedHistory;
        Buffer buf{};
        buf[start + kOpenLoopWindow - 1] = 1.0;
        buf[start + kOpenLoopWindow - 1 - 120] = 3.0;
        buf[start + kOpenLoopWindow - 1 - c.later] = c.height;
        // Energy for lag 120 only: these correlate negatively (lags 124 and 125).
        buf[start - 5] = -1.0;
        buf[start - 6] = -1.0;
        EXPECT_EQ(EstimateOpenLoopPitch(buf, start), c.expected) << c.later << " " << c.height;
    }
}

TEST(Weighting, OpenLoopLagCoversItsWholeRange) {
    for (int period : {18, 19, 71, 100, 141, 142}) {
        const Buffer buf = PulseTrain(period, 1.0, 1.0);
        EXPECT_EQ(EstimateOpenLoopPitch(buf, kWeightedHistory + kOpenLoopWindow), period) << period;
    }
}

TEST(Weighting, HarmonicSearchReachesThreeLagsEitherSide) {
    // Lag 15 from olp 18, and lag 145 from olp 142 (reading the buffer from index 0).
    HarmonicWeight hw = FindHarmonicWeight(PulseTrain(15, 1.0, 1.0), kWeightedHistory, 18);
    EXPECT_EQ(hw.lag, 15);
    EXPECT_EQ(hw.gain, 0.3125); // fully periodic: the gain is capped
    hw = FindHarmonicWeight(PulseTrain(145, 1.0, 1.0), kWeightedHistory, 142);
    EXPECT_EQ(hw.lag, 145);
    EXPECT_EQ(hw.gain, 0.3125);
    // Out of reach: no lag correlates, so the open-loop lag is kept with no gain.
    hw = FindHarmonicWeight(PulseTrain(25, 1.0, 1.0), kWeightedHistory, 40);
    EXPECT_EQ(hw.lag, 40);
    EXPECT_EQ(hw.gain, 0.0);
}

TEST(Weighting, WeakPeriodicityGetsALagButNoGain) {
    // A past pulse that explains too little of the subframe's energy.
    Buffer buf{};
    buf[kWeightedHistory] = 1.0;
    buf[kWeightedHistory + 10] = 2.0;
    buf[kWeightedHistory - 20] = 1.0;
    const HarmonicWeight hw = FindHarmonicWeight(buf, kWeightedHistory, 21);
    EXPECT_EQ(hw.lag, 20);
    EXPECT_EQ(hw.gain, 0.0);
}

struct FilterCase {
    LpcSet aq;
    LpcSet lpc;
};

FilterCase SomeFilters() {
    // A stable, speech-like set for both the quantised and the unquantised coefficients.
    const LpcSet aq = {0.8302, -0.5109, 0.5106, -0.4615, 0.3562, -0.3947, 0.2311, -0.2653, 0.1744, -0.1284};
    LpcSet lpc = aq;
    lpc[0] += 0.05;
    return {aq, lpc};
}

TEST(Weighting, ImpulseResponseStartsAtOneAndLongLagsLeaveItAlone) {
    const FilterCase f = SomeFilters();
    const WeightingSet coeffs = WeightingCoefficients({f.lpc, f.lpc, f.lpc, f.lpc})[0];
    const SubframeVector plain = ComputeImpulseResponse(f.aq, coeffs, {30, 0.0});
    EXPECT_EQ(plain[0], 1.0);
    EXPECT_EQ(ComputeImpulseResponse(f.aq, coeffs, {kSubframeSamples, 0.3}), plain);
    EXPECT_EQ(ComputeImpulseResponse(f.aq, coeffs, {145, 0.3}), plain);
    // A shorter lag subtracts the scaled, delayed response.
    const SubframeVector harmonic = ComputeImpulseResponse(f.aq, coeffs, {20, 0.25});
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(harmonic[n], n < 20 ? plain[n] : plain[n] - 0.25 * plain[n - 20]) << n;
    }
}

TEST(Weighting, RingingSubtractedIsWhatTheLocalDecoderThenProduces) {
    const FilterCase f = SomeFilters();
    const WeightingSet coeffs = WeightingCoefficients({f.lpc, f.lpc, f.lpc, f.lpc})[0];
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    std::uniform_real_distribution<double> dist(-3000.0, 3000.0);
    FilterMemory synthMem{};
    FilterMemory weightMem{};
    WeightedHistory history{};
    // Drive the local decoder with some excitation so that it rings.
    SubframeVector e{};
    for (double& v : e) {
        v = dist(rng);
    }
    UpdateRinging(e, f.aq, coeffs, synthMem, weightMem, history);

    SubframeVector t{};
    const FilterMemory synthBefore = synthMem;
    const WeightedHistory historyBefore = history;
    SubtractRinging(t, f.aq, coeffs, synthMem, weightMem, history, {30, 0.0});
    EXPECT_EQ(synthMem, synthBefore);
    EXPECT_EQ(history, historyBefore);

    SubframeVector zero{};
    UpdateRinging(zero, f.aq, coeffs, synthMem, weightMem, history);
    for (int n = 0; n < kSubframeSamples; ++n) {
        EXPECT_EQ(t[n], -history[kWeightedHistory - kSubframeSamples + n]) << n;
    }
    // The history moved on by one subframe.
    for (int n = 0; n < kWeightedHistory - kSubframeSamples; ++n) {
        EXPECT_EQ(history[n], historyBefore[n + kSubframeSamples]) << n;
    }
}

TEST(Weighting, ZeroCoefficientsWeighNothing) {
    std::array<double, kFrameSamples> x{};
    for (int n = 0; n < kFrameSamples; ++n) {
        x[n] = 100.0 * n - 5000.0;
    }
    const auto original = x;
    FilterMemory in{};
    FilterMemory out{};
    WeightSpeech(x, WeightingCoefficients(SubframeLpcSets{}), in, out);
    EXPECT_EQ(x, original);
    EXPECT_EQ(in[0], original[kFrameSamples - 1]);
    EXPECT_EQ(out[kLpcOrder - 1], original[kFrameSamples - kLpcOrder]);
}

} // namespace
} // namespace velmar
