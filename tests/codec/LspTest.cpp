#include "codec/Lsp.h"

#include "codec/SpeechCodec.h"
#include "codec/tables/LspTables.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar {
namespace {

TEST(Lsp, CodeZeroFromTheMeanAddsTheIndexZeroEntries) {
    const LspVector lsp = DecodeLsp(0, 0, LspMean);
    const double expected[kLpcOrder] = {24.4609, 36.8828,  60.0781,  73.3985,  102.75,
                                        134.617, 156.3667, 172.9138, 202.5628, 218.6095};
    for (int j = 0; j < kLpcOrder; ++j) {
        EXPECT_NEAR(lsp[j], expected[j], 6e-5) << j; // four decimals, the fifth rounded either way
    }
}

TEST(Lsp, ErasedModeIgnoresTheCode) {
    LspVector prev = LspMean;
    prev[4] += 3.0;
    EXPECT_EQ(DecodeLsp(0x123456, 1, prev), DecodeLsp(0xFEDCBA, 1, prev));
    EXPECT_EQ(DecodeLsp(0x123456, 1, prev), DecodeLsp(0, 1, prev));
    EXPECT_NE(DecodeLsp(0x123456, 0, prev), DecodeLsp(0, 0, prev));
}

// prevLsp chosen so that the prediction lands every LSP of code 0 exactly on `target`.
LspVector PreviousGiving(const LspVector& target, double prediction) {
    const LspVector base = DecodeLsp(0, 0, LspMean); // mean + residual, stable at once
    LspVector prev{};
    for (int j = 0; j < kLpcOrder; ++j) {
        const double residual = base[j] - LspMean[j];
        prev[j] = LspMean[j] + (target[j] - residual - LspMean[j]) / prediction;
    }
    return prev;
}

TEST(Lsp, SpacingPassesPushClosePairsApartAboutTheirMidpoint) {
    LspVector target = DecodeLsp(0, 0, LspMean);
    target[4] = 110.0;
    target[5] = 111.0; // 1 apart, 2 required
    const LspVector lsp = DecodeLsp(0, 0, PreviousGiving(target, 0.375));
    EXPECT_NEAR(lsp[4], 109.5, 1e-9);
    EXPECT_NEAR(lsp[5], 111.5, 1e-9);
    EXPECT_NEAR(lsp[3], target[3], 1e-9);
    EXPECT_NEAR(lsp[6], target[6], 1e-9);
}

TEST(Lsp, PairExactlyTheMinimumSpacingApartIsLeftAlone) {
    LspVector target = DecodeLsp(0, 0, LspMean);
    target[4] = 110.0;
    target[5] = 112.0;
    const LspVector lsp = DecodeLsp(0, 0, PreviousGiving(target, 0.375));
    EXPECT_NEAR(lsp[4], 110.0, 1e-9);
    EXPECT_NEAR(lsp[5], 112.0, 1e-9);
}

TEST(Lsp, VectorThatStaysUnstableIsReplacedByThePrevious) {
    // Ten coinciding LSPs cannot be spread far enough in ten passes.
    LspVector target{};
    target.fill(128.0);
    const LspVector prev = PreviousGiving(target, 0.375);
    EXPECT_EQ(DecodeLsp(0, 0, prev), prev);
}

TEST(Lsp, ClampsHoldOnlyAtTheStartOfAPass) {
    LspVector target = DecodeLsp(0, 0, LspMean);
    target[0] = 1.0; // clamped to 3, then pushed below it by its too-close neighbour
    target[1] = 4.0;
    const LspVector lsp = DecodeLsp(0, 0, PreviousGiving(target, 0.375));
    EXPECT_LT(lsp[0], 3.0);
    EXPECT_GE(lsp[1] - lsp[0], 2.0 - 0.03125);
}

TEST(Lsp, MeanLspsGiveTheKnownStableLpcSet) {
    const LpcSet a = LspToLpc(LspMean);
    const double expected[kLpcOrder] = {0.8302,  -0.5109, 0.5106,  -0.4615, 0.3562,
                                        -0.3947, 0.2311,  -0.2653, 0.1744,  -0.1284};
    for (int k = 0; k < kLpcOrder; ++k) {
        EXPECT_NEAR(a[k], expected[k], 5e-5) << k;
    }
    // The impulse response of 1/A(z) dies away.
    FilterMemory memory{};
    std::array<double, kSubframeSamples> block{};
    block[0] = 1.0;
    double lastEnergy = 0.0;
    for (int n = 0; n < 40; ++n) {
        SynthesisFilter(block, a, memory);
        lastEnergy = 0.0;
        for (double v : block) {
            lastEnergy += v * v;
        }
        block.fill(0.0);
    }
    EXPECT_LT(lastEnergy, 1e-12);
}

TEST(Lsp, InterpolationOfEqualVectorsGivesFourEqualSets) {
    const LspVector lsp = DecodeLsp(0x0A0B0C, 0, LspMean);
    const SubframeLpcSets sets = InterpolateLsp(lsp, lsp);
    for (const LpcSet& set : sets) {
        EXPECT_EQ(set, LspToLpc(lsp));
    }
}

TEST(Lsp, InterpolationEndsOnTheCurrentVector) {
    const LspVector prev = LspMean;
    const LspVector cur = DecodeLsp(0x102030, 0, prev);
    const SubframeLpcSets sets = InterpolateLsp(cur, prev);
    EXPECT_EQ(sets[3], LspToLpc(cur));
    EXPECT_NE(sets[0], sets[3]);
}

TEST(Lsp, ConversionStaysInsideTheCosineTableForAnyFiniteInput) {
    // Values around and beyond the table's ends; the sanitizer build checks every read.
    const double probes[] = {-1e300, -600.0, -0.25,  -1e-9, 0.0, 255.999, 256.0,
                             510.5,  511.0,  511.75, 512.0, 1e6, 1e300};
    for (double probe : probes) {
        LspVector lsp{};
        lsp.fill(probe);
        const LpcSet a = LspToLpc(lsp);
        for (double v : a) {
            EXPECT_TRUE(std::isfinite(v)) << probe;
        }
    }
    // A negative LSP reads the table periodically: -0.25 behaves as 511.75.
    LspVector below = LspMean;
    below[0] = -0.25;
    LspVector wrapped = LspMean;
    wrapped[0] = 511.75;
    EXPECT_EQ(LspToLpc(below), LspToLpc(wrapped));
}

} // namespace
} // namespace velmar
