// The encoder's perceptual filters and open-loop pitch analysis: the weighting filter
// W(z) = A(z/0.9) / A(z/0.5) applied to the speech, the open-loop lags, the harmonic noise
// weighting P(z) = 1 - g z^-L, and per subframe the impulse response and zero-input response of
// the combined filter W(z) P(z) / Â(z) together with the update of the local decoder's memories.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/Excitation.h"
#include "codec/LpcAnalysis.h"
#include "codec/Lsp.h"
#include "codec/SpeechCodec.h"

#include <array>
#include <span>

namespace velmar {

// Weighting filter of one subframe: numerator coefficients a_k 0.9^k (k = 1 .. 10) followed by the
// denominator coefficients a_k 0.5^k.
using WeightingSet = std::array<double, 2 * kLpcOrder>;
using SubframeWeightings = std::array<WeightingSet, kSubframes>;

// The weighted history followed by the weighted samples of the current frame.
using WeightedBuffer = std::span<const double, kWeightedBufferSize>;
using WeightedHistory = std::array<double, kWeightedHistory>;

using SubframeSignal = std::span<double, kSubframeSamples>;
using ConstSubframeSignal = std::span<const double, kSubframeSamples>;

// Harmonic noise weighting of one subframe; a zero gain passes the signal unchanged.
struct HarmonicWeight {
    int lag = 0;       // 15 .. 145
    double gain = 0.0; // 0 .. 0.3125
};

// The weighting filter's coefficients of one LPC set (numerator, then denominator), and of the
// frame's four.
WeightingSet WeightingCoefficients(const LpcSet& lpc) noexcept;
SubframeWeightings WeightingCoefficients(const SubframeLpcSets& lpc) noexcept;

// Weights the frame in place, subframe j with weightings[j]; the memories carry over between frames.
void WeightSpeech(FrameSignal x, const SubframeWeightings& weightings, FilterMemory& inMem,
                  FilterMemory& outMem) noexcept;

// Lag (18 .. 142) that maximises the normalised correlation of the 120 weighted samples from
// `start` with their past; a lag 18 or more beyond the best so far must beat it by a factor 4/3,
// which keeps multiples of the true period from winning.
int EstimateOpenLoopPitch(WeightedBuffer buf, int start) noexcept;
// The lags of both halves of the frame (windows at kWeightedHistory and 120 samples later), each as
// EstimateOpenLoopPitch finds it.
std::array<int, 2> EstimateOpenLoopPitches(WeightedBuffer buf) noexcept;

// Lag within 3 of `olp` and gain of the harmonic weighting of the subframe starting at `start`.
HarmonicWeight FindHarmonicWeight(WeightedBuffer buf, int start, int olp) noexcept;

// Writes x[offset .. offset + 59] as the weighted samples there minus their harmonic echo.
void ApplyHarmonicWeight(FrameSignal x, WeightedBuffer buf, int offset, HarmonicWeight hw) noexcept;

// Impulse response of W(z) P(z) / Â(z) from zero memories; h[0] is 1.
SubframeVector ComputeImpulseResponse(const LpcSet& aq, const WeightingSet& coeffs,
                                      HarmonicWeight hw) noexcept;

// The impulse responses of all four subframes at once, the same as ComputeImpulseResponse for each,
// and the first subframe's Ringing from the memories as the frame starts (they take as long as
// the responses alone).
struct FrameResponses {
    std::array<SubframeVector, kSubframes> h;
    SubframeVector firstRinging;
};
FrameResponses ComputeImpulseResponses(const SubframeLpcSets& aq, const SubframeWeightings& weightings,
                                       const std::array<HarmonicWeight, kSubframes>& hw,
                                       const FilterMemory& synthMem, const FilterMemory& weightMem) noexcept;

// The combined filter's ringing from the local decoder's memories over one subframe, in time
// order (before the harmonic weighting).
SubframeVector Ringing(const LpcSet& aq, const WeightingSet& coeffs, const FilterMemory& synthMem,
                       const FilterMemory& weightMem) noexcept;

// Subtracts from the subframe's weighted speech the ringing, harmonically weighted with the
// weighted synthesis history before it, giving the target of the codebook searches.
void SubtractRinging(SubframeSignal t, const SubframeVector& ringing, const WeightedHistory& weightedSynthHistory,
                     HarmonicWeight hw) noexcept;

// Both steps: the ringing from the memories (which are only read), subtracted.
void SubtractRinging(SubframeSignal t, const LpcSet& aq, const WeightingSet& coeffs,
                     const FilterMemory& synthMem, const FilterMemory& weightMem,
                     const WeightedHistory& weightedSynthHistory, HarmonicWeight hw) noexcept;

// Runs the chosen excitation through the local synthesis and weighting filters; `e` becomes the
// local synthesis, and the memories and the weighted synthesis history move on by one subframe.
void UpdateRinging(SubframeSignal e, const LpcSet& aq, const WeightingSet& coeffs, FilterMemory& synthMem,
                   FilterMemory& weightMem, WeightedHistory& weightedSynthHistory) noexcept;

} // namespace velmar
