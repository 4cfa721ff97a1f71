// The fixed-codebook search: four signed pulses on interleaved tracks, found by a budgeted
// depth-first search on the backward-filtered target, sharpened by the pitch as the decoder
// sharpens them, and scaled by one of 24 amplitudes.
#pragma once

#include "codec/Excitation.h"
#include "codec/FrameFormat.h"
#include "codec/Weighting.h"

#include <array>
#include <cstdint>

namespace velmar {

// Target correlated with the impulse response, padded with zeros past the subframe so that the
// tracks' positions 60 .. 63 read nothing.
using BackwardTarget = std::array<double, kPulseTargetLength>;

// Correlations r(p, q) of the impulse response at the tracks' positions. Track t has positions
// 8k + 2t (k = 0 .. 7); the fourth track's odd k are never searched but kept for a uniform layout.
// cross[pair][k][m] is r(8k + 2a, 8m + 2b) for the track pairs (a, b) in kTrackPairOrder.
struct ImpulseCorrelations {
    std::array<std::array<double, kTrackPositions>, kPulsesPerSubframe> diagonal{};
    std::array<std::array<std::array<double, kTrackPositions>, kTrackPositions>, kTrackPairs> cross{};
};
static_assert(sizeof(ImpulseCorrelations) == kImpulseCorrelationValues * sizeof(double));

inline constexpr std::array<std::array<int, 2>, kTrackPairs> kTrackPairOrder = {
    {{0, 1}, {0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}};

struct PulseChoice {
    std::int32_t positions = 0; // track codes, as in SubframeParams::pulsePositions
    std::int32_t signs = 0;     // bit t set: pulse t positive
    SubframeVector code{};      // the unit pulses, signed
    SubframeVector filtered{};  // the unit pulses filtered by the impulse response
};

struct PulseGain {
    int index = 0;
    double amplitude = 0.0;
};

struct PulseCode {
    std::int32_t positions = 0;
    std::int32_t signs = 0;
    int gainIndex = 0;
};

// Subframe j of params after its pitch search: finds the pulses for target t and replaces t by the
// scaled, sharpened pulse excitation. h (the impulse response) is sharpened in place.
void SearchFixedCodebook(SubframeSignal t, SubframeVector& h, FrameParams& params, int j,
                         std::int16_t& searchBudget) noexcept;

// Sharpens h with lag sharpenLag and gain sharpenGain (when the lag is below 58), searches the
// pulses, quantises their amplitude and writes the sharpened excitation to out, which may be t.
PulseCode CodePulses(ConstSubframeSignal t, SubframeVector& h, int sharpenLag, SubframeSignal out,
                     double sharpenGain, std::int16_t& searchBudget) noexcept;

ImpulseCorrelations CorrelateImpulse(const SubframeVector& h) noexcept;

// d[n] = sum of t[n + i] h[i]: the correlation of the target with a pulse at n.
BackwardTarget BackwardFilterTarget(const SubframeVector& h, ConstSubframeSignal t) noexcept;

// Depth-first search over the four tracks. Signs are fixed beforehand per pair of positions and
// folded into d (which is changed) and into the cross terms; only triples whose correlation
// passes a threshold try the fourth pulse, and each such triple spends one unit of the budget
// (searchBudget + 120 for this subframe). searchBudget receives what is left.
PulseChoice SearchPulses(BackwardTarget& d, const ImpulseCorrelations& rr, const SubframeVector& h,
                         std::int16_t& searchBudget) noexcept;

// Nearest amplitude to the optimal gain of the filtered pulses; a non-positive correlation with
// the target gives the smallest amplitude.
PulseGain QuantisePulseGain(ConstSubframeSignal t, const SubframeVector& y) noexcept;

} // namespace velmar
