#include "codec/Encoder.h"

#include "EncoderTestSignals.h"
#include "codec/FrontEnd.h"
#include "codec/SpeechCodec.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <ostream>
#include <string>

namespace velmar {
namespace {

using Frame = std::array<double, kFrameSamples>;

std::vector<PackedFrame> EncodeAll(CSpeechCodec& codec, const std::vector<std::int16_t>& samples) {
    std::vector<PackedFrame> frames(samples.size() / kFrameSamples);
    for (std::size_t f = 0; f < frames.size(); ++f) {
        codec.EncodeFrame(ConstSampleFrame(samples.data() + f * kFrameSamples, kFrameSamples), frames[f]);
    }
    return frames;
}

TEST(Encoder, DelaySpeechCodesOneSubframeLate) {
    std::array<double, kLpcHistory> history{};
    Frame x{};
    for (int n = 0; n < kLpcHistory; ++n) {
        history[n] = -1.0 - n;
    }
    for (int n = 0; n < kFrameSamples; ++n) {
        x[n] = n;
    }
    DelaySpeech(x, history);
    for (int n = 0; n < kEncoderDelay; ++n) {
        EXPECT_EQ(x[n], -1.0 - (kLpcHistory - kEncoderDelay + n)) << n;
    }
    for (int n = kEncoderDelay; n < kFrameSamples; ++n) {
        EXPECT_EQ(x[n], n - kEncoderDelay) << n;
    }
    for (int n = 0; n < kLpcHistory; ++n) {
        EXPECT_EQ(history[n], kFrameSamples - kLpcHistory + n) << n;
    }
}

// The front end runs the input filter and the weighting side by side from arrays of its own: a
// memory read from the wrong sample, a block out of step or a state not carried over shows as
// a double that differs from the stages run one after the other, on speech, tones, clipping
// squares, noise and the silence that follows them.
TEST(Encoder, FrontEndMatchesItsStagesRunInTurnOnEveryDouble) {
    test::Rng rng(test::kDefaultSeed);
    std::vector<std::int16_t> samples =
        test::ReadPcm16(test::DataDir() / "vectors" / "encoder" / "s09_en_f_flite_slt.pcm");
    for (const std::vector<std::int16_t>& more :
         {test::Sine(1000.0, 12000.0, 20), test::Square(40, 32767, -32768, 20), test::Noise(rng, 30000, 20),
          std::vector<std::int16_t>(20 * kFrameSamples, 0)}) {
        samples.insert(samples.end(), more.begin(), more.end());
    }
    PreFilterState pre;
    LpcState lpc;
    WeightingState weighting;
    PreFilterState preInTurn;
    LpcState lpcInTurn;
    WeightingState weightingInTurn;
    for (std::size_t f = 0; f + kFrameSamples <= samples.size(); f += kFrameSamples) {
        SCOPED_TRACE("frame " + std::to_string(f / kFrameSamples));
        Frame x;
        std::copy_n(samples.begin() + static_cast<std::ptrdiff_t>(f), kFrameSamples, x.begin());
        Frame inTurn = x;
        Frame weighted;
        const FrontEnd front = RunFrontEnd(x, weighted, pre, lpc, weighting);

        PreFilter(inTurn, preInTurn);
        const SubframeLpcSets lpcSets = AnalyseLpc(lpcInTurn.lpcHistory, inTurn, lpcInTurn.sineDetector);
        ASSERT_EQ(x, inTurn);
        DelaySpeech(inTurn, lpcInTurn.lpcHistory);
        const SubframeWeightings weightings = WeightingCoefficients(lpcSets);
        WeightSpeech(inTurn, weightings, weightingInTurn.weightInMem, weightingInTurn.weightOutMem);

        // Every bit, the sign of a zero too.
        ASSERT_EQ(std::memcmp(weighted.data(), inTurn.data(), sizeof weighted), 0);
        ASSERT_EQ(std::memcmp(front.lpc.data(), lpcSets.data(), sizeof lpcSets), 0);
        ASSERT_EQ(std::memcmp(front.weightings.data(), weightings.data(), sizeof weightings), 0);
        ASSERT_EQ(pre.dcPrevIn, preInTurn.dcPrevIn);
        ASSERT_EQ(pre.dcPrevOut, preInTurn.dcPrevOut);
        ASSERT_EQ(pre.prefilterIn, preInTurn.prefilterIn);
        ASSERT_EQ(pre.prefilterOut, preInTurn.prefilterOut);
        ASSERT_EQ(lpc.lpcHistory, lpcInTurn.lpcHistory);
        ASSERT_EQ(lpc.sineDetector, lpcInTurn.sineDetector);
        ASSERT_EQ(weighting.weightInMem, weightingInTurn.weightInMem);
        ASSERT_EQ(weighting.weightOutMem, weightingInTurn.weightOutMem);
    }
}

TEST(Encoder, ZeroFrameOnAFreshStateCodesSilenceWithTheSineBits) {
    CSpeechCodec codec;
    const std::array<std::int16_t, kFrameSamples> zeros{};
    PackedFrame out{};
    EncoderTrace trace;
    EXPECT_EQ(EncodeFrameTraced(codec, zeros, out, 50, &trace), 0);
    EXPECT_EQ(codec.encoder.lpc.sineDetector, 0b1111);
    // The first subframe's target is exactly zero: no prediction, the default pulses, the smallest
    // amplitude. Later subframes hear the ringing of those (never silent) pulses.
    const SubframeParams& first = trace.params.sub[0];
    EXPECT_EQ(first.pitchGainIndex, 0);
    EXPECT_EQ(first.pulseGainIndex, 0);
    EXPECT_EQ(first.pulseSigns, 15);
    EXPECT_EQ(first.pulsePositions, 0);
    EXPECT_EQ(trace.params.pitchLag[0], kMinPitchLag + 1); // silence: open-loop 18, clamped to 19
    EXPECT_EQ(UnpackFrame(out, 0), trace.params);
}

struct InputCase {
    std::string name;
    std::vector<std::int16_t> samples;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const InputCase& c, std::ostream* os) {
    *os << c.name << " (" << c.samples.size() << " samples)";
}

std::vector<InputCase> ExtremeInputs() {
    test::Rng rng(test::kDefaultSeed);
    std::vector<InputCase> cases;
    cases.push_back({"Silence", std::vector<std::int16_t>(20 * kFrameSamples, 0)});
    cases.push_back({"PositiveDc", std::vector<std::int16_t>(20 * kFrameSamples, 32767)});
    cases.push_back({"NegativeDc", std::vector<std::int16_t>(20 * kFrameSamples, -32768)});
    cases.push_back({"Alternating", test::Square(2, 32767, -32768, 20)});
    cases.push_back({"SquareFullScale", test::Square(40, 32767, -32768, 20)});
    cases.push_back({"SquareFast", test::Square(6, 32767, -32768, 20)});
    cases.push_back({"ClippingNoise", test::Noise(rng, 32767, 20)});
    cases.push_back({"QuietNoise", test::Noise(rng, 3, 20)});
    cases.push_back({"Sine3900", test::Sine(3900.0, 32767.0, 20)});
    cases.push_back({"Sine60", test::Sine(60.0, 32767.0, 20)});
    std::vector<std::int16_t> impulses(20 * kFrameSamples, 0);
    for (std::size_t n = 0; n < impulses.size(); n += 97) {
        impulses[n] = n % 2 == 0 ? 32767 : -32768;
    }
    cases.push_back({"Impulses", impulses});
    std::vector<std::int16_t> random(200 * kFrameSamples);
    std::uniform_int_distribution<int> any(-32768, 32767);
    std::uniform_int_distribution<int> scale(0, 15);
    for (std::size_t f = 0; f < 200; ++f) { // random levels frame by frame
        const int shift = scale(rng);
        for (int n = 0; n < kFrameSamples; ++n) {
            random[f * kFrameSamples + n] = static_cast<std::int16_t>(any(rng) >> shift);
        }
    }
    cases.push_back({"RandomLevels", random});
    return cases;
}

class EncoderInputs : public testing::TestWithParam<InputCase> {};

TEST_P(EncoderInputs, EveryFrameIsValidAndTheHistoryStaysInRange) {
    SCOPED_TRACE(test::kDefaultSeed);
    const std::vector<std::int16_t>& samples = GetParam().samples;
    CSpeechCodec codec;
    EncoderTrace trace;
    PackedFrame out{};
    for (std::size_t f = 0; f < samples.size() / kFrameSamples; ++f) {
        SCOPED_TRACE(testing::Message() << "frame " << f);
        const std::int16_t flag = EncodeFrameTraced(
            codec, ConstSampleFrame(samples.data() + f * kFrameSamples, kFrameSamples), out, 50, &trace);
        EXPECT_TRUE(flag == 0 || flag == 1);
        const FrameParams unpacked = UnpackFrame(out, 0);
        ASSERT_EQ(unpacked.erased, 0);
        EXPECT_EQ(unpacked, trace.params); // nothing was cut to fit its field
        EXPECT_EQ(out[0] & 0x03, 0);       // spare bits
        for (int j = 0; j < kSubframes; ++j) {
            const SubframeParams& sub = unpacked.sub[j];
            EXPECT_LT(sub.pitchGainIndex * kPulseGainLevels + sub.pulseGainIndex, kGainCodes);
            const int lag = unpacked.pitchLag[j / 2] + sub.lagDelta - 1;
            EXPECT_GE(lag, kMinSubframeLag);
            EXPECT_LE(lag, kMaxSubframeLag);
        }
        for (int lag : unpacked.pitchLag) {
            EXPECT_GE(lag, kMinPitchLag);
            EXPECT_LE(lag, kMaxPitchLag);
        }
        for (double e : codec.encoder.search.encExcitation) {
            ASSERT_GE(e, -32768.0);
            ASSERT_LE(e, 32767.0);
        }
        ASSERT_GE(codec.encoder.search.searchBudget, 0);
        ASSERT_LE(codec.encoder.search.searchBudget, (kSubframes + 1) * kPulseSearchBudget);
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, EncoderInputs, testing::ValuesIn(ExtremeInputs()),
                         [](const testing::TestParamInfo<InputCase>& input) { return input.param.name; });

TEST(Encoder, SameInputGivesTheSameBytesFromEveryFreshObject) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    const std::vector<std::int16_t> speech =
        test::ReadPcm16(test::DataDir() / "vectors" / "encoder" / "s09_en_f_flite_slt.pcm");
    const std::vector<std::int16_t> noise = test::Noise(rng, 5000, 10);
    CSpeechCodec first;
    CSpeechCodec second;
    const std::vector<PackedFrame> a = EncodeAll(first, speech);
    EXPECT_EQ(EncodeAll(second, speech), a);

    // State carries over: the same speech after other input codes differently, at least at first.
    CSpeechCodec used;
    EncodeAll(used, noise);
    const std::vector<PackedFrame> afterNoise = EncodeAll(used, speech);
    EXPECT_NE(afterNoise, a);
    CSpeechCodec fresh;
    EXPECT_EQ(EncodeAll(fresh, speech), a);
}

// Segmental SNR in dB of the decoded speech against the input, over frames loud enough to matter,
// with the coder's delay of one subframe taken out.
double SegmentalSnr(const std::vector<std::int16_t>& input, const std::vector<std::int16_t>& decoded) {
    constexpr double kMinSegmentRms = 100.0;
    constexpr double kSnrFloor = -10.0;
    constexpr double kSnrCeiling = 35.0;
    double sum = 0.0;
    int segments = 0;
    for (std::size_t s = 0; s + kEncoderDelay + kFrameSamples <= decoded.size(); s += kFrameSamples) {
        double signal = 0.0;
        double error = 0.0;
        for (std::size_t n = s; n < s + kFrameSamples; ++n) {
            const double x = input[n];
            signal += x * x;
            const double e = x - decoded[n + kEncoderDelay];
            error += e * e;
        }
        if (signal < kFrameSamples * kMinSegmentRms * kMinSegmentRms) {
            continue;
        }
        sum += std::clamp(10.0 * std::log10(signal / std::max(error, 1.0)), kSnrFloor, kSnrCeiling);
        ++segments;
    }
    return segments > 0 ? sum / segments : kSnrFloor;
}

class SpeechRoundTrip : public testing::TestWithParam<const char*> {};

TEST_P(SpeechRoundTrip, DecodedSpeechFollowsTheInput) {
    const std::vector<std::int16_t> input =
        test::ReadPcm16(test::DataDir() / "vectors" / "encoder" / (std::string(GetParam()) + ".pcm"));
    CSpeechCodec encoder;
    CSpeechCodec decoder;
    std::vector<std::int16_t> decoded(input.size() / kFrameSamples * kFrameSamples);
    PackedFrame frame{};
    for (std::size_t f = 0; f < input.size() / kFrameSamples; ++f) {
        encoder.EncodeFrame(ConstSampleFrame(input.data() + f * kFrameSamples, kFrameSamples), frame);
        decoder.DecodeFrame(frame, SampleFrame(decoded.data() + f * kFrameSamples, kFrameSamples));
    }
    // Measured on the two speech clips: 5.3 dB (male) and 7.5 dB (female). A 4.8 kbit/s
    // analysis-by-synthesis coder matches the waveform only roughly; the floor of 3 dB leaves
    // 2.3 dB of margin and still fails for any broken stage (misaligned or wrong excitation,
    // filters or gains fall to 0 dB or below).
    constexpr double kMinSegmentalSnrDb = 3.0;
    EXPECT_GT(SegmentalSnr(input, decoded), kMinSegmentalSnrDb);
    // Misaligned by a sample, the same speech scores far lower: the delay is exactly one subframe.
    std::vector<std::int16_t> shifted(decoded.begin() + 1, decoded.end());
    shifted.push_back(0);
    EXPECT_LT(SegmentalSnr(input, shifted), SegmentalSnr(input, decoded) - 1.0);
}

INSTANTIATE_TEST_SUITE_P(Speech, SpeechRoundTrip,
                         testing::Values("s08_en_m_espeak_enus", "s09_en_f_flite_slt"));

} // namespace
} // namespace velmar
