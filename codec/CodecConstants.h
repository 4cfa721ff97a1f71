// Sizes of the 4800 bit/s speech codec: frame and subframe lengths, the coded frame's size, the
// LPC order, lag range and table dimensions. Every other unit of the codec takes its sizes from here.
#pragma once

namespace velmar {

inline constexpr int kSampleRate = 8000;
inline constexpr int kFrameSamples = 240; // 30 ms of speech
inline constexpr int kSubframes = 4;
inline constexpr int kSubframeSamples = 60; // 7.5 ms
static_assert(kSubframes * kSubframeSamples == kFrameSamples);

inline constexpr int kPackedFrameBytes = 18;
inline constexpr int kFrameBits = 144;
static_assert(kPackedFrameBytes * 8 == kFrameBits);

inline constexpr int kLpcOrder = 10;

// Pitch lags as transmitted (7 bits, stored minus kMinPitchLag) and as used by a subframe after its
// lag delta of -1..+2 is applied.
inline constexpr int kMinPitchLag = 18;
inline constexpr int kMaxPitchLagCode = 123;
inline constexpr int kMaxPitchLag = kMinPitchLag + kMaxPitchLagCode; // 141
inline constexpr int kMinSubframeLag = kMinPitchLag - 1;             // 17
inline constexpr int kMaxSubframeLag = kMaxPitchLag + 2;             // 143
// Lag that an invalid frame falls back to.
inline constexpr int kInvalidFramePitchLag = 82;

// The 5-tap pitch predictor reaches two samples beyond the longest lag, so the excitation history
// holds 145 past samples; the predictor's input vector covers a subframe plus the four outer taps.
inline constexpr int kPitchTaps = 5;
inline constexpr int kExcitationHistory = kMaxSubframeLag + 2;
inline constexpr int kPitchVectorLength = kSubframeSamples + kPitchTaps - 1;
static_assert(kExcitationHistory == 145 && kPitchVectorLength == 64);

inline constexpr int kPitchGainRows = 42;
inline constexpr int kPulseGainLevels = 24;
inline constexpr int kGainCodes = kPitchGainRows * kPulseGainLevels; // 1008 of the 1024 10-bit codes
inline constexpr int kPitchTableWidth = 20;                          // 5 taps and 15 search products

inline constexpr int kPulsesPerSubframe = 4;

// LSP split vector quantiser: three splits of 3, 3 and 4 LSPs, 256 entries each, read through
// windows at these value offsets of the codebook data.
inline constexpr int kLspSplits = 3;
inline constexpr int kLspSplitEntries = 256;
inline constexpr int kLspCodebookValues = 2560;
inline constexpr int kLspCodebookReachable = 2176;
struct LspSplit {
    int firstLsp;
    int length;
    int dataOffset;
};
inline constexpr LspSplit kLspSplitLayout[kLspSplits] = {{0, 3, 0}, {3, 3, 576}, {6, 4, 1152}};
static_assert(kLspSplitLayout[2].dataOffset + kLspSplitEntries * kLspSplitLayout[2].length ==
              kLspCodebookReachable);

inline constexpr int kCosineTableSize = 512; // one full period of the cosine; 256 stands for pi
inline constexpr double kLspPi = 256.0;

inline constexpr int kAnalysisWindowSize = 180;
inline constexpr int kLpcHistory = 120;
inline constexpr int kPrefilterTaps = 9;

// Encoder. The LPC analysis looks one subframe ahead, so the coded speech lags the input by that much.
inline constexpr int kEncoderDelay = kSubframeSamples;
static_assert(kLpcHistory == 2 * kEncoderDelay && kAnalysisWindowSize == 3 * kSubframeSamples);

// Open-loop pitch: lags searched on half a frame of weighted speech each; the harmonic weighting
// looks up to three samples either side of that lag, so the weighted history covers the longest.
inline constexpr int kOpenLoopMinLag = kMinPitchLag;
inline constexpr int kOpenLoopMaxLag = 142;
inline constexpr int kOpenLoopWindow = kFrameSamples / 2;
inline constexpr int kHarmonicLagSpread = 3;
inline constexpr int kWeightedHistory = 145;
inline constexpr int kWeightedBufferSize = kWeightedHistory + kFrameSamples;
static_assert(kOpenLoopMaxLag + kHarmonicLagSpread <= kWeightedHistory);

// LSP root search on a grid of the upper half circle, one point per LSP unit.
inline constexpr int kLspGridPoints = 256;

// Pulse search: threshold passes granted to every subframe (unspent ones carry over within a
// frame); positions per track, and the backward-filtered target padded past the subframe so that
// the third and fourth tracks' out-of-subframe positions read zeros.
inline constexpr int kPulseSearchBudget = 120;
// A pulse-sharpening lag of this or more would echo nothing useful inside the subframe.
inline constexpr int kSharpenLagLimit = kSubframeSamples - 2;
inline constexpr int kTrackPositions = 8;
inline constexpr int kPulseTargetLength = kSubframeSamples + 4;
inline constexpr int kTrackPairs = 6;
inline constexpr int kImpulseCorrelationValues =
    kPulsesPerSubframe * kTrackPositions + kTrackPairs * kTrackPositions * kTrackPositions;
static_assert(kImpulseCorrelationValues == 416);

} // namespace velmar
