// The playback post-filter: conformance with frame files enhanced by an independent implementation,
// the decoder's record of what it filters, and the level a listener hears.
#include "codec/PostFilter.h"

#include "PostFilterReference.h"
#include "codec/tables/PostFilterTables.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

namespace velmar {
namespace {

using Samples = std::array<std::int16_t, kFrameSamples>;

ConstPackedFrameView FrameAt(const std::vector<std::uint8_t>& bytes, std::size_t index) {
    return ConstPackedFrameView(bytes.data() + index * kPackedFrameBytes, kPackedFrameBytes);
}

// The frame file a vector was made from: encoder output or crafted decoder input.
std::filesystem::path FramesOf(const std::string& name) {
    const auto vectors = test::DataDir() / "vectors";
    const auto encoded = vectors / "encoder" / (name + ".prm");
    return std::filesystem::exists(encoded) ? encoded : vectors / "decoder" / (name + ".prm");
}

class EnhancedVectors : public testing::TestWithParam<std::string> {};

TEST_P(EnhancedVectors, ReproduceEverySample) {
    const std::string& name = GetParam();
    const std::vector<std::uint8_t> frames = test::ReadBytes(FramesOf(name));
    const std::vector<std::int16_t> expected =
        test::ReadPcm16(test::DataDir() / "vectors" / "postfilter" / (name + ".enhanced.pcm"));
    ASSERT_EQ(frames.size() % kPackedFrameBytes, 0u);
    const std::size_t frameCount = frames.size() / kPackedFrameBytes;
    ASSERT_GT(frameCount, 0u);
    ASSERT_EQ(expected.size(), frameCount * kFrameSamples);

    CSpeechCodec codec;
    CPostFilter postFilter;
    Samples out{};
    for (std::size_t f = 0; f < frameCount; ++f) {
        DecodeEnhancedFrame(codec, postFilter, FrameAt(frames, f), out);
        for (int n = 0; n < kFrameSamples; ++n) {
            ASSERT_EQ(out[n], expected[f * kFrameSamples + n])
                << "frame " << f << " subframe " << n / kSubframeSamples << " sample " << n;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Files, EnhancedVectors,
                         testing::Values("chirp", "crafted", "dc_steps", "impulses", "negative_lsp",
                                         "noise_white", "random_bytes", "s08_en_m_espeak_enus",
                                         "s09_en_f_flite_slt", "silence", "sine_1000hz", "square_fullscale"),
                         [](const testing::TestParamInfo<std::string>& param) { return param.param; });

// The post-filter must not make speech louder or quieter to the ear: a level change would be heard
// as a volume jump whenever enhancement is switched, and louder speech would clip sooner. The gain
// follows the spectral envelope rather than the signal, so one talker alone moves further (the male
// clip by -1.0 dB, the female one by +1.9 dB); over both talkers the level holds within 1 dB.
TEST(PostFilter, EnhancedSpeechKeepsThePlainDecodersLevel) {
    constexpr double kPooledToleranceDb = 1.0;
    constexpr double kOneTalkerToleranceDb = 2.0;
    double pooledPlain = 0.0;
    double pooledEnhanced = 0.0;
    for (const char* name : {"s08_en_m_espeak_enus", "s09_en_f_flite_slt"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> frames = test::ReadBytes(FramesOf(name));
        ASSERT_GT(frames.size(), 0u);
        CSpeechCodec plainCodec;
        CSpeechCodec enhancedCodec;
        CPostFilter postFilter;
        double plainEnergy = 0.0;
        double enhancedEnergy = 0.0;
        Samples plain{};
        Samples enhanced{};
        for (std::size_t f = 0; f < frames.size() / kPackedFrameBytes; ++f) {
            plainCodec.DecodeFrame(FrameAt(frames, f), plain);
            DecodeEnhancedFrame(enhancedCodec, postFilter, FrameAt(frames, f), enhanced);
            for (int n = 0; n < kFrameSamples; ++n) {
                plainEnergy += static_cast<double>(plain[n]) * plain[n];
                enhancedEnergy += static_cast<double>(enhanced[n]) * enhanced[n];
            }
        }
        ASSERT_GT(plainEnergy, 0.0);
        EXPECT_LE(std::abs(10.0 * std::log10(enhancedEnergy / plainEnergy)), kOneTalkerToleranceDb);
        pooledPlain += plainEnergy;
        pooledEnhanced += enhancedEnergy;
    }
    EXPECT_LE(std::abs(10.0 * std::log10(pooledEnhanced / pooledPlain)), kPooledToleranceDb);
}

// The lane-parallel filter against its plain twin, double for double, on every frame of every
// vector: speech, tones, overload and random frames reach every branch of the long-term stage. The
// enhanced decoder, which overlaps the decoder's synthesis with the post-filter, must give the
// twin's samples and leave both states as the separate steps do.
TEST(PostFilter, MatchesItsPlainTwinOnEveryDouble) {
    for (const char* name : {"chirp", "crafted", "random_bytes", "s08_en_m_espeak_enus", "s09_en_f_flite_slt",
                             "square_fullscale"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> frames = test::ReadBytes(FramesOf(name));
        ASSERT_GT(frames.size(), 0u);
        CSpeechCodec codec;
        CPostFilter fast;
        test::CPostFilterReference plain;
        CSpeechCodec overlappedCodec;
        CPostFilter overlapped;
        DecodedFrame decoded;
        std::array<double, kFrameSamples> fastOut{};
        std::array<double, kFrameSamples> plainOut{};
        Samples overlappedOut{};
        for (std::size_t f = 0; f < frames.size() / kPackedFrameBytes; ++f) {
            codec.DecodeSynthesis(FrameAt(frames, f), decoded);
            fast.Enhance(decoded, fastOut);
            plain.Enhance(decoded, plainOut);
            DecodeEnhancedFrame(overlappedCodec, overlapped, FrameAt(frames, f), overlappedOut);
            for (int n = 0; n < kFrameSamples; ++n) {
                ASSERT_EQ(fastOut[n], plainOut[n]) << "frame " << f << " sample " << n;
                ASSERT_EQ(overlappedOut[n], RoundToSample(plainOut[n])) << "frame " << f << " sample " << n;
            }
        }
    }
}

// A subframe whose lag is the largest the long-term stage takes may choose the period one past it;
// its look-ahead then reaches the first sample of the subframe after next, which the overlapped
// decoder must have made by then (it once read that sample before making it). Random frames pick
// such periods a few times in a thousand frames.
TEST(PostFilter, EnhancedDecodingHasTheLookAheadOfAPeriodOnePastTheLargestLag) {
    std::mt19937 random(7);
    std::vector<std::uint8_t> frames(6000 * kPackedFrameBytes);
    for (std::uint8_t& byte : frames) {
        byte = static_cast<std::uint8_t>(random());
    }
    CSpeechCodec codec;
    test::CPostFilterReference plain;
    CSpeechCodec overlappedCodec;
    CPostFilter overlapped;
    DecodedFrame decoded;
    std::array<double, kFrameSamples> plainOut{};
    Samples overlappedOut{};
    for (std::size_t f = 0; f < frames.size() / kPackedFrameBytes; ++f) {
        codec.DecodeSynthesis(FrameAt(frames, f), decoded);
        plain.Enhance(decoded, plainOut);
        DecodeEnhancedFrame(overlappedCodec, overlapped, FrameAt(frames, f), overlappedOut);
        for (int n = 0; n < kFrameSamples; ++n) {
            ASSERT_EQ(overlappedOut[n], RoundToSample(plainOut[n])) << "frame " << f << " sample " << n;
        }
    }
}

TEST(PostFilter, EnvelopeFactorsAreTheLibraryPowers) {
    for (int k = 1; k <= kLpcOrder; ++k) {
        EXPECT_EQ(PostFilterNumFactors[k - 1], std::pow(0.7, k)) << "k = " << k;
        EXPECT_EQ(PostFilterDenFactors[k - 1], std::pow(0.9, k)) << "k = " << k;
    }
}

// Enhancement is chosen per playback: the unrounded path must leave the decoder in the same state
// as the plain one and round to the same samples, or switching it would change the plain output.
TEST(DecodeSynthesis, RoundsToDecodeFramesSamplesAndAdvancesTheSameState) {
    const std::vector<std::uint8_t> frames = test::ReadBytes(FramesOf("random_bytes"));
    ASSERT_GT(frames.size(), 0u);
    CSpeechCodec plain;
    CSpeechCodec unrounded;
    Samples expected{};
    DecodedFrame decoded;
    for (std::size_t f = 0; f < frames.size() / kPackedFrameBytes; ++f) {
        plain.DecodeFrame(FrameAt(frames, f), expected);
        unrounded.DecodeSynthesis(FrameAt(frames, f), decoded);
        for (int n = 0; n < kFrameSamples; ++n) {
            ASSERT_EQ(RoundToSample(decoded.synthesis[n]), expected[n]) << "frame " << f << " sample " << n;
        }
    }
    EXPECT_EQ(plain.decPrevLsp, unrounded.decPrevLsp);
    EXPECT_EQ(plain.decExcitation, unrounded.decExcitation);
    EXPECT_EQ(plain.decSynthMem, unrounded.decSynthMem);
}

// The long-term stage works at each subframe's own lag; a record with the frame lag alone (or the
// delta applied off by one) would average at the wrong period.
TEST(DecodeSynthesis, RecordsEachSubframesLagWithItsDelta) {
    FrameParams mixed;
    mixed.pitchLag = {60, 141};
    mixed.sub[1].lagDelta = 2;
    mixed.sub[3].lagDelta = 3;
    PackedFrame mixedFrame{};
    PackFrame(mixed, mixedFrame);
    PackedFrame invalid{};
    invalid.fill(0xFF); // gain code 1023 in subframe 0: both lags fall back, the deltas (3) stay

    const struct {
        const char* what;
        PackedFrame frame;
        std::array<int, kSubframes> lags;
    } cases[] = {
        {"all-zero frame", PackedFrame{}, {18, 17, 18, 17}},
        {"lags 60 and 141, deltas 2 and 3", mixedFrame, {60, 61, 141, 143}},
        {"invalid frame", invalid, {82, 84, 82, 84}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CSpeechCodec codec;
        DecodedFrame decoded;
        codec.DecodeSynthesis(c.frame, decoded);
        EXPECT_EQ(decoded.lags, c.lags);
    }
}

} // namespace
} // namespace velmar
