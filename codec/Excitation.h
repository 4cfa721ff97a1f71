// Excitation of a subframe as the decoder rebuilds it, and as the encoder's searches must
// reproduce it: a 5-tap pitch prediction from the past excitation plus four signed pulses of one
// amplitude, sharpened by a short pitch filter.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/FrameFormat.h"

#include <array>
#include <span>

namespace velmar {

// The 145 excitation samples just before the current subframe, oldest first; the sample after the
// last one is the subframe's first.
using ExcitationPast = std::span<const double, kExcitationHistory>;
using PitchVector = std::array<double, kPitchVectorLength>;
using SubframeVector = std::array<double, kSubframeSamples>;

// The past excitation continued periodically at lag L (17..143), from two samples before the
// subframe to two after it: v[k + 2] is sample k of the subframe as the periodic past sees it.
PitchVector BuildPitchVector(ExcitationPast past, int lag) noexcept;

// The 5-tap prediction of row pitchGainIndex at the subframe lag pitchLag + lagDelta - 1.
SubframeVector PitchContribution(ExcitationPast past, int pitchLag, int lagDelta,
                                 int pitchGainIndex) noexcept;

struct Sharpening {
    int lag; // echo distance in samples; 58 or more switches the sharpening off
    double gain;
};

// Sharpening of the pulse vector for subframe lag `subframeLag` and predictor row pitchGainIndex.
Sharpening PitchSharpening(int subframeLag, int pitchGainIndex) noexcept;

// Adds to every sample from the lag on the sample one lag earlier, scaled by the gain, in place
// and in increasing order, so that an echo is echoed again one lag further on. The decoder's pulses
// and the encoder's pulses and impulse response are all sharpened by this one loop.
void Sharpen(std::span<double, kSubframeSamples> v, Sharpening sharpening) noexcept;

// Sample position of pulse `pulse` (0..3) for its position code; kSubframeSamples means "no pulse"
// (the last code of the third track points past the subframe).
int PulsePosition(int pulse, int code) noexcept;

// Bits of each pulse's position code in pulsePositions, lowest pulse first.
inline constexpr std::array<int, kPulsesPerSubframe> kPulsePositionBits = {3, 3, 3, 2};

// The four signed pulses of the subframe at their track positions, sharpened in place.
SubframeVector BuildPulseVector(const SubframeParams& sub, int pitchLag) noexcept;

} // namespace velmar
