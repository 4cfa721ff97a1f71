#include "SpeechSamples.h"

#include "codec/SpeechCodec.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>

namespace velmar::test {

std::vector<std::int16_t> SpeechLikeSignal(int samples, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0.0, 200.0);
    std::vector<std::int16_t> signal(static_cast<std::size_t>(samples));
    double phase = 0.0;
    for (int n = 0; n < samples; ++n) {
        const double t = n / 8000.0;
        const double pitch = 120.0 + 40.0 * std::sin(2.0 * std::numbers::pi * 0.7 * t);
        phase += 2.0 * std::numbers::pi * pitch / 8000.0;
        const double envelope = 0.55 + 0.45 * std::sin(2.0 * std::numbers::pi * 2.5 * t);
        double value = 0.0;
        for (int h = 1; h <= 8; ++h) {
            value += std::sin(h * phase) / h;
        }
        value = 6000.0 * envelope * value + noise(rng);
        signal[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    return signal;
}

std::vector<std::uint8_t> EncodeSamples(const std::vector<std::int16_t>& samples, int effort) {
    CSpeechCodec codec;
    codec.encoderEffort = effort;
    std::vector<std::uint8_t> bytes;
    PackedFrame frame{};
    for (std::size_t at = 0; at + kFrameSamples <= samples.size(); at += kFrameSamples) {
        (void)codec.EncodeFrame(ConstSampleFrame(samples.data() + at, kFrameSamples), frame, 50);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

std::vector<std::int16_t> DecodeBytes(const std::vector<std::uint8_t>& bytes, DecodeMode mode) {
    CSpeechCodec codec;
    CPostFilter postFilter;
    std::vector<std::int16_t> samples;
    std::array<std::int16_t, kFrameSamples> decoded{};
    for (std::size_t at = 0; at + kPackedFrameBytes <= bytes.size(); at += kPackedFrameBytes) {
        const ConstPackedFrameView frame(bytes.data() + at, kPackedFrameBytes);
        if (mode == DecodeMode::Enhanced) {
            DecodeEnhancedFrame(codec, postFilter, frame, decoded);
        } else {
            codec.DecodeFrame(frame, decoded, 0);
        }
        samples.insert(samples.end(), decoded.begin(), decoded.end());
    }
    return samples;
}

std::vector<std::uint8_t> RandomFrameBytes(int count, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    for (std::uint8_t& b : bytes) {
        b = static_cast<std::uint8_t>(byte(rng));
    }
    return bytes;
}

} // namespace velmar::test
