// The codec state of one direction. A recording channel owns one encoding object and a playback
// channel one decoding object; each is created fresh for a run and only ever advanced, so every
// recording and every playback starts from these starting values.
#pragma once

#include "codec/Arithmetic.h"
#include "codec/CodecConstants.h"
#include "codec/EncoderState.h"
#include "codec/FrameFormat.h"
#include "codec/Lsp.h"
#include "codec/tables/LspTables.h"

#include <array>
#include <cstdint>
#include <span>

namespace velmar {

using SampleFrame = std::span<std::int16_t, kFrameSamples>;
using ConstSampleFrame = std::span<const std::int16_t, kFrameSamples>;
using ConstPackedFrameView = std::span<const std::uint8_t, kPackedFrameBytes>;
using PackedFrameView = std::span<std::uint8_t, kPackedFrameBytes>;

// How hard the encoder searches; every effort emits frames any decoder plays. 0 is the plain
// search; 1 takes the best few pitch predictions each through the pulse search and keeps the one
// leaving the least weighted error (about 2.5 times the work); 2 also codes the whole frame with
// the 2 best entries of each LSP split (8 codes, about 18 times) and 3 with the 3 best (27 codes,
// about 54 times), keeping the code leaving the least error.
inline constexpr int kMinEncoderEffort = 0;
inline constexpr int kMaxEncoderEffort = 3;

// One frame as the synthesis filter leaves it, before rounding, with the spectral envelope and the
// pitch lags it was built from: what the playback post-filter needs to shape it. Made afresh for
// every frame and filled whole by the decoder, so it is not cleared first.
struct DecodedFrame {
    std::array<double, kFrameSamples> synthesis; // unrounded and unclipped, on the sample scale
    SubframeLpcSets lpc;                         // predictor-form LPC set of each subframe
    std::array<int, kSubframes> lags;            // pitch lag of each subframe, 17 .. 143
};

// One object serves one direction: decoding touches only the dec* fields, encoding only `encoder`.
// The object holds everything that carries over between frames and allocates nothing; it may be
// copied freely. Used by one thread at a time.
class CSpeechCodec {
public:
    // Decoder: previous frame's LSPs, past excitation (oldest first, clamped to the 16-bit range)
    // and synthesis filter memory (newest first, unrounded).
    LspVector decPrevLsp = LspMean;
    std::array<double, kExcitationHistory> decExcitation{};
    FilterMemory decSynthMem{};

    EncoderState encoder;
    // kMinEncoderEffort .. kMaxEncoderEffort; values outside are taken as the nearest end.
    int encoderEffort = kMinEncoderEffort;

    // Codes 240 samples as one frame and returns the voice-activity decision (1 active, 0 not);
    // every frame is coded whatever the decision. `sensitivity` 0 .. 100 raises the activity
    // threshold from 0.4 to 1.0 times its base. The coded speech lags the input by 60 samples.
    std::int16_t EncodeFrame(ConstSampleFrame samples, PackedFrameView out,
                             std::int16_t sensitivity = 50) noexcept;

    // Turns one coded frame into 240 samples. Any 18 bytes decode: an invalid frame is decoded in
    // the erased mode. `erased` non-zero marks the frame lost without reading it.
    void DecodeFrame(ConstPackedFrameView frame, SampleFrame out, std::int16_t erased = 0) noexcept;

    // Decodes exactly as DecodeFrame does (the same state advances the same way) but stops before
    // the rounding: DecodeFrame's samples are RoundToSample of `decoded.synthesis`.
    void DecodeSynthesis(ConstPackedFrameView frame, DecodedFrame& decoded, std::int16_t erased = 0) noexcept;

    // DecodeSynthesis up to the synthesis filter: `decoded.synthesis` receives the excitation, and
    // every state but decSynthMem advances. Filtering it subframe by subframe with SynthesisFilter
    // and decSynthMem completes DecodeSynthesis.
    void DecodeExcitation(ConstPackedFrameView frame, DecodedFrame& decoded, std::int16_t erased = 0) noexcept;
};

// All-pole synthesis 1 / A(z) of one subframe in place; `memory` holds the last outputs, newest
// first, and carries unrounded values from one subframe to the next.
void SynthesisFilter(std::span<double, kSubframeSamples> subframe, const LpcSet& lpc,
                     FilterMemory& memory) noexcept;

} // namespace velmar
