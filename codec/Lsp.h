// Spectral envelope: a 24-bit split-VQ code becomes ten line-spectral-pair frequencies (with
// first-order prediction from the previous frame), which are interpolated per subframe and turned
// into predictor-form LPC sets. Encoder and decoder run exactly these steps on the same code.
#pragma once

#include "codec/CodecConstants.h"

#include <array>
#include <cstdint>

namespace velmar {

// Ten LSP frequencies in units where 256 stands for pi; usable ones are increasing inside (0, 256).
using LspVector = std::array<double, kLpcOrder>;
// Predictor-form coefficients a1..a10: synthesis s[n] = e[n] + sum a_k s[n-k].
using LpcSet = std::array<double, kLpcOrder>;
using SubframeLpcSets = std::array<LpcSet, kSubframes>;

// Decodes the split-VQ residual, adds the prediction from prevLsp and enforces a minimum spacing.
// A non-zero `erased` ignores lspIndex and leans harder on the previous frame. A vector that stays
// unstable after all correction passes is replaced by prevLsp.
LspVector DecodeLsp(std::int32_t lspIndex, std::int16_t erased, const LspVector& prevLsp) noexcept;

// Linear interpolation from the previous to the current LSPs at 1/4, 2/4, 3/4 and 4/4 of the
// frame, each converted to an LPC set.
SubframeLpcSets InterpolateLsp(const LspVector& curLsp, const LspVector& prevLsp) noexcept;

// LSP to LPC conversion through the sum and difference polynomials, with cosines interpolated
// from CosineTable. Any finite input reads only inside the table (indices wrap with the period).
LpcSet LspToLpc(const LspVector& lsp) noexcept;

} // namespace velmar
