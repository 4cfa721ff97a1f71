// The frame encoder's driver: the order of all encoder stages for one 240-sample frame, each
// handed its own part of the encoder state, and the one-subframe delay of the analysed speech.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/FrameFormat.h"
#include "codec/LpcAnalysis.h"
#include "codec/Lsp.h"
#include "codec/SpeechCodec.h"
#include "codec/Weighting.h"

#include <array>
#include <cstdint>
#include <span>

namespace velmar {

// Moves the frame back by one subframe through lpcHistory: x becomes the last 60 samples of the
// previous frame and the first 180 of this one, and lpcHistory the last 120 of this one.
void DelaySpeech(FrameSignal x, std::array<double, kLpcHistory>& lpcHistory) noexcept;

// Intermediate results of one encoded frame that its coded bytes do not show, for diagnosing a
// frame that differs from a reference encoder.
struct EncoderTrace {
    LspVector lspUnquantised{};
    std::array<HarmonicWeight, kSubframes> harmonic{};
    FrameParams params{};
    // Per subframe: the energy of the weighted target the searches match, and the squared
    // weighted error the chosen excitation leaves of it.
    std::array<double, kSubframes> targetEnergy{};
    std::array<double, kSubframes> weightedError{};
};

// Efforts from which the encoder takes each ranked pitch candidate through the pulse search, and
// from which it also codes the frame with several LSP codes.
inline constexpr int kJointSearchEffort = 1;
inline constexpr int kLspChoiceEffort = 2;

// EncodeFrame with an optional trace (nullptr for none); the coded frame is the same either way.
std::int16_t EncodeFrameTraced(CSpeechCodec& codec, ConstSampleFrame samples, PackedFrameView out,
                               std::int16_t sensitivity, EncoderTrace* trace) noexcept;

} // namespace velmar
