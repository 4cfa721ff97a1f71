#include "codec/LpcAnalysis.h"

#include "EncoderTestSignals.h"
#include "codec/SpeechCodec.h"
#include "codec/tables/LspTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>
#include <ostream>
#include <string>

namespace velmar {
namespace {

using Frame = std::array<double, kFrameSamples>;

TEST(LpcAnalysis, ZeroInputGivesZeroLpcSetsAndASineBitPerSubframe) {
    const std::array<double, kLpcHistory> history{};
    const Frame x{};
    std::int16_t sineDetector = 0;
    const SubframeLpcSets sets = AnalyseLpc(history, x, sineDetector);
    for (const LpcSet& set : sets) {
        for (double a : set) {
            EXPECT_EQ(a, 0.0);
        }
    }
    EXPECT_EQ(sineDetector, 0b1111);
}

// A silent frame passes all four sine tests, so the word before decides how many of the newest
// fifteen tests passed: its bits 0 .. 10 move to bits 4 .. 14, its bits 11 .. 15 (the old summary
// included) leave the history.
TEST(LpcAnalysis, ToneBitNeedsFourteenOfTheLastFifteenTestsNotThirteen) {
    struct Case {
        std::uint16_t before;
        int passed; // of the fifteen tests after the frame
        bool tone;
    };
    const Case cases[] = {
        {0x07FF, 15, true},  {0x07FE, 14, true},
        {0x07FC, 13, false}, {0x87FC, 13, false}, // an old summary bit does not count as a test
        {0x7FFC, 13, false},                      // nor do tests older than fifteen
        {0x0000, 4, false},
    };
    const std::array<double, kLpcHistory> history{};
    const Frame silence{};
    for (const Case& c : cases) {
        std::int16_t sineDetector = static_cast<std::int16_t>(c.before);
        AnalyseLpc(history, silence, sineDetector);
        const auto word = static_cast<std::uint16_t>(sineDetector);
        EXPECT_EQ(std::popcount(static_cast<unsigned>(word & 0x7FFF)), c.passed) << std::hex << c.before;
        EXPECT_EQ((word & 0x8000) != 0, c.tone) << std::hex << c.before;
    }
}

TEST(LpcAnalysis, ZeroLpcSetGivesEvenlySpacedLsps) {
    const double expected[kLpcOrder] = {23.27,  46.55,  69.82,  93.09,  116.36,
                                        139.64, 162.91, 186.18, 209.45, 232.73};
    const LspVector lsp = LpcToLsp(LpcSet{}, LspMean);
    for (int j = 0; j < kLpcOrder; ++j) {
        EXPECT_NEAR(lsp[j], expected[j], 0.005) << j;
    }
}

TEST(LpcAnalysis, LspsOfAStableSetAreIncreasingAndNearTheOriginal) {
    // The analysis expands bandwidths slightly, so the round trip is close but not exact.
    const LspVector lsp = LpcToLsp(LspToLpc(LspMean), LspVector{});
    for (int j = 0; j < kLpcOrder; ++j) {
        EXPECT_NEAR(lsp[j], LspMean[j], 2.0) << j;
        if (j > 0) {
            EXPECT_GT(lsp[j], lsp[j - 1]) << j;
        }
    }
}

TEST(LpcAnalysis, TooFewRootsFallBackToThePreviousLsps) {
    // A wildly unstable set: its polynomials do not have ten roots on the grid.
    LpcSet lpc{};
    lpc.fill(4.0);
    LspVector fallback = LspMean;
    fallback[3] += 1.5;
    EXPECT_EQ(LpcToLsp(lpc, fallback), fallback);
}

TEST(LpcAnalysis, LspPolynomialIsACosineSeriesOnTheGrid) {
    for (int j : {0, 1, 37, 128, 200, 255}) {
        const double angle = std::numbers::pi * j / kLspPi;
        EXPECT_EQ(EvalLspPolynomial({0, 0, 0, 0, 0, 1.5}, j), 1.5) << j;
        EXPECT_NEAR(EvalLspPolynomial({1, 0, 0, 0, 0, 0}, j), std::cos(5 * angle), 1e-4) << j;
        EXPECT_NEAR(EvalLspPolynomial({0, 0, 0, 2, 0, 0}, j), 2 * std::cos(2 * angle), 2e-4) << j;
    }
}

TEST(LpcAnalysis, DurbinOfAFirstOrderProcessFindsOneCoefficient) {
    const double rho = 0.8;
    Autocorrelations r{};
    for (int k = 1; k <= kLpcOrder; ++k) {
        r[k - 1] = std::pow(rho, k);
    }
    const DurbinResult result = Durbin(r, 1.0);
    EXPECT_NEAR(result.lpc[0], rho, 1e-12);
    for (int k = 1; k < kLpcOrder; ++k) {
        EXPECT_NEAR(result.lpc[k], 0.0, 1e-12) << k;
    }
    EXPECT_NEAR(result.error, 1.0 - rho * rho, 1e-12);
    EXPECT_NEAR(result.sineValue, 0.0, 1e-12); // no second reflection: not a tone
}

TEST(LpcAnalysis, DurbinStopsAtASingularStepAndKeepsWhatItHas) {
    // R(2) = R(0) makes the second reflection coefficient reach magnitude 1 (|acc| >= E).
    const double rho = 0.5;
    Autocorrelations r{};
    r[0] = rho;
    r[1] = 1.0;
    const DurbinResult stopped = Durbin(r, 1.0);
    EXPECT_EQ(stopped.lpc[0], rho);
    for (int k = 1; k < kLpcOrder; ++k) {
        EXPECT_EQ(stopped.lpc[k], 0.0) << k;
    }
    EXPECT_EQ(stopped.sineValue, 0.99);

    const DurbinResult silent = Durbin(Autocorrelations{}, 0.0);
    EXPECT_EQ(silent.lpc, LpcSet{});
    EXPECT_EQ(silent.sineValue, 0.99);
}

TEST(LpcAnalysis, SteadySineSetsTheToneBitAndNoiseClearsIt) {
    CSpeechCodec codec;
    PackedFrame out{};
    const std::vector<std::int16_t> sine = test::Sine(1000.0, 8000.0, 8);
    for (int f = 0; f < 8; ++f) {
        codec.EncodeFrame(ConstSampleFrame(sine.data() + f * kFrameSamples, kFrameSamples), out);
    }
    EXPECT_LT(codec.encoder.lpc.sineDetector, 0) << "bit 15 set";
    EXPECT_EQ(codec.encoder.lpc.sineDetector & 0x7FFF, 0x7FFF);

    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    const std::vector<std::int16_t> noise = test::Noise(rng, 8000, 1);
    codec.EncodeFrame(ConstSampleFrame(noise.data(), kFrameSamples), out);
    EXPECT_GE(codec.encoder.lpc.sineDetector, 0) << "bit 15 cleared";
    EXPECT_LT(std::popcount(static_cast<unsigned>(codec.encoder.lpc.sineDetector) & 0x7FFFu), 14);
}

TEST(LpcAnalysis, WhiteNoiseDoesNotLookLikeASine) {
    CSpeechCodec codec;
    PackedFrame out{};
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    const std::vector<std::int16_t> noise = test::Noise(rng, 8000, 6);
    for (int f = 0; f < 6; ++f) {
        codec.EncodeFrame(ConstSampleFrame(noise.data() + f * kFrameSamples, kFrameSamples), out);
    }
    // The first frame still sees the silent look-back; after that no subframe qualifies.
    EXPECT_EQ(codec.encoder.lpc.sineDetector & 0xFFFF, 0);
}

TEST(LpcAnalysis, DcRemovalDecaysAConstantByItsPolePerSample) {
    CSpeechCodec codec;
    Frame x{};
    x.fill(1000.0);
    PreFilter(x, codec.encoder.preFilter);
    EXPECT_NEAR(codec.encoder.preFilter.dcPrevOut, 1000.0 * std::pow(0.9921875, kFrameSamples - 1), 1e-9);
    x.fill(1000.0);
    PreFilter(x, codec.encoder.preFilter);
    EXPECT_NEAR(codec.encoder.preFilter.dcPrevOut, 1000.0 * std::pow(0.9921875, 2 * kFrameSamples - 1), 1e-9);
}

struct ToneGain {
    double hz;
    double minDb;
    double maxDb;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const ToneGain& tone, std::ostream* os) {
    *os << tone.hz << " Hz, " << tone.minDb << " to " << tone.maxDb << " dB";
}

class PreFilterResponse : public testing::TestWithParam<ToneGain> {};

TEST_P(PreFilterResponse, KeepsTheSpeechBandAndStopsTheTop) {
    const ToneGain& tone = GetParam();
    CSpeechCodec codec;
    constexpr int kFrames = 12;
    double inEnergy = 0.0;
    double outEnergy = 0.0;
    for (int f = 0; f < kFrames; ++f) {
        Frame x{};
        for (int n = 0; n < kFrameSamples; ++n) {
            x[n] =
                10000.0 * std::sin(2.0 * std::numbers::pi * tone.hz * (f * kFrameSamples + n) / kSampleRate);
        }
        const Frame in = x;
        PreFilter(x, codec.encoder.preFilter);
        if (f >= kFrames / 2) { // past the filters' settling
            for (int n = 0; n < kFrameSamples; ++n) {
                inEnergy += in[n] * in[n];
                outEnergy += x[n] * x[n];
            }
        }
    }
    const double gainDb = 10.0 * std::log10(outEnergy / inEnergy);
    EXPECT_GE(gainDb, tone.minDb);
    EXPECT_LE(gainDb, tone.maxDb);
}

INSTANTIATE_TEST_SUITE_P(Tones, PreFilterResponse,
                         testing::Values(ToneGain{100, -0.41, 0.41}, ToneGain{300, -0.41, 0.41},
                                         ToneGain{1000, -0.06, 0.06}, ToneGain{2500, -0.06, 0.06},
                                         ToneGain{3500, -0.06, 0.06}, ToneGain{3600, -0.41, 0.41},
                                         ToneGain{3850, -200, -30}, ToneGain{3950, -200, -30}),
                         [](const testing::TestParamInfo<ToneGain>& tone) {
                             return std::to_string(static_cast<int>(tone.param.hz)) + "Hz";
                         });

TEST(LpcAnalysis, SplitSearchFindsAnExactEntryAndTiesKeepTheLowerIndex) {
    // A residual equal to one entry per split is found (or an entry with the very same values).
    const std::array<int, kLspSplits> chosen = {37, 100, 200};
    LspVector residual{};
    for (int split = 0; split < kLspSplits; ++split) {
        const LspSplit& layout = kLspSplitLayout[split];
        for (int i = 0; i < layout.length; ++i) {
            residual[layout.firstLsp + i] =
                LspCodebookData[layout.dataOffset + layout.length * chosen[split] + i];
        }
    }
    LspVector weights{};
    weights.fill(1.0);
    const std::array<int, kLspSplits> found = SearchLspSplits(residual, weights);
    for (int split = 0; split < kLspSplits; ++split) {
        const LspSplit& layout = kLspSplitLayout[split];
        for (int i = 0; i < layout.length; ++i) {
            EXPECT_EQ(LspCodebookData[layout.dataOffset + layout.length * found[split] + i],
                      residual[layout.firstLsp + i])
                << split;
        }
    }
    // Zero weights score every entry 0: the first one stays.
    EXPECT_EQ(SearchLspSplits(residual, LspVector{}), (std::array<int, kLspSplits>{0, 0, 0}));
}

TEST(LpcAnalysis, LspsOnTheCodebookGridQuantiseToTheirOwnCode) {
    // With the mean as the previous LSPs the prediction adds nothing, so a decoded vector that
    // needed no spacing correction is a codebook point plus the mean, with zero quantisation error.
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    std::uniform_int_distribution<std::int32_t> codes(0, 0xFFFFFF);
    int tested = 0;
    while (tested < 20) {
        const std::int32_t code = codes(rng);
        const LspVector lsp = DecodeLsp(code, 0, LspMean);
        bool spaced = lsp[0] >= 3.0 && lsp[kLpcOrder - 1] <= 252.0;
        for (int j = 1; j < kLpcOrder; ++j) {
            spaced = spaced && lsp[j] - lsp[j - 1] > 2.0;
        }
        if (!spaced) {
            continue;
        }
        ++tested;
        EXPECT_EQ(DecodeLsp(QuantiseLsp(lsp, LspMean), 0, LspMean), lsp) << std::hex << code;
    }
}

// The LSP choice codes the frame with the best few entries of each split: they must be the entries
// nearest by the quantiser's own weighted distance, best first, led by the plain quantiser's code,
// and as many as asked for.
TEST(LpcAnalysis, RankedLspEntriesAreTheNearestLedByThePlainCode) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    std::uniform_real_distribution<double> jitter(-6.0, 6.0);
    for (int trial = 0; trial < 20; ++trial) {
        LspVector lsp{};
        LspVector prev{};
        for (int j = 0; j < kLpcOrder; ++j) {
            lsp[j] = LspMean[j] + jitter(rng);
            prev[j] = LspMean[j] + jitter(rng);
        }
        // Inverse distance to the nearest neighbour, and the predicted residual, as the quantiser.
        LspVector weights{};
        LspVector residual{};
        for (int j = 0; j < kLpcOrder; ++j) {
            const double below = j > 0 ? lsp[j] - lsp[j - 1] : 1e9;
            const double above = j < kLpcOrder - 1 ? lsp[j + 1] - lsp[j] : 1e9;
            weights[j] = 1.0 / std::min(below, above);
            residual[j] = lsp[j] - LspMean[j] - 0.375 * (prev[j] - LspMean[j]);
        }
        const std::int32_t plain = QuantiseLsp(lsp, prev);
        for (int perSplit = 1; perSplit <= kMaxLspChoices; ++perSplit) {
            const LspChoices choices = RankLspEntries(lsp, prev, perSplit);
            EXPECT_EQ(LspCode(choices.entry[0][0], choices.entry[1][0], choices.entry[2][0]), plain);
            for (int split = 0; split < kLspSplits; ++split) {
                ASSERT_EQ(choices.count[split], perSplit);
                const LspSplit& layout = kLspSplitLayout[split];
                auto distance = [&](int entry) {
                    double d = 0.0;
                    for (int i = 0; i < layout.length; ++i) {
                        const int j = layout.firstLsp + i;
                        const double e =
                            residual[j] - LspCodebookData[layout.dataOffset + entry * layout.length + i];
                        d += weights[j] * e * e;
                    }
                    return d;
                };
                const double worstKept = distance(choices.entry[split][perSplit - 1]);
                for (int r = 1; r < perSplit; ++r) {
                    EXPECT_NE(choices.entry[split][r], choices.entry[split][r - 1]);
                    EXPECT_LE(distance(choices.entry[split][r - 1]),
                              distance(choices.entry[split][r]) + 1e-9);
                }
                for (int k = 0; k < kLspSplitEntries; ++k) {
                    const auto kept = choices.entry[split].begin() + perSplit;
                    if (std::find(choices.entry[split].begin(), kept, k) == kept) {
                        EXPECT_GE(distance(k) + 1e-9, worstKept) << "split " << split << " entry " << k;
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace velmar
