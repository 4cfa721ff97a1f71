#include "codec/VoiceActivity.h"

#include "codec/Arithmetic.h"
#include "codec/tables/VadTables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmar {
namespace {

// Periodicity test: how close a multiple of the shortest recent lag must come to each lag.
constexpr int kVadLagLimit = 145;
constexpr int kVadLagMultiples = 8;
constexpr int kVadLagTolerance = 3;
constexpr int kVadPeriodicCount = 4;

constexpr int kVadAdaptMax = 6;
constexpr int kVadAdaptRise = 2;
constexpr int kVadBurstMax = 3;
constexpr int kVadBurstForHangover = 2;
constexpr int kVadHangoverFrames = 6;

// The energy is taken over the 180 newest samples (the part of the frame not yet coded).
constexpr int kVadEnergyStart = kEncoderDelay;
constexpr int kVadEnergySamples = kFrameSamples - kVadEnergyStart;

// The noise level follows a falling energy quickly and creeps otherwise: up while no periodic
// (voiced) signal is seen, slowly down while one is.
constexpr double kNoiseFollowOld = 0.75;
constexpr double kNoiseFollowNew = 0.25;
constexpr double kNoiseRise = 1.03125;
constexpr double kNoiseFall = 0.99951171875;
constexpr double kNoiseMin = 128.0;
constexpr double kNoiseMax = 131071.0;

constexpr double kScaleMantissaSteps = 128.0;
constexpr double kScaleInterpolationSteps = 64.0;
constexpr double kScaleUnit = 4096.0;
constexpr double kSensitivityBase = 0.4;
constexpr double kSensitivityStep = 0.006;

} // namespace

double VadThreshold(double noiseLevel, std::int16_t sensitivity) noexcept {
    int exponent = 0;
    const double mantissa = std::frexp(noiseLevel, &exponent); // 0.5 <= mantissa < 1
    const int index = std::clamp(exponent, kVadScaleFirstExponent,
                                 kVadScaleFirstExponent + static_cast<int>(VadScaleTable.size()) - 2) -
                      kVadScaleFirstExponent;
    const double k = std::floor(kScaleMantissaSteps * mantissa);
    const double f = k / kScaleInterpolationSteps - 1.0;
    const double scale = (1.0 - f) * VadScaleTable[index] + f * VadScaleTable[index + 1];
    return scale * noiseLevel / kScaleUnit * (kSensitivityBase + kSensitivityStep * sensitivity);
}

std::int16_t DetectVoiceActivity(ConstFrameSignal x, std::int16_t sensitivity, bool tone,
                                 VadState& state) noexcept {
    // Voiced speech shows consistent lags; a steady sine wave is treated alike, so that the noise
    // level does not climb onto a tone.
    int shortest = kVadLagLimit;
    for (const std::int16_t lag : state.vadLags) {
        shortest = std::min(shortest, static_cast<int>(lag));
    }
    int matches = 0;
    for (const std::int16_t lag : state.vadLags) {
        for (int m = 1; m <= kVadLagMultiples; ++m) {
            if (std::abs(m * shortest - lag) <= kVadLagTolerance) {
                ++matches;
            }
        }
    }
    int adapt = state.vadAdapt;
    if (matches == kVadPeriodicCount || tone) {
        adapt += kVadAdaptRise;
    } else {
        adapt -= 1;
    }
    state.vadAdapt = static_cast<std::int16_t>(std::clamp(adapt, 0, kVadAdaptMax));

    const double* newest = x.data() + kVadEnergyStart;
    const double energy = 0.5 * (1.0 / kVadEnergySamples) * DotProduct(newest, newest, kVadEnergySamples);

    double noise = state.vadNoiseLevel;
    if (noise > state.vadPrevEnergy) {
        noise = kNoiseFollowOld * state.vadPrevEnergy + kNoiseFollowNew * noise;
    }
    noise = noise * (state.vadAdapt == 0 ? kNoiseRise : kNoiseFall);
    state.vadPrevEnergy = energy;
    state.vadNoiseLevel = std::clamp(noise, kNoiseMin, kNoiseMax);

    const double threshold = VadThreshold(state.vadNoiseLevel, sensitivity);
    int burst = state.vadBurst;
    int hangover = state.vadHangover;
    std::int16_t flag = 1;
    if (threshold > energy) {
        burst = std::max(burst - 1, 0);
        flag = 0;
    } else {
        ++burst;
        ++hangover;
    }
    if (burst >= kVadBurstForHangover) {
        hangover = kVadHangoverFrames;
        burst = std::min(burst, kVadBurstMax);
    }
    if (hangover != 0) {
        flag = 1;
        if (burst == 0) {
            --hangover;
        }
    }
    state.vadBurst = static_cast<std::int16_t>(burst);
    state.vadHangover = static_cast<std::int16_t>(hangover);
    state.vadLags[0] = state.vadLags[2];
    state.vadLags[1] = state.vadLags[3];
    return flag;
}

void NoteOpenLoopLags(VadState& state, const std::array<std::int32_t, 2>& lags) noexcept {
    state.vadLags[2] = static_cast<std::int16_t>(lags[0]);
    state.vadLags[3] = static_cast<std::int16_t>(lags[1]);
}

} // namespace velmar
