// What the encoder carries from one frame to the next, one small struct per stage, the fields
// keeping the codec state's names. Each stage function takes only its own state (or parts of
// it); the frame driver in Encoder.cpp hands every stage its own.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/Lsp.h"
#include "codec/tables/LspTables.h"

#include <array>
#include <cstdint>

namespace velmar {

// Memory of a 10th-order filter, newest value first.
using FilterMemory = std::array<double, kLpcOrder>;

// DC removal and the 8th-order input filter.
struct PreFilterState {
    double dcPrevIn = 0.0;
    double dcPrevOut = 0.0;
    std::array<double, kPrefilterTaps> prefilterIn{};  // newest first
    std::array<double, kPrefilterTaps> prefilterOut{}; // newest first
};

// Spectral analysis: the look-back of the analysis windows (the speech not yet coded), the
// quantised LSPs of the previous frame, and the sine detector's test history (bit 15 set: a tone).
struct LpcState {
    std::array<double, kLpcHistory> lpcHistory{};
    LspVector encPrevLsp = LspMean;
    std::int16_t sineDetector = 0;
};

// Perceptual weighting: the weighting filter's memories and the weighted speech of the earlier
// frames that the open-loop pitch search looks back into.
struct WeightingState {
    FilterMemory weightInMem{};
    FilterMemory weightOutMem{};
    std::array<double, kWeightedHistory> weightedHistory{};
};

// Pitch and pulse searches with the local decoder: the past excitation (oldest first, clamped to
// the 16-bit range), the local synthesis and weighting filter memories, the weighted synthesis
// of the earlier subframes, and the pulse search budget left over within a frame.
struct ExcitationState {
    std::array<double, kExcitationHistory> encExcitation{};
    FilterMemory encSynthMem{};
    FilterMemory encWeightMem{};
    std::array<double, kWeightedHistory> weightedSynthHistory{};
    std::int16_t searchBudget = 0;
};

// Voice-activity detection: hangover and burst counters, the energy of the frame before, the
// adaptive noise level, the adaptation counter and the open-loop lags of the last two frames
// (two per frame, the older frame first).
struct VadState {
    std::int16_t vadHangover = 0;
    std::int16_t vadBurst = 0;
    double vadPrevEnergy = 1024.0;
    double vadNoiseLevel = 1024.0;
    std::int16_t vadAdapt = 0;
    std::array<std::int16_t, 4> vadLags = {1, 1, 60, 60};
};

struct EncoderState {
    PreFilterState preFilter;
    LpcState lpc;
    WeightingState weighting;
    ExcitationState search;
    VadState vad;
};

} // namespace velmar
