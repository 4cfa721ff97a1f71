#include "codec/Excitation.h"

#include "codec/tables/PitchTables.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <numeric>

namespace velmar {
namespace {

// A past excitation whose sample i is 1000 + i, so every read names its own index.
std::array<double, kExcitationHistory> CountingPast() {
    std::array<double, kExcitationHistory> past{};
    std::iota(past.begin(), past.end(), 1000.0);
    return past;
}

int NonZeroCount(const SubframeVector& v) {
    return static_cast<int>(std::count_if(v.begin(), v.end(), [](double x) { return x != 0.0; }));
}

TEST(Excitation, ShortestLagRepeatsTheLastSeventeenSamples) {
    const auto past = CountingPast();
    const PitchVector v = BuildPitchVector(past, 17);
    EXPECT_EQ(v[0], past[126]);
    EXPECT_EQ(v[1], past[127]);
    for (int k = 0; k < 17; ++k) {
        EXPECT_EQ(v[2 + k], past[128 + k]) << k;
        EXPECT_EQ(v[19 + k], past[128 + k]) << k;
    }
}

TEST(Excitation, LongLagsNeverWrap) {
    const auto past = CountingPast();
    EXPECT_EQ(BuildPitchVector(past, 143)[0], past[0]);
    for (int lag : {62, 100, 143}) {
        const PitchVector v = BuildPitchVector(past, lag);
        for (int j = 0; j < kPitchVectorLength - 2; ++j) {
            ASSERT_EQ(v[j + 2], past[145 - lag + j]) << lag << " " << j;
        }
    }
}

TEST(Excitation, PitchContributionIsSilentForRowZeroOrSilentPast) {
    const auto past = CountingPast();
    for (int lag = 18; lag <= 141; lag += 41) {
        EXPECT_EQ(NonZeroCount(PitchContribution(past, lag, 1, 0)), 0);
    }
    const std::array<double, kExcitationHistory> silent{};
    for (int row = 0; row < kPitchGainRows; ++row) {
        EXPECT_EQ(NonZeroCount(PitchContribution(silent, 60, 2, row)), 0) << row;
    }
}

TEST(Excitation, PitchContributionWeighsFiveNeighboursOfThePeriodicPast) {
    std::array<double, kExcitationHistory> past{};
    past[145 - 80] = 1.0; // one impulse, 80 samples back: it recurs at sample 0 of the subframe
    const int row = 13;
    const SubframeVector out = PitchContribution(past, 80, 1, row);
    // Tap m weighs the past at offset m - 2: the impulse at sample 0 shows as b2 there, b1 at 1..
    EXPECT_EQ(out[0], PitchTapTable[row][2]);
    EXPECT_EQ(out[1], PitchTapTable[row][1]);
    EXPECT_EQ(out[2], PitchTapTable[row][0]);
    EXPECT_EQ(NonZeroCount(out), 3) << "two taps fall before the subframe";
}

TEST(Excitation, PulsesSitOnTheirTracksWithSignsAndTheSmallestAmplitudeIsNotSilent) {
    SubframeParams sub;
    sub.pitchGainIndex = 0; // no sharpening
    sub.pulseGainIndex = 0;
    sub.pulseSigns = 0b0101;
    sub.pulsePositions = 1 | (2 << 3) | (3 << 6) | (1 << 9); // 8, 18, 28, 22
    const SubframeVector v = BuildPulseVector(sub, 40);
    EXPECT_EQ(v[8], 2.0);
    EXPECT_EQ(v[18], -2.0);
    EXPECT_EQ(v[28], 2.0);
    EXPECT_EQ(v[22], -2.0);
    EXPECT_EQ(NonZeroCount(v), 4);
}

TEST(Excitation, ThirdTrackCodeSevenPlacesNoPulse) {
    SubframeParams sub;
    sub.pitchGainIndex = 0;
    sub.pulseGainIndex = 23;
    sub.pulseSigns = 15;
    sub.pulsePositions = 7 | (7 << 3) | (7 << 6) | (3 << 9); // 56, 58, (60), 54
    const SubframeVector v = BuildPulseVector(sub, 40);
    EXPECT_EQ(NonZeroCount(v), 3);
    EXPECT_EQ(v[56], 13246.0);
    EXPECT_EQ(v[58], 13246.0);
    EXPECT_EQ(v[54], 13246.0);
}

TEST(Excitation, SharpeningEchoesAPulseAgainAndAgain) {
    // Row 2 has sharpening offset -1, so pitch lag 18 with lag delta 0 gives an echo lag of 16.
    const int row = 2;
    const Sharpening s = PitchSharpening(17, row);
    ASSERT_EQ(s.lag, 16);
    const double g = SharpenGain[row];
    SubframeParams sub;
    sub.lagDelta = 0;
    sub.pitchGainIndex = row;
    sub.pulseGainIndex = 10; // amplitude 110
    sub.pulseSigns = 1;      // pulse 0 positive, the others negative
    sub.pulsePositions = 0;  // pulses at 0, 2, 4, 6
    const SubframeVector v = BuildPulseVector(sub, 18);
    EXPECT_DOUBLE_EQ(v[16], 110.0 * g);
    EXPECT_DOUBLE_EQ(v[32], 110.0 * g * g);
    EXPECT_DOUBLE_EQ(v[48], 110.0 * g * g * g);
    EXPECT_DOUBLE_EQ(v[18], -110.0 * g);
    EXPECT_EQ(v[17], 0.0);
}

TEST(Excitation, RowsWithOffsetSixtyNeverSharpen) {
    for (int row = 0; row < kPitchGainRows; ++row) {
        if (SharpenLagOffset[row] != 60) {
            continue;
        }
        for (int lag = 18; lag <= 141; ++lag) {
            SubframeParams sub;
            sub.pitchGainIndex = row;
            sub.lagDelta = 0;
            sub.pulseSigns = 15;
            EXPECT_EQ(NonZeroCount(BuildPulseVector(sub, lag)), 4) << row << " " << lag;
        }
    }
}

TEST(Excitation, SharpeningLagsOfFiftyEightOrMoreChangeNothing) {
    // Row 1 has offset +1: lag sum 57 gives 58, which is already too long.
    SubframeParams sub;
    sub.pitchGainIndex = 1;
    sub.lagDelta = 1;
    sub.pulseSigns = 15;
    EXPECT_EQ(NonZeroCount(BuildPulseVector(sub, 57)), 4);
    EXPECT_EQ(NonZeroCount(BuildPulseVector(sub, 56)), 6)
        << "lag 57 echoes the pulses at 0 and 2 onto 57 and 59";
}

} // namespace
} // namespace velmar
