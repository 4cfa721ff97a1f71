#include "codec/VoiceActivity.h"

#include "codec/SpeechCodec.h"
#include "codec/tables/VadTables.h"

#include <gtest/gtest.h>

#include <cmath>

namespace velmar {
namespace {

using Frame = std::array<double, kFrameSamples>;

// A frame whose last 180 samples (the part the detector measures) have energy `energy`.
Frame FrameWithEnergy(double energy) {
    Frame x{};
    const double amplitude = std::sqrt(2.0 * energy);
    for (int n = kEncoderDelay; n < kFrameSamples; ++n) {
        x[n] = n % 2 == 0 ? amplitude : -amplitude;
    }
    return x;
}

TEST(VoiceActivity, FreshStateJudgesSilenceInactive) {
    CSpeechCodec codec;
    EXPECT_EQ(DetectVoiceActivity(Frame{}, 50, false, codec.encoder.vad), 0);
    EXPECT_EQ(codec.encoder.vad.vadBurst, 0);
    EXPECT_EQ(codec.encoder.vad.vadHangover, 0);
    EXPECT_EQ(codec.encoder.vad.vadPrevEnergy, 0.0);
    // Lags 1, 1, 60, 60 are not periodic: the noise level creeps up from 1024.
    EXPECT_EQ(codec.encoder.vad.vadAdapt, 0);
    EXPECT_EQ(codec.encoder.vad.vadNoiseLevel, 1024.0 * 1.03125);
    EXPECT_EQ(codec.encoder.vad.vadLags, (std::array<std::int16_t, 4>{60, 60, 60, 60}));

    CSpeechCodec encoder;
    PackedFrame out{};
    const std::array<std::int16_t, kFrameSamples> zeros{};
    EXPECT_EQ(encoder.EncodeFrame(zeros, out), 0);
}

TEST(VoiceActivity, ScaleTableHoldsItsElevenValues) {
    const std::array<double, 11> expected = {20529, 18296, 16306, 14533, 12953, 11544,
                                             10289, 9170,  9170,  9170,  9170};
    EXPECT_EQ(VadScaleTable, expected);
    EXPECT_EQ(kVadScaleFirstExponent, 8);
}

TEST(VoiceActivity, ThresholdFollowsTheNoiseLevelAndSensitivity) {
    // 1024 = 0.5 * 2^11: the scale is S(11) = 14533 exactly.
    EXPECT_DOUBLE_EQ(VadThreshold(1024.0, 50), 14533.0 * 1024.0 / 4096.0 * 0.7);
    // 1056 = 0.515625 * 2^11: k = 66, a sixteenth of the way from S(11) to S(12).
    EXPECT_DOUBLE_EQ(VadThreshold(1056.0, 50),
                     (0.96875 * 14533.0 + 0.03125 * 12953.0) * 1056.0 / 4096.0 * 0.7);
    EXPECT_DOUBLE_EQ(VadThreshold(131071.0, 100), 9170.0 * 131071.0 / 4096.0);
    EXPECT_DOUBLE_EQ(VadThreshold(5000.0, 100) / VadThreshold(5000.0, 0), 2.5);
    for (double noise = 128.0; noise < 131071.0; noise *= 1.37) {
        EXPECT_LT(VadThreshold(noise, 50), VadThreshold(noise * 1.37, 50)) << noise;
    }
}

TEST(VoiceActivity, SensitivityDecidesABorderlineFrame) {
    const double noise = CSpeechCodec{}.encoder.vad.vadNoiseLevel * 1.03125; // after the first frame's creep
    const double energy = 0.5 * (VadThreshold(noise, 0) + VadThreshold(noise, 100));
    CSpeechCodec keen;
    EXPECT_EQ(DetectVoiceActivity(FrameWithEnergy(energy), 0, false, keen.encoder.vad), 1);
    CSpeechCodec deaf;
    EXPECT_EQ(DetectVoiceActivity(FrameWithEnergy(energy), 100, false, deaf.encoder.vad), 0);
}

TEST(VoiceActivity, HangoverHoldsTheFlagAfterABurst) {
    CSpeechCodec codec;
    const Frame loud = FrameWithEnergy(4.0e6);
    const Frame quiet{};
    EXPECT_EQ(DetectVoiceActivity(quiet, 50, false, codec.encoder.vad), 0);
    EXPECT_EQ(DetectVoiceActivity(loud, 50, false, codec.encoder.vad),
              1); // the first loud frame already counts
    EXPECT_EQ(codec.encoder.vad.vadHangover, 1);
    EXPECT_EQ(DetectVoiceActivity(loud, 50, false, codec.encoder.vad), 1);
    EXPECT_EQ(codec.encoder.vad.vadHangover, 6);
    // The burst counts down first, then the hangover runs out one frame at a time.
    for (int f = 0; f < 7; ++f) {
        EXPECT_EQ(DetectVoiceActivity(quiet, 50, false, codec.encoder.vad), 1) << "quiet frame " << f;
    }
    EXPECT_EQ(DetectVoiceActivity(quiet, 50, false, codec.encoder.vad), 0);
    EXPECT_EQ(codec.encoder.vad.vadHangover, 0);
    EXPECT_EQ(codec.encoder.vad.vadBurst, 0);
}

TEST(VoiceActivity, SingleLoudFrameHasNoLongHangover) {
    CSpeechCodec codec;
    EXPECT_EQ(DetectVoiceActivity(FrameWithEnergy(4.0e6), 50, false, codec.encoder.vad), 1);
    EXPECT_EQ(DetectVoiceActivity(Frame{}, 50, false, codec.encoder.vad),
              1); // the burst's own frame of hangover
    EXPECT_EQ(DetectVoiceActivity(Frame{}, 50, false, codec.encoder.vad), 0);
}

TEST(VoiceActivity, PeriodicLagsOrATonePullTheNoiseLevelDown) {
    CSpeechCodec periodic;
    periodic.encoder.vad.vadLags = {40, 80, 40, 120}; // multiples of 40: exactly four matches
    DetectVoiceActivity(Frame{}, 50, false, periodic.encoder.vad);
    EXPECT_EQ(periodic.encoder.vad.vadAdapt, 2);
    EXPECT_EQ(periodic.encoder.vad.vadNoiseLevel, 1024.0 * 0.99951171875);

    CSpeechCodec tone;
    DetectVoiceActivity(Frame{}, 50, true, tone.encoder.vad);
    EXPECT_EQ(tone.encoder.vad.vadAdapt, 2);
}

} // namespace
} // namespace velmar
