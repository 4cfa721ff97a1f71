// Conformance: frame files decoded by an independent implementation of the same codec, with the
// exact samples and LSPs a correct decoder produces. Every sample must match bit for bit.
#include "codec/SpeechCodec.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

struct DecoderVector {
    std::string folder;
    std::string name;
    std::string expectedPcm; // file name of the expected samples
    bool hasLsp;
};

std::ostream& operator<<(std::ostream& out, const DecoderVector& v) {
    return out << v.folder << "/" << v.name;
}

class DecoderVectors : public testing::TestWithParam<DecoderVector> {};

TEST_P(DecoderVectors, ReproduceEverySample) {
    const DecoderVector& v = GetParam();
    const auto dir = test::DataDir() / "vectors" / v.folder;
    const std::vector<std::uint8_t> frames = test::ReadBytes(dir / (v.name + ".prm"));
    const std::vector<std::int16_t> expected = test::ReadPcm16(dir / v.expectedPcm);
    ASSERT_EQ(frames.size() % kPackedFrameBytes, 0u);
    const std::size_t frameCount = frames.size() / kPackedFrameBytes;
    ASSERT_EQ(expected.size(), frameCount * kFrameSamples);
    std::vector<std::string> lspLines;
    if (v.hasLsp) {
        lspLines = test::ReadLines(dir / (v.name + ".lsp.jsonl"));
        ASSERT_EQ(lspLines.size(), frameCount);
    }

    CSpeechCodec codec;
    std::array<std::int16_t, kFrameSamples> out{};
    for (std::size_t f = 0; f < frameCount; ++f) {
        codec.DecodeFrame(ConstPackedFrameView(frames.data() + f * kPackedFrameBytes, kPackedFrameBytes),
                          out);
        if (v.hasLsp) {
            const std::vector<double> lsp = test::JsonNumbers(lspLines[f], "lsp");
            ASSERT_EQ(lsp.size(), static_cast<std::size_t>(kLpcOrder));
            for (int j = 0; j < kLpcOrder; ++j) {
                ASSERT_EQ(codec.decPrevLsp[j], lsp[j]) << "frame " << f << " LSP " << j;
            }
        }
        for (int n = 0; n < kFrameSamples; ++n) {
            ASSERT_EQ(out[n], expected[f * kFrameSamples + n]) << "frame " << f << " sample " << n;
        }
    }
}

std::vector<DecoderVector> AllVectors() {
    std::vector<DecoderVector> vectors;
    for (const char* name : {"random_bytes", "crafted", "negative_lsp"}) {
        vectors.push_back({"decoder", name, std::string(name) + ".pcm", true});
    }
    for (const char* name : {"chirp", "dc_steps", "impulses", "noise_white", "s08_en_m_espeak_enus",
                             "s09_en_f_flite_slt", "silence", "sine_1000hz", "square_fullscale"}) {
        vectors.push_back({"encoder", name, std::string(name) + ".decoded.pcm", false});
    }
    return vectors;
}

INSTANTIATE_TEST_SUITE_P(Files, DecoderVectors, testing::ValuesIn(AllVectors()),
                         [](const testing::TestParamInfo<DecoderVector>& param) {
                             return param.param.folder + "_" + param.param.name;
                         });

} // namespace
} // namespace velmar
