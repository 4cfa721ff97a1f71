#include "codec/LpcAnalysis.h"

#include "codec/Arithmetic.h"
#include "codec/Kernels.h"
#include "codec/tables/AnalysisTables.h"
#include "codec/tables/LspTables.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace velmar {
namespace {

// White-noise correction of the zero-lag autocorrelation, and the scale that keeps the
// autocorrelations of a full-scale segment in a comfortable range (the segment length squared).
constexpr double kNoiseFloorFactor = 1025.0 / 1024.0;
constexpr double kAutocorrelationScale = static_cast<double>(kAnalysisWindowSize * kAnalysisWindowSize);

// Reflection value reported when the recursion stops early; a near-singular segment is as good as
// a pure tone to the sine detector.
constexpr double kEarlyStopSineValue = 0.99;
constexpr double kSineThreshold = 0.95;
// Bit 15 of sineDetector summarises bits 0 .. 14; it is set when at least this many of them are.
constexpr int kSineHistoryBits = 15;
constexpr int kSineBitsForTone = 14;
constexpr std::uint16_t kSineSummaryBit = 0x8000;

constexpr double kQuantiserPrediction = 0.375;

using AnalysisSegment = std::array<double, kAnalysisWindowSize>;

} // namespace

void PreFilter(FrameSignal x, PreFilterState& state) noexcept {
    // Direct form I with the memories (newest first) held in registers, so that each output
    // reaches the next one's sum without a round trip through memory.
    constexpr int kTaps = kPrefilterTaps;
    double num[kTaps];
    double den[kTaps];
    double in[kTaps];
    double out[kTaps];
    for (int k = 0; k < kTaps; ++k) {
        num[k] = PrefilterNum[k];
        den[k] = PrefilterDen[k];
        in[k] = state.prefilterIn[k];
        out[k] = state.prefilterOut[k];
    }
    double dcPrevIn = state.dcPrevIn;
    double dcPrevOut = state.dcPrevOut;
    for (int n = 0; n < kFrameSamples; ++n) {
        const double sample = x[n];
        const double y = sample - dcPrevIn + kDcPole * dcPrevOut;
        dcPrevIn = sample;
        dcPrevOut = y;
#pragma GCC unroll 9
        for (int k = kTaps - 1; k > 0; --k) {
            in[k] = in[k - 1];
        }
        in[0] = y;
        // Both sums from zero in index order: the numerator over this input and the eight
        // before, the denominator (from its second coefficient) over the eight last outputs.
        double forward = 0.0;
#pragma GCC unroll 9
        for (int k = 0; k < kTaps; ++k) {
            forward += num[k] * in[k];
        }
        double feedback = 0.0;
#pragma GCC unroll 9
        for (int k = 0; k < kTaps - 1; ++k) {
            feedback += den[k + 1] * out[k];
        }
        const double filtered = forward - feedback;
#pragma GCC unroll 9
        for (int k = kTaps - 1; k > 0; --k) {
            out[k] = out[k - 1];
        }
        out[0] = filtered;
        x[n] = filtered;
    }
    state.dcPrevIn = dcPrevIn;
    state.dcPrevOut = dcPrevOut;
    for (int k = 0; k < kTaps; ++k) {
        state.prefilterIn[k] = in[k];
        state.prefilterOut[k] = out[k];
    }
}

DurbinResult Durbin(const Autocorrelations& r, double r0) noexcept {
    DurbinResult result;
    LpcSet& a = result.lpc; // a[j - 1] holds a_j
    double error = r0;
    for (int i = 1; i <= kLpcOrder; ++i) {
        double sum = 0.0;
        for (int j = 1; j < i; ++j) {
            sum += a[j - 1] * r[i - j - 1];
        }
        const double acc = r[i - 1] - sum;
        if (std::fabs(acc) >= error) {
            result.sineValue = kEarlyStopSineValue;
            break;
        }
        const double k = acc / error;
        const LpcSet old = a;
        a[i - 1] = k;
        error = error - k * acc;
        if (i == 2) {
            result.sineValue = -k;
        }
        for (int j = 1; j < i; ++j) {
            a[j - 1] = a[j - 1] - k * old[i - j - 1];
        }
    }
    result.error = error;
    return result;
}

LpcSet AnalyseWindow(std::span<const double, kLpcHistory + kFrameSamples> b, int i,
                     std::uint16_t& sineTests) noexcept {
    // Window i is centred on subframe i of the delayed frame.
    AnalysisSegment w{};
    const double* segment = b.data() + kSubframeSamples * i;
    for (int n = 0; n < kAnalysisWindowSize; ++n) {
        w[n] = AnalysisWindow[n] * segment[n];
    }
    std::array<double, kLpcOrder + 1> sums{};
    Kernels().autocorrelate(w.data(), sums.data());
    const double r0 = kNoiseFloorFactor * sums[0] / kAutocorrelationScale;
    Autocorrelations r{};
    if (r0 != 0.0) {
        for (int k = 1; k <= kLpcOrder; ++k) {
            r[k - 1] = LagWindow[k - 1] * sums[k] / kAutocorrelationScale;
        }
    }
    const DurbinResult durbin = Durbin(r, r0);
    sineTests = static_cast<std::uint16_t>((sineTests << 1) | (durbin.sineValue > kSineThreshold ? 1 : 0));
    return durbin.lpc;
}

std::int16_t SummariseSineTests(std::uint16_t sineTests) noexcept {
    auto word = static_cast<std::uint16_t>(sineTests & ~kSineSummaryBit);
    if (std::popcount(word) >= kSineBitsForTone) {
        word = static_cast<std::uint16_t>(word | kSineSummaryBit);
    }
    static_assert(kSineSummaryBit == 1u << kSineHistoryBits);
    return static_cast<std::int16_t>(word);
}

SubframeLpcSets AnalyseLpc(std::span<const double, kLpcHistory> lpcHistory, ConstFrameSignal x,
                           std::int16_t& sineDetector) noexcept {
    std::array<double, kLpcHistory + kFrameSamples> b{};
    std::copy(lpcHistory.begin(), lpcHistory.end(), b.begin());
    std::copy(x.begin(), x.end(), b.begin() + kLpcHistory);
    auto sineTests = static_cast<std::uint16_t>(sineDetector);
    SubframeLpcSets sets{};
    for (int i = 0; i < kSubframes; ++i) {
        sets[i] = AnalyseWindow(b, i, sineTests);
    }
    sineDetector = SummariseSineTests(sineTests);
    return sets;
}

static_assert((kCosineTableSize & (kCosineTableSize - 1)) == 0); // the grid index wraps by masking

double EvalLspPolynomial(const LspPolynomial& c, int j) noexcept {
    // Coefficient 5 - n weighs cos(n j pi / 256); the grid index wraps with the cosine's period.
    double sum = 0.0;
    for (int n = 0; n < static_cast<int>(c.size()); ++n) {
        sum += c[c.size() - 1 - static_cast<std::size_t>(n)] * CosineTable[(n * j) & (kCosineTableSize - 1)];
    }
    return sum;
}

LspVector LpcToLsp(const LpcSet& lpc, const LspVector& fallback) noexcept {
    LpcSet a{};
    for (int k = 0; k < kLpcOrder; ++k) {
        a[k] = lpc[k] * BandwidthFactors[k];
    }
    // p from A(z) + z^-11 A(1/z) divided by 1 + 1/z, q from A(z) - z^-11 A(1/z) divided by 1 - 1/z;
    // both symmetric, so half of each is kept.
    LspPolynomial p{};
    LspPolynomial q{};
    p[0] = 1.0;
    q[0] = 1.0;
    constexpr int kHalf = kLpcOrder / 2;
    for (int m = 0; m < kHalf; ++m) {
        p[m + 1] = -p[m] - a[m] - a[kLpcOrder - 1 - m];
        q[m + 1] = q[m] - a[m] + a[kLpcOrder - 1 - m];
    }
    p[kHalf] = p[kHalf] / 2.0;
    q[kHalf] = q[kHalf] / 2.0;

    // The roots interlace, so the search alternates between the two polynomials after each root.
    static_assert(std::tuple_size_v<LspPolynomial> == kLspPolynomialTerms);
    std::array<double, 2 * kLspGridPoints> grid;
    Kernels().lspGridValues(p.data(), q.data(), grid.data());
    const double* values[2] = {grid.data(), grid.data() + kLspGridPoints};
    int current = 0;
    LspVector lsp{};
    int found = 0;
    double prev = values[0][0];
    for (int j = 1; j < kLspGridPoints; ++j) {
        double cur = values[current][j];
        if (cur * prev < 0.0) {
            lsp[found] = static_cast<double>(j - 1) + std::fabs(prev) / (std::fabs(prev) + std::fabs(cur));
            ++found;
            if (found == kLpcOrder) {
                return lsp;
            }
            current ^= 1;
            cur = values[current][j];
        }
        prev = cur;
    }
    return fallback;
}

std::array<int, kLspSplits> SearchLspSplits(const LspVector& residual, const LspVector& weights) noexcept {
    std::array<int, kLspSplits> best{};
    for (int split = 0; split < kLspSplits; ++split) {
        // Maximising sum w (2 r c - c^2) minimises the weighted error sum w (r - c)^2.
        std::array<double, kLspSplitEntries> scores;
        const int first = kLspSplitLayout[split].firstLsp;
        Kernels().lspSplitScores(split, residual.data() + first, weights.data() + first, scores.data());
        // The first entry of the highest score, as a scan keeping every strictly higher one finds.
        best[split] = FirstHighest(scores);
    }
    return best;
}

namespace {

struct LspTarget {
    LspVector residual{};
    LspVector weights{};
};

LspTarget QuantiserTarget(const LspVector& lsp, const LspVector& prevLsp) noexcept {
    // Weight each LSP by the inverse distance to its nearest neighbour: close pairs mark formants.
    LspTarget target;
    LspVector& weights = target.weights;
    weights[0] = 1.0 / (lsp[1] - lsp[0]);
    weights[kLpcOrder - 1] = 1.0 / (lsp[kLpcOrder - 1] - lsp[kLpcOrder - 2]);
    for (int j = 1; j < kLpcOrder - 1; ++j) {
        const double d = std::min(lsp[j] - lsp[j - 1], lsp[j + 1] - lsp[j]);
        weights[j] = d > 0.0 ? 1.0 / d : 1.0;
    }
    for (int j = 0; j < kLpcOrder; ++j) {
        target.residual[j] = lsp[j] - LspMean[j] - kQuantiserPrediction * (prevLsp[j] - LspMean[j]);
    }
    return target;
}

} // namespace

std::int32_t LspCode(int split1, int split2, int split3) noexcept {
    return (split1 << 16) | (split2 << 8) | split3;
}

std::int32_t QuantiseLsp(const LspVector& lsp, const LspVector& prevLsp) noexcept {
    const LspTarget target = QuantiserTarget(lsp, prevLsp);
    const std::array<int, kLspSplits> index = SearchLspSplits(target.residual, target.weights);
    return LspCode(index[0], index[1], index[2]);
}

LspChoices RankLspEntries(const LspVector& lsp, const LspVector& prevLsp, int perSplit) noexcept {
    const int wanted = std::clamp(perSplit, 1, kMaxLspChoices);
    const LspTarget target = QuantiserTarget(lsp, prevLsp);
    LspChoices choices;
    for (int split = 0; split < kLspSplits; ++split) {
        std::array<double, kLspSplitEntries> scores;
        const int first = kLspSplitLayout[split].firstLsp;
        Kernels().lspSplitScores(split, target.residual.data() + first, target.weights.data() + first,
                                 scores.data());
        // Entry 0 leads until a strictly higher score displaces it, as in SearchLspSplits, so a
        // score that is not a number never ranks an entry ahead of it.
        std::array<int, kMaxLspChoices>& entry = choices.entry[split];
        std::array<double, kMaxLspChoices> kept{};
        int count = 1;
        entry[0] = 0;
        kept[0] = scores[0];
        for (int k = 1; k < kLspSplitEntries; ++k) {
            const double score = scores[k];
            if (count == wanted && !(score > kept[count - 1])) {
                continue;
            }
            int at = count < wanted ? count++ : wanted - 1;
            while (at > 0 && score > kept[at - 1]) {
                kept[at] = kept[at - 1];
                entry[at] = entry[at - 1];
                --at;
            }
            kept[at] = score;
            entry[at] = k;
        }
        choices.count[split] = count;
    }
    return choices;
}

} // namespace velmar
