// The encoder's front end: input conditioning, the per-subframe LPC analysis with its sine-wave
// detector, and the turning of the frame's last LPC set into line spectral pairs and their 24-bit
// split vector-quantiser code.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/EncoderState.h"
#include "codec/Lsp.h"

#include <array>
#include <cstdint>
#include <span>

namespace velmar {

// One frame of the encoder's working signal, doubles on the 16-bit sample scale.
using FrameSignal = std::span<double, kFrameSamples>;
using ConstFrameSignal = std::span<const double, kFrameSamples>;

// Pole of the DC-removal high-pass, 1 - 1/128.
inline constexpr double kDcPole = 0.9921875;

// DC removal followed by the 8th-order input filter, in place; both keep their memories in
// `state` across frames.
void PreFilter(FrameSignal x, PreFilterState& state) noexcept;

// Autocorrelations R(1) .. R(10) of one analysis segment.
using Autocorrelations = std::array<double, kLpcOrder>;

struct DurbinResult {
    LpcSet lpc{};
    double error = 0.0;     // final prediction error energy
    double sineValue = 0.0; // minus the second reflection coefficient, or 0.99 on an early stop
};

// Levinson-Durbin recursion of order 10 in predictor form. A step whose reflection would reach or
// exceed 1 in magnitude stops it with the coefficients found so far.
DurbinResult Durbin(const Autocorrelations& r, double r0) noexcept;

// Four unquantised LPC sets, one per subframe of the delayed frame, from Hamming-windowed segments
// of the look-back and the pre-filtered frame. Shifts one sine test per subframe into
// `sineDetector` and sets its bit 15 when 14 of the last 15 tests passed.
SubframeLpcSets AnalyseLpc(std::span<const double, kLpcHistory> lpcHistory, ConstFrameSignal x,
                           std::int16_t& sineDetector) noexcept;

// AnalyseLpc a window at a time, for an encoder that runs the analysis between blocks of the frame.
// b holds the look-back and then the pre-filtered frame, whose samples up to the end of subframe i
// must be in place for window i; the window's sine test is shifted into sineTests (the detector's
// word). Once the four windows are done, SummariseSineTests gives the detector's new value.
LpcSet AnalyseWindow(std::span<const double, kLpcHistory + kFrameSamples> b, int i,
                     std::uint16_t& sineTests) noexcept;
std::int16_t SummariseSineTests(std::uint16_t sineTests) noexcept;

// Half of one LSP polynomial, coefficient 0 first.
using LspPolynomial = std::array<double, 6>;

// The polynomial's value at grid point j (0 .. 255) of the upper half circle, from CosineTable.
double EvalLspPolynomial(const LspPolynomial& c, int j) noexcept;

// Roots of the sum and difference polynomials of the bandwidth-expanded set, found by sign changes
// on the grid and placed by linear interpolation. With fewer than ten roots the fallback is used.
LspVector LpcToLsp(const LpcSet& lpc, const LspVector& fallback) noexcept;

// Best entry of each split for the prediction residual under the given per-LSP weights; equal
// scores keep the lower index.
std::array<int, kLspSplits> SearchLspSplits(const LspVector& residual, const LspVector& weights) noexcept;

// 24-bit code of the LSPs, predicted from the previous frame's quantised LSPs.
std::int32_t QuantiseLsp(const LspVector& lsp, const LspVector& prevLsp) noexcept;

// The few best entries of each split, best first, for an encoder that tries them all.
inline constexpr int kMaxLspChoices = 3;
struct LspChoices {
    std::array<std::array<int, kMaxLspChoices>, kLspSplits> entry{};
    std::array<int, kLspSplits> count{};
};

// The `perSplit` (1 .. kMaxLspChoices) best entries of each split by the quantiser's own weighted
// distance, as QuantiseLsp weighs it; equal scores keep the lower index, so the first entries
// form QuantiseLsp's code.
LspChoices RankLspEntries(const LspVector& lsp, const LspVector& prevLsp, int perSplit) noexcept;

// The 24-bit code of one entry per split.
std::int32_t LspCode(int split1, int split2, int split3) noexcept;

} // namespace velmar
