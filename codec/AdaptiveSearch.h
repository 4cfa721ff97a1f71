// Closed-loop search of the 5-tap pitch predictor (the adaptive codebook): the lag around the
// frame's pitch lag and the predictor row are chosen jointly by the weighted error they leave.
#pragma once

#include "codec/Excitation.h"
#include "codec/FrameFormat.h"
#include "codec/Weighting.h"

#include <array>

namespace velmar {

// Searches subframe j (0 .. 3): writes sub[j].lagDelta, sub[j].pitchGainIndex and, in subframes 0
// and 2, the closed-loop pitchLag[j / 2]; then removes the chosen prediction, filtered by h, from
// the target t, and returns that prediction (the subframe's pitch contribution, unfiltered). h is
// the combined filter's impulse response with h[0] = 1.
SubframeVector SearchAdaptiveCodebook(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                                      FrameParams& params, int j) noexcept;

// How many (lag, row) pairs the joint pitch and pulse choice takes further.
inline constexpr int kJointPitchCandidates = 8;

struct PitchCandidate {
    int lagOffset = 1; // 0 .. 3: the searched lag minus the search's first lag
    int row = 0;       // predictor row
};

// The (lag, row) pairs of subframe j with a positive score, best first, at most
// kJointPitchCandidates; equal scores keep the earlier pair (lower lag, then lower row), so the
// first is the one SearchAdaptiveCodebook chooses. Without any positive score the list holds that
// choice alone: row 0 at the frame's lag.
struct PitchCandidates {
    std::array<PitchCandidate, kJointPitchCandidates> list{};
    int count = 0;
};
PitchCandidates RankAdaptiveCandidates(ConstSubframeSignal t, const SubframeVector& h,
                                       ExcitationPast encExcitation, const FrameParams& params,
                                       int j) noexcept;

// Takes candidate c for subframe j as SearchAdaptiveCodebook takes its choice: writes the lag and
// row into params, removes the filtered prediction from t and returns the prediction.
SubframeVector ApplyAdaptiveCandidate(SubframeSignal t, const SubframeVector& h, ExcitationPast encExcitation,
                                      FrameParams& params, int j, PitchCandidate c) noexcept;

} // namespace velmar
