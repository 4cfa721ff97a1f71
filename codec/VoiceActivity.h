// Voice-activity detection of the encoder: the frame's energy against an adaptive noise level,
// with a burst counter and a hangover. Every frame is coded whatever the decision; the flag only
// tells the caller whether the frame holds speech.
#pragma once

#include "codec/EncoderState.h"
#include "codec/LpcAnalysis.h"

#include <array>
#include <cstdint>

namespace velmar {

// Decision for the pre-filtered, not yet delayed frame x (1 active, 0 not): the energy of its
// last 180 samples against the noise level. `sensitivity` 0 .. 100 scales the threshold by
// 0.4 .. 1.0. `tone` (the sine detector's summary) and the open-loop lags of the two frames
// before, when consistent, count as voicing and hold the noise level down; the lags of the last
// frame then move into the "frame before last" slots.
std::int16_t DetectVoiceActivity(ConstFrameSignal x, std::int16_t sensitivity, bool tone,
                                 VadState& state) noexcept;

// Records the open-loop lags of the frame just analysed for the next decision.
void NoteOpenLoopLags(VadState& state, const std::array<std::int32_t, 2>& lags) noexcept;

// Threshold energy of the detector for a noise level (128 .. 131071) and sensitivity.
double VadThreshold(double noiseLevel, std::int16_t sensitivity) noexcept;

} // namespace velmar
