// Test signals for the encoder's tests: whole frames of tones, noise and extreme waveforms.
#pragma once

#include "codec/CodecConstants.h"
#include "support/TestData.h"

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace velmar::test {

// `frames` frames of a sine of `hz` and `amplitude`, phase-continuous across frames.
inline std::vector<std::int16_t> Sine(double hz, double amplitude, int frames) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * kFrameSamples);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double v =
            amplitude * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(n) / kSampleRate);
        samples[n] = static_cast<std::int16_t>(std::lround(v));
    }
    return samples;
}

// Uniform white noise in [-amplitude, amplitude].
inline std::vector<std::int16_t> Noise(Rng& rng, int amplitude, int frames) {
    std::uniform_int_distribution<int> dist(-amplitude, amplitude);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * kFrameSamples);
    for (auto& s : samples) {
        s = static_cast<std::int16_t>(dist(rng));
    }
    return samples;
}

// Two-level square wave with `period` samples (half high, half low).
inline std::vector<std::int16_t> Square(int period, std::int16_t high, std::int16_t low, int frames) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames) * kFrameSamples);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        samples[n] =
            (n % static_cast<std::size_t>(period)) < static_cast<std::size_t>(period / 2) ? high : low;
    }
    return samples;
}

} // namespace velmar::test
