#include "codec/SpeechCodec.h"
#include "codec/tables/AnalysisTables.h"
#include "codec/tables/LspTables.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace velmar {
namespace {

using Samples = std::array<std::int16_t, kFrameSamples>;

Samples Decode(CSpeechCodec& codec, const PackedFrame& frame) {
    Samples out{};
    codec.DecodeFrame(frame, out);
    return out;
}

PackedFrame Pack(const FrameParams& params) {
    PackedFrame frame{};
    PackFrame(params, frame);
    return frame;
}

TEST(Decoder, FreshStateHasTheStartingValues) {
    const CSpeechCodec codec;
    EXPECT_EQ(codec.decPrevLsp, LspMean);
    EXPECT_EQ(codec.encoder.lpc.encPrevLsp, LspMean);
    for (double v : codec.decExcitation) {
        EXPECT_EQ(v, 0.0);
    }
    for (double v : codec.decSynthMem) {
        EXPECT_EQ(v, 0.0);
    }
    EXPECT_EQ(PrefilterDen[0], 1.0);
    EXPECT_EQ(PrefilterNum[4], 4.469547);
    EXPECT_EQ(codec.encoder.vad.vadPrevEnergy, 1024.0);
    EXPECT_EQ(codec.encoder.vad.vadNoiseLevel, 1024.0);
    EXPECT_EQ(codec.encoder.vad.vadLags, (std::array<std::int16_t, 4>{1, 1, 60, 60}));
    EXPECT_EQ(codec.encoder.lpc.sineDetector, 0);
}

TEST(Rounding, HalfAwayFromZeroAndClippedAtTheEdgesAlikeOneAndTwoAtATime) {
    const struct {
        double in;
        std::int16_t out;
    } cases[] = {{0.5, 1},
                 {-0.5, -1},
                 {0.49, 0},
                 {-0.49, 0},
                 {1.5, 2},
                 {-2.5, -3},
                 {32766.49, 32766},
                 {32766.5, 32767},
                 {32766.51, 32767},
                 {1e12, 32767},
                 {-32767.5, -32768},
                 {-32767.51, -32768},
                 {-1e12, -32768},
                 {std::numeric_limits<double>::infinity(), 32767},
                 {-std::numeric_limits<double>::infinity(), -32768},
                 {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(RoundToSample(c.in), c.out) << c.in;
    }
    // The two-lane run over every case, each boundary's neighbours and random speech-range values
    // (an odd count, so the last one takes the scalar path) must give the scalar samples.
    std::vector<double> values;
    for (const auto& c : cases) {
        values.push_back(c.in);
        values.push_back(std::nextafter(c.in, 0.0));
        values.push_back(std::nextafter(c.in, c.in < 0.0 ? -HUGE_VAL : HUGE_VAL));
        values.push_back(-c.in);
    }
    values.insert(values.end(), {0.0, -0.0, 4.9e-324, -4.9e-324, 2.2e-308, -32768.0, 32767.0});
    test::Rng rng(test::kDefaultSeed);
    std::uniform_real_distribution<double> speech(-33000.0, 33000.0);
    for (int i = 0; i < 1001; ++i) {
        values.push_back(speech(rng));
    }
    values.resize(values.size() | 1);
    std::vector<std::int16_t> rounded(values.size());
    RoundToSamples(values.data(), rounded.data(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(rounded[i], RoundToSample(values[i])) << values[i];
    }
    EXPECT_EQ(ClampToSampleRange(32766.5), 32766.5);
    EXPECT_EQ(ClampToSampleRange(32766.51), 32767.0);
    EXPECT_EQ(ClampToSampleRange(-32767.5), -32767.5);
    EXPECT_EQ(ClampToSampleRange(-32767.51), -32768.0);
    EXPECT_EQ(ClampToSampleRange(-123.25), -123.25);
}

TEST(Decoder, FirstFrameOfAFreshStateHasNoPitchContributionInSubframeZero) {
    // Rows 0 and 8 both leave the pulses unsharpened; only the pitch taps differ, and those read
    // a silent past in subframe 0.
    FrameParams p;
    p.lspIndex = 0x304050;
    p.pitchLag = {40, 40};
    for (SubframeParams& s : p.sub) {
        s = {1, 0, 12, 5, 0x2A5};
    }
    FrameParams q = p;
    for (SubframeParams& s : q.sub) {
        s.pitchGainIndex = 8;
    }
    CSpeechCodec a, b;
    const Samples outA = Decode(a, Pack(p));
    const Samples outB = Decode(b, Pack(q));
    EXPECT_TRUE(std::equal(outA.begin(), outA.begin() + kSubframeSamples, outB.begin()));
    EXPECT_FALSE(std::equal(outA.begin(), outA.end(), outB.begin())) << "later subframes hear the pitch taps";
}

TEST(Decoder, TwoFreshObjectsDecodeIdentically) {
    test::Rng rng(test::kDefaultSeed);
    CSpeechCodec a, b;
    for (int n = 0; n < 200; ++n) {
        PackedFrame frame{};
        for (auto& byte : frame) {
            byte = static_cast<std::uint8_t>(rng());
        }
        ASSERT_EQ(Decode(a, frame), Decode(b, frame)) << "frame " << n;
    }
}

TEST(Decoder, StoredExcitationIsClampedWhileTheOutputSaturates) {
    // Loud pulses fed back through a strong pitch predictor at a short lag drive the excitation
    // far beyond 16 bits; the stored history must stop exactly at the range's ends.
    FrameParams p;
    p.lspIndex = 0;
    p.pitchLag = {20, 20};
    for (SubframeParams& s : p.sub) {
        s = {1, 35, 23, 15, 0};
    }
    p.sub[1].lagDelta = 1;
    p.sub[3].lagDelta = 1;
    CSpeechCodec codec;
    bool sawClamp = false;
    bool sawSaturation = false;
    for (int n = 0; n < 50; ++n) {
        const Samples out = Decode(codec, Pack(p));
        for (double v : codec.decExcitation) {
            ASSERT_GE(v, -32768.0);
            ASSERT_LE(v, 32767.0);
            sawClamp = sawClamp || v == 32767.0 || v == -32768.0;
        }
        for (std::int16_t s : out) {
            sawSaturation = sawSaturation || s == INT16_MAX || s == INT16_MIN;
        }
        for (double m : codec.decSynthMem) {
            ASSERT_TRUE(std::isfinite(m));
        }
    }
    EXPECT_TRUE(sawClamp);
    EXPECT_TRUE(sawSaturation);
}

TEST(Decoder, AnyBytesDecodeWithFiniteStateRandomAndAdversarial) {
    std::vector<PackedFrame> frames;
    test::Rng rng(test::kDefaultSeed + 1);
    SCOPED_TRACE(test::kDefaultSeed + 1);
    for (int n = 0; n < 5000; ++n) {
        PackedFrame frame{};
        for (auto& byte : frame) {
            byte = static_cast<std::uint8_t>(rng());
        }
        frames.push_back(frame);
    }
    for (std::uint8_t fill : {0x00, 0xFF, 0x55, 0xAA, 0x7F, 0x80}) {
        PackedFrame frame{};
        frame.fill(fill);
        for (int repeat = 0; repeat < 100; ++repeat) {
            frames.push_back(frame);
        }
    }
    // Extremes of every field that still unpacks as valid: longest and shortest lags, the
    // loudest pulses and the strongest predictor rows, alternating so the state swings.
    for (int n = 0; n < 400; ++n) {
        FrameParams p;
        p.lspIndex = (n % 3 == 0) ? 0xFFFFFF : (n % 3 == 1 ? 0 : 0x00FF00);
        p.pitchLag = {n % 2 == 0 ? 18 : 141, n % 2 == 0 ? 141 : 18};
        for (int i = 0; i < kSubframes; ++i) {
            p.sub[i] = {i % 2 == 1 ? (n % 4) : 1, 32 + (n + i) % 10, 23, (n & 1) ? 15 : 0, 2047 - n};
        }
        frames.push_back(Pack(p));
    }

    CSpeechCodec codec;
    for (std::size_t n = 0; n < frames.size(); ++n) {
        Samples out{};
        codec.DecodeFrame(frames[n], out);
        for (double m : codec.decSynthMem) {
            ASSERT_TRUE(std::isfinite(m)) << "frame " << n;
        }
        for (double v : codec.decPrevLsp) {
            ASSERT_TRUE(std::isfinite(v)) << "frame " << n;
        }
    }
}

} // namespace
} // namespace velmar
