// The encoder's front end of one frame as a single stage: the input filter, the LPC analysis and
// the perceptual weighting of the delayed frame. The input filter and the weighting are both
// chains of dependent sums, so their recursive parts run side by side, the weighting a block
// behind: analysis window j needs the filtered frame only to the end of block j, and the
// weighting of delayed subframe j only window j's coefficients. Their numerators are no recursion:
// they are summed beforehand, two samples at a time, and the DC removal of the next block goes
// along in the loop.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/EncoderState.h"
#include "codec/LpcAnalysis.h"
#include "codec/Weighting.h"

#include <array>

namespace velmar {

// What the front end hands on besides the signals: the four LPC sets and their weightings.
struct FrontEnd {
    SubframeLpcSets lpc;
    SubframeWeightings weightings;
};

// Exactly PreFilter, AnalyseLpc, DelaySpeech, WeightingCoefficients and WeightSpeech in turn:
// leaves the pre-filtered frame in x and the weighted delayed frame in weighted, and advances the
// three stages' states as those do.
FrontEnd RunFrontEnd(FrameSignal x, std::array<double, kFrameSamples>& weighted, PreFilterState& pre,
                     LpcState& lpc, WeightingState& ws) noexcept;

} // namespace velmar
