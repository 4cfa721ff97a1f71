#include "codec/Excitation.h"

#include "codec/Arithmetic.h"
#include "codec/tables/PitchTables.h"
#include "codec/tables/PulseTables.h"

#include <algorithm>
#include <cassert>

namespace velmar {
namespace {

// Track t places pulse t at trackStep * code + trackStart.
constexpr std::array<int, kPulsesPerSubframe> kTrackStart = {0, 2, 4, 6};
constexpr std::array<int, kPulsesPerSubframe> kTrackStep = {8, 8, 8, 16};

} // namespace

PitchVector BuildPitchVector(ExcitationPast past, int lag) noexcept {
    assert(lag >= kMinSubframeLag && lag <= kMaxSubframeLag);
    PitchVector v;
    const double* start = past.data() + kExcitationHistory - 2 - lag;
    if (lag >= kPitchVectorLength - 2) {
        // One stretch of the past: copied whole, without a library call.
        __builtin_memcpy(v.data(), start, sizeof v);
        return v;
    }
    // Two samples, then the last `lag` past samples repeated as often as the vector needs.
    for (int j = 0; j < lag + 2; ++j) {
        v[static_cast<std::size_t>(j)] = start[j];
    }
    for (int j = lag + 2; j < kPitchVectorLength; ++j) {
        v[static_cast<std::size_t>(j)] = v[static_cast<std::size_t>(j - lag)];
    }
    return v;
}

SubframeVector PitchContribution(ExcitationPast past, int pitchLag, int lagDelta,
                                 int pitchGainIndex) noexcept {
    const PitchVector v = BuildPitchVector(past, pitchLag + lagDelta - 1);
    const double* taps = PitchTapTable[pitchGainIndex].data();
    // Two neighbouring outputs side by side, each summed over the taps in order.
    static_assert(kSubframeSamples % 2 == 0);
    SubframeVector out{};
    for (int n = 0; n < kSubframeSamples; n += 2) {
        DoublePair sum = {};
#pragma GCC unroll 5
        for (int k = 0; k < kPitchTaps; ++k) {
            sum += DoublePair{taps[k], taps[k]} * LoadPair(v.data() + n + k);
        }
        out[n] = sum[0];
        out[n + 1] = sum[1];
    }
    return out;
}

Sharpening PitchSharpening(int subframeLag, int pitchGainIndex) noexcept {
    return {subframeLag + SharpenLagOffset[pitchGainIndex], SharpenGain[pitchGainIndex]};
}

void Sharpen(std::span<double, kSubframeSamples> v, Sharpening sharpening) noexcept {
    if (sharpening.lag >= kSharpenLagLimit) {
        return;
    }
    for (int n = sharpening.lag; n < kSubframeSamples; ++n) {
        v[n] = v[n] + sharpening.gain * v[n - sharpening.lag];
    }
}

int PulsePosition(int pulse, int code) noexcept {
    return kTrackStep[pulse] * code + kTrackStart[pulse];
}

SubframeVector BuildPulseVector(const SubframeParams& sub, int pitchLag) noexcept {
    SubframeVector v{};
    const double amplitude = PulseGainTable[sub.pulseGainIndex];
    int shift = 0;
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        const int code = (sub.pulsePositions >> shift) & ((1 << kPulsePositionBits[t]) - 1);
        shift += kPulsePositionBits[t];
        const int position = PulsePosition(t, code);
        if (position < kSubframeSamples) {
            v[position] = ((sub.pulseSigns >> t) & 1) != 0 ? amplitude : -amplitude;
        }
    }

    Sharpen(v, PitchSharpening(pitchLag + sub.lagDelta - 1, sub.pitchGainIndex));
    return v;
}

} // namespace velmar
