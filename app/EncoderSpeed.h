// Which encoder efforts this machine can record at. A recording is encoded as it is captured, so the
// encoder must stay far ahead of the sound card: an effort is offered only where it runs at least
// kRequiredRealTime times real time, measured once at start-up on a few frames of speech-like sound
// (machines differ by far more than any guess could cover).
#pragma once

#include "codec/SpeechCodec.h"

#include <array>

namespace velmar {

// The efforts the window offers: "Standard", "Better" and "Best".
inline constexpr int kWindowEfforts = 3;
inline constexpr double kRequiredRealTime = 10.0;

// Seconds of speech per second of encoding at `effort`, over `frames` frames.
double MeasureRealTimeFactor(int effort, int frames = 12);

// For each window effort, whether it may be used given the measured factors. The plain encoder
// (effort 0) always may: it is what every recording had before there was a choice.
std::array<bool, kWindowEfforts> AllowedEfforts(const std::array<double, kWindowEfforts>& realTimeFactors);

// The effort to record at: `wanted`, or the highest allowed below it.
int UsableEffort(int wanted, const std::array<bool, kWindowEfforts>& allowed);

} // namespace velmar
