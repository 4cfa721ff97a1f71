// Conformance: inputs coded by an independent implementation of the same encoder, with the exact
// frames a correct encoder produces and a dump of its intermediate values. Every byte must match;
// on a mismatch the first differing value, in the order the encoder computes them, names the stage.
#include "codec/Encoder.h"
#include "codec/SpeechCodec.h"
#include "codec/VoiceActivity.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace velmar {
namespace {

// The number after "key": in one line of a .jsonl dump.
double JsonScalar(const std::string& line, const std::string& key) {
    const std::size_t at = line.find("\"" + key + "\":");
    if (at == std::string::npos) {
        ADD_FAILURE() << "no key " << key;
        return 0.0;
    }
    return std::strtod(line.c_str() + at + key.size() + 3, nullptr);
}

// Describes the first value of the encoder's output that differs from the dump, or returns "".
std::string FirstDifference(const std::string& line, const EncoderTrace& trace, const CSpeechCodec& codec,
                            std::int16_t flag) {
    std::ostringstream out;
    out.precision(17);
    auto same = [&](const char* field, int index, double actual, double expected) {
        if (actual == expected) {
            return true;
        }
        out << field;
        if (index >= 0) {
            out << "[" << index << "]";
        }
        out << ": encoder " << actual << ", expected " << expected;
        return false;
    };
    auto sameArray = [&](const char* key, const std::vector<double>& actual) {
        const std::vector<double> expected = test::JsonNumbers(line, key);
        if (expected.size() != actual.size()) {
            out << key << ": " << expected.size() << " values in the dump";
            return false;
        }
        for (std::size_t i = 0; i < actual.size(); ++i) {
            if (!same(key, static_cast<int>(i), actual[i], expected[i])) {
                return false;
            }
        }
        return true;
    };

    const FrameParams& p = trace.params;
    std::vector<double> harmonic;
    std::vector<double> sub;
    for (int j = 0; j < kSubframes; ++j) {
        harmonic.push_back(trace.harmonic[j].lag);
        harmonic.push_back(trace.harmonic[j].gain);
        sub.push_back(p.sub[j].lagDelta);
        sub.push_back(p.sub[j].pitchGainIndex);
        sub.push_back(p.sub[j].pulseGainIndex);
        sub.push_back(p.sub[j].pulseSigns);
        sub.push_back(p.sub[j].pulsePositions);
    }
    const bool ok =
        sameArray("lspUnquantised", {trace.lspUnquantised.begin(), trace.lspUnquantised.end()}) &&
        same("lspIndex", -1, p.lspIndex, JsonScalar(line, "lspIndex")) &&
        same("vadEnergy", -1, codec.encoder.vad.vadPrevEnergy, JsonScalar(line, "vadEnergy")) &&
        same("vadThreshold", -1, VadThreshold(codec.encoder.vad.vadNoiseLevel, 50),
             JsonScalar(line, "vadThreshold")) &&
        same("sineDetector", -1, codec.encoder.lpc.sineDetector, JsonScalar(line, "sineDetector")) &&
        same("vad", -1, flag, JsonScalar(line, "vad")) &&
        sameArray("vadLags", {static_cast<double>(codec.encoder.vad.vadLags[2]),
                              static_cast<double>(codec.encoder.vad.vadLags[3])}) &&
        sameArray("harmonic", harmonic) &&
        sameArray("lspQuantised",
                  {codec.encoder.lpc.encPrevLsp.begin(), codec.encoder.lpc.encPrevLsp.end()}) &&
        sameArray("pitchLag", {static_cast<double>(p.pitchLag[0]), static_cast<double>(p.pitchLag[1])}) &&
        sameArray("sub", sub) &&
        same("searchBudget", -1, codec.encoder.search.searchBudget, JsonScalar(line, "searchBudget"));
    return ok ? std::string() : out.str();
}

class EncoderVectors : public testing::TestWithParam<std::string> {};

TEST_P(EncoderVectors, ReproduceEveryFrame) {
    const auto dir = test::DataDir() / "vectors" / "encoder";
    const std::vector<std::int16_t> input = test::ReadPcm16(dir / (GetParam() + ".pcm"));
    const std::vector<std::uint8_t> expected = test::ReadBytes(dir / (GetParam() + ".prm"));
    const std::vector<std::string> dump = test::ReadLines(dir / (GetParam() + ".params.jsonl"));
    const std::size_t frameCount = input.size() / kFrameSamples; // a trailing part frame is not coded
    ASSERT_GT(frameCount, 0u);
    ASSERT_EQ(expected.size(), frameCount * kPackedFrameBytes);
    ASSERT_EQ(dump.size(), frameCount);

    CSpeechCodec codec;
    EncoderTrace trace;
    PackedFrame frame{};
    for (std::size_t f = 0; f < frameCount; ++f) {
        const std::int16_t flag = EncodeFrameTraced(
            codec, ConstSampleFrame(input.data() + f * kFrameSamples, kFrameSamples), frame, 50, &trace);
        const std::string difference = FirstDifference(dump[f], trace, codec, flag);
        ASSERT_EQ(difference, "") << "frame " << f;
        for (int b = 0; b < kPackedFrameBytes; ++b) {
            ASSERT_EQ(frame[b], expected[f * kPackedFrameBytes + b]) << "frame " << f << " byte " << b;
        }
    }
}

// The public entry point codes exactly what the traced one does.
TEST_P(EncoderVectors, EncodeFrameMatchesTheFrameFile) {
    const auto dir = test::DataDir() / "vectors" / "encoder";
    const std::vector<std::int16_t> input = test::ReadPcm16(dir / (GetParam() + ".pcm"));
    const std::vector<std::uint8_t> expected = test::ReadBytes(dir / (GetParam() + ".prm"));
    const std::size_t frameCount = input.size() / kFrameSamples;
    std::vector<std::uint8_t> coded(frameCount * kPackedFrameBytes);
    CSpeechCodec codec;
    for (std::size_t f = 0; f < frameCount; ++f) {
        codec.EncodeFrame(ConstSampleFrame(input.data() + f * kFrameSamples, kFrameSamples),
                          PackedFrameView(coded.data() + f * kPackedFrameBytes, kPackedFrameBytes));
    }
    EXPECT_EQ(coded, expected);
}

INSTANTIATE_TEST_SUITE_P(Files, EncoderVectors,
                         testing::Values("chirp", "dc_steps", "impulses", "noise_white",
                                         "s08_en_m_espeak_enus", "s09_en_f_flite_slt", "silence",
                                         "sine_1000hz", "square_fullscale"));

} // namespace
} // namespace velmar
