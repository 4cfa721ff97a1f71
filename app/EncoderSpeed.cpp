#include "app/EncoderSpeed.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

namespace velmar {

double MeasureRealTimeFactor(int effort, int frames) {
    // A voiced sound with a gliding pitch and some noise: the searches do their full work on it,
    // as on speech (silence would be quick and say nothing).
    std::vector<std::int16_t> sound(static_cast<std::size_t>(frames) * kFrameSamples);
    std::uint32_t noise = 12345;
    for (std::size_t n = 0; n < sound.size(); ++n) {
        const double t = static_cast<double>(n) / kSampleRate;
        const double pitch = 110.0 + 40.0 * std::sin(2.0 * 3.141592653589793 * 0.7 * t);
        double value = 0.0;
        for (int harmonic = 1; harmonic <= 8; ++harmonic) {
            value += std::sin(2.0 * 3.141592653589793 * pitch * harmonic * t) / harmonic;
        }
        noise = noise * 1664525u + 1013904223u;
        value = 6000.0 * value + static_cast<double>(static_cast<std::int32_t>(noise >> 20) - 2048);
        sound[n] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    CSpeechCodec codec;
    codec.encoderEffort = effort;
    PackedFrame frame{};
    const auto started = std::chrono::steady_clock::now();
    for (int k = 0; k < frames; ++k) {
        (void)codec.EncodeFrame(ConstSampleFrame(sound.data() + static_cast<std::size_t>(k) * kFrameSamples,
                                                 kFrameSamples),
                                frame, 50);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const double speech = static_cast<double>(frames) * kFrameSamples / kSampleRate;
    return seconds > 0.0 ? speech / seconds : 1e9;
}

std::array<bool, kWindowEfforts> AllowedEfforts(const std::array<double, kWindowEfforts>& realTimeFactors) {
    std::array<bool, kWindowEfforts> allowed{};
    for (int effort = 0; effort < kWindowEfforts; ++effort) {
        allowed[static_cast<std::size_t>(effort)] =
            effort == 0 || realTimeFactors[static_cast<std::size_t>(effort)] >= kRequiredRealTime;
    }
    return allowed;
}

int UsableEffort(int wanted, const std::array<bool, kWindowEfforts>& allowed) {
    for (int effort = std::clamp(wanted, 0, kWindowEfforts - 1); effort > 0; --effort) {
        if (allowed[static_cast<std::size_t>(effort)]) {
            return effort;
        }
    }
    return 0;
}

} // namespace velmar
