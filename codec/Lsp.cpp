#include "codec/Lsp.h"

#include "codec/tables/LspTables.h"

#include <cmath>

namespace velmar {
namespace {

constexpr double kNormalPrediction = 0.375;
constexpr double kErasedPrediction = 0.71875;
constexpr double kNormalMinSpacing = 2.0;
constexpr double kErasedMinSpacing = 4.0;
constexpr double kSpacingTolerance = 0.03125;
constexpr double kLowestFirstLsp = 3.0;
constexpr double kHighestLastLsp = 252.0;
constexpr int kStabilityPasses = 10;

constexpr int kLspIndexBits = 8;
constexpr std::int32_t kSplitIndexMask = 0xFF;

// Minus the cosine of pi * lsp / 256, linearly interpolated on the 512-point grid. The grid index
// wraps modulo the period so that an LSP pushed slightly below 0 by the spacing passes (or any
// other finite value) reads inside the table.
double NegativeCosine(double lsp) {
    const double floorValue = std::floor(lsp);
    if (!std::isfinite(floorValue)) {
        return -CosineTable[0];
    }
    const double fraction = lsp - floorValue;
    const double wrapped = floorValue - kCosineTableSize * std::floor(floorValue / kCosineTableSize);
    const int k = static_cast<int>(wrapped) % kCosineTableSize;
    const int next = (k + 1) % kCosineTableSize;
    return -(CosineTable[k] + (CosineTable[next] - CosineTable[k]) * fraction);
}

// Builds half of one symmetric polynomial (coefficients 0..5 of the product of five factors
// 1 + 2c z^-1 + z^-2), halving at every factor so that the result is the polynomial divided by 16.
std::array<double, 6> SymmetricPolynomial(double c0, double c1, double c2, double c3, double c4) {
    std::array<double, 6> x{};
    x[0] = 0.5;
    x[1] = c0 + c1;
    x[2] = 1.0 + 2.0 * c0 * c1;
    const double further[3] = {c2, c3, c4};
    for (int m = 2; m <= 4; ++m) {
        const double c = further[m - 2];
        x[m + 1] = x[m - 1] + c * x[m];
        for (int n = m; n >= 2; --n) {
            x[n] = (x[n] + x[n - 2]) / 2.0 + c * x[n - 1];
        }
        x[1] = (x[1] + 2.0 * c * x[0]) / 2.0;
        x[0] = x[0] / 2.0;
    }
    return x;
}

} // namespace

LspVector DecodeLsp(std::int32_t lspIndex, std::int16_t erased, const LspVector& prevLsp) noexcept {
    const bool isErased = erased != 0;
    const double prediction = isErased ? kErasedPrediction : kNormalPrediction;
    const double minSpacing = isErased ? kErasedMinSpacing : kNormalMinSpacing;
    const std::int32_t code = isErased ? 0 : lspIndex;

    LspVector lsp{};
    for (int split = 0; split < kLspSplits; ++split) {
        const LspSplit& layout = kLspSplitLayout[split];
        const int entry = (code >> (kLspIndexBits * (kLspSplits - 1 - split))) & kSplitIndexMask;
        const int offset = layout.dataOffset + entry * layout.length;
        for (int i = 0; i < layout.length; ++i) {
            lsp[layout.firstLsp + i] = LspCodebookData[offset + i];
        }
    }
    for (int j = 0; j < kLpcOrder; ++j) {
        lsp[j] = lsp[j] + LspMean[j] + prediction * (prevLsp[j] - LspMean[j]);
    }

    // The clamps apply only at the start of each pass; spreading may move the end LSPs slightly
    // past them, which is accepted once the spacing holds.
    for (int pass = 0; pass < kStabilityPasses; ++pass) {
        if (lsp[0] < kLowestFirstLsp) {
            lsp[0] = kLowestFirstLsp;
        }
        if (lsp[kLpcOrder - 1] > kHighestLastLsp) {
            lsp[kLpcOrder - 1] = kHighestLastLsp;
        }
        for (int j = 1; j < kLpcOrder; ++j) {
            const double overlap = lsp[j - 1] + minSpacing - lsp[j];
            if (overlap > 0.0) {
                lsp[j - 1] -= overlap / 2.0;
                lsp[j] += overlap / 2.0;
            }
        }
        bool stable = true;
        for (int j = 1; j < kLpcOrder; ++j) {
            if (lsp[j] - lsp[j - 1] < minSpacing - kSpacingTolerance) {
                stable = false;
                break;
            }
        }
        if (stable) {
            return lsp;
        }
    }
    return prevLsp;
}

SubframeLpcSets InterpolateLsp(const LspVector& curLsp, const LspVector& prevLsp) noexcept {
    constexpr double kWeights[kSubframes] = {0.25, 0.5, 0.75, 1.0};
    SubframeLpcSets sets{};
    for (int i = 0; i < kSubframes; ++i) {
        const double w = kWeights[i];
        LspVector v{};
        for (int j = 0; j < kLpcOrder; ++j) {
            v[j] = (1.0 - w) * prevLsp[j] + w * curLsp[j];
        }
        sets[i] = LspToLpc(v);
    }
    return sets;
}

LpcSet LspToLpc(const LspVector& lsp) noexcept {
    std::array<double, kLpcOrder> c{};
    for (int j = 0; j < kLpcOrder; ++j) {
        c[j] = NegativeCosine(lsp[j]);
    }
    // P takes the odd-numbered LSPs (c0, c2, ..), Q the even-numbered ones (c1, c3, ..).
    const std::array<double, 6> p = SymmetricPolynomial(c[0], c[2], c[4], c[6], c[8]);
    const std::array<double, 6> q = SymmetricPolynomial(c[1], c[3], c[5], c[7], c[9]);

    // A(z) = [P(z)(1 + 1/z) + Q(z)(1 - 1/z)] / 2, negated into predictor form.
    LpcSet a{};
    for (int j = 0; j < 5; ++j) {
        a[j] = 8.0 * (q[j] - q[j + 1] - p[j] - p[j + 1]);
        a[kLpcOrder - 1 - j] = 8.0 * (q[j + 1] - q[j] - p[j] - p[j + 1]);
    }
    return a;
}

} // namespace velmar
