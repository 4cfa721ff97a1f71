#include "codec/RecordingCheck.h"

#include "codec/CodecConstants.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace velmar {
namespace {

std::vector<std::uint8_t> Vector(const std::string& name) {
    return test::ReadBytes(test::DataDir() / "vectors" / name);
}

// A canonical 44-byte WAV header for 8 kHz 16-bit mono followed by `pcm`.
std::vector<std::uint8_t> WavFile(const std::vector<std::uint8_t>& pcm) {
    std::vector<std::uint8_t> bytes(44, 0);
    std::memcpy(bytes.data(), "RIFF", 4);
    std::memcpy(bytes.data() + 8, "WAVEfmt ", 8);
    bytes[16] = 16;
    bytes[20] = 1;
    bytes[22] = 1;
    bytes[24] = 0x40;
    bytes[25] = 0x1F;
    std::memcpy(bytes.data() + 36, "data", 4);
    bytes.insert(bytes.end(), pcm.begin(), pcm.end());
    return bytes;
}

// Makes frame `index` of `bytes` invalid: an undefined gain code in its first subframe.
void SpoilFrame(std::vector<std::uint8_t>& bytes, int index) {
    std::uint8_t* frame = bytes.data() + static_cast<std::size_t>(index) * kPackedFrameBytes;
    frame[9] |= 0xF0; // gain code of subframe 0: bits 76 .. 85, all set = 1023
    frame[10] |= 0x3F;
}

// The shipped sample is a copy of the second speech vector.
TEST(RecordingCheck, EveryEncoderVectorIsARecording) {
    for (const char* name :
         {"encoder/chirp.prm", "encoder/dc_steps.prm", "encoder/impulses.prm", "encoder/noise_white.prm",
          "encoder/s08_en_m_espeak_enus.prm", "encoder/s09_en_f_flite_slt.prm", "encoder/silence.prm",
          "encoder/sine_1000hz.prm", "encoder/square_fullscale.prm"}) {
        SCOPED_TRACE(name);
        const std::vector<std::uint8_t> bytes = Vector(name);
        const LeadingFramesVerdict verdict = JudgeLeadingFrames(bytes);
        EXPECT_TRUE(verdict.IsPlausible());
        EXPECT_EQ(verdict.invalidFrames, 0) << "the encoder makes no invalid frame";
        EXPECT_EQ(verdict.framesJudged, std::min<int>(kJudgedFrames, bytes.size() / kPackedFrameBytes));
    }
}

TEST(RecordingCheck, WavRandomBytesAndRawSamplesAreNotRecordings) {
    const std::vector<std::uint8_t> pcm = Vector("encoder/s08_en_m_espeak_enus.pcm");
    const LeadingFramesVerdict wav = JudgeLeadingFrames(WavFile(pcm));
    EXPECT_EQ(wav.judgement, FrameJudgement::ContainerSignature);
    EXPECT_STREQ(wav.container, "WAV (RIFF)");

    // Without its header the same speech still gives itself away by its frames.
    const LeadingFramesVerdict raw = JudgeLeadingFrames(pcm);
    EXPECT_EQ(raw.judgement, FrameJudgement::InvalidFrames);
    EXPECT_GE(raw.invalidFrames, kInvalidFramesOfNonRecording);

    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    std::vector<std::uint8_t> noise(kJudgedFrames * kPackedFrameBytes);
    for (std::uint8_t& byte : noise) {
        byte = static_cast<std::uint8_t>(rng());
    }
    EXPECT_EQ(JudgeLeadingFrames(noise).judgement, FrameJudgement::InvalidFrames);
}

TEST(RecordingCheck, OnlyTheFirstHundredFramesCountAndFiveInvalidOnesRefuse) {
    std::vector<std::uint8_t> bytes = Vector("encoder/s08_en_m_espeak_enus.prm");
    const std::vector<std::uint8_t> more = Vector("encoder/s09_en_f_flite_slt.prm");
    bytes.insert(bytes.end(), more.begin(), more.end());
    ASSERT_GT(bytes.size(), 200u * kPackedFrameBytes);
    for (int i = 100; i < 200; ++i) {
        SpoilFrame(bytes, i); // past the judged frames: they do not count
    }
    for (int i = 0; i < kInvalidFramesOfNonRecording - 1; ++i) {
        SpoilFrame(bytes, i * 20);
    }
    EXPECT_TRUE(JudgeLeadingFrames(bytes).IsPlausible()) << "a damaged recording still plays";
    EXPECT_EQ(JudgeLeadingFrames(bytes).invalidFrames, kInvalidFramesOfNonRecording - 1);
    SpoilFrame(bytes, 99);
    EXPECT_EQ(JudgeLeadingFrames(bytes).judgement, FrameJudgement::InvalidFrames);
}

TEST(RecordingCheck, ShortInputsAreJudgedByWhatTheyHold) {
    EXPECT_TRUE(JudgeLeadingFrames({}).IsPlausible());
    const std::vector<std::uint8_t> id3 = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(JudgeLeadingFrames(id3).judgement, FrameJudgement::ContainerSignature)
        << "a signature needs no whole frame";
    EXPECT_EQ(JudgeLeadingFrames(id3).framesJudged, 0);
}

} // namespace
} // namespace velmar
