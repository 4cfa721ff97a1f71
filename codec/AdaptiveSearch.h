// Closed-loop search of the 5-tap pitch predictor (the adaptive codebook): the lag around the
// frame's pitch lag and the predictor row are chosen jointly by the weighted error they leave.
#pragma once

#include "codec/Excitation.h"
#include "codec/FrameFormat.h"
#include "codec/Weighting.h"

namespace velmar {

// Searches subframe j (0 .. 3): writes sub[j].lagDelta, sub[j].pitchGainIndex and, in subframes 0
// and 2, the closed-loop pitchLag[j / 2]; then removes the chosen prediction, filtered by h, from
// the target t, and returns that prediction (the subframe's pitch contribution, unfiltered). h is
// the combined filter's impulse response with h[0] = 1.
SubframeVector SearchAdaptiveCodebook(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                                      FrameParams& params, int j) noexcept;

} // namespace velmar
