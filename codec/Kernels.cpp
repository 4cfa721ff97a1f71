#include "codec/Kernels.h"

#include "codec/Arithmetic.h"
#include "codec/CodecConstants.h"
#include "codec/FilterCascade.h"
#include "codec/PulseSearchCore.h"
#include "codec/tables/LspTables.h"
#include "codec/tables/PitchTables.h"

#include <algorithm>
#include <array>
#include <atomic>

#if defined(VELMAR_HAVE_AVX2_KERNELS) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define VELMAR_CPU_FEATURES_FROM_LIBC 1
#endif

namespace velmar {

#if defined(VELMAR_HAVE_AVX2_KERNELS)
extern const KernelSet kAvx2Kernels;      // KernelsAvx2.cpp
const KernelSet& Avx512Kernels() noexcept; // KernelsAvx512.cpp
#endif

namespace {

constexpr int kAnalysisLags = kLpcOrder + 1;
constexpr int kOpenLoopLags = kOpenLoopMaxLag - kOpenLoopMinLag + 1;

} // namespace

constexpr PitchTapColumnTable kPitchTapColumns = [] {
    PitchTapColumnTable table{};
    for (int m = 0; m < kPitchTableWidth; ++m) {
        for (int row = 0; row < kPitchGainRows; ++row) {
            table.column[m][row] = PitchTapTable[row][m];
        }
    }
    return table;
}();

constexpr LspGridCosineTable kLspGridCosines = [] {
    LspGridCosineTable table{};
    for (int n = 0; n < kLspPolynomialTerms; ++n) {
        for (int j = 0; j < kLspGridPoints; ++j) {
            table.cosine[n][j] = CosineTable[(n * j) & (kCosineTableSize - 1)];
        }
    }
    return table;
}();

constexpr LspColumnTable kLspColumns = [] {
    LspColumnTable table{};
    for (int split = 0; split < kLspSplits; ++split) {
        const LspSplit& layout = kLspSplitLayout[split];
        for (int k = 0; k < kLspSplitEntries; ++k) {
            for (int i = 0; i < layout.length; ++i) {
                table.column[split][i][k] = LspCodebookData[layout.dataOffset + layout.length * k + i];
            }
        }
    }
    return table;
}();

namespace {

// The four tap vectors after the last, each from the next by the recurrence (any path).
void DelayedTapResponses(const double* v, const double* h, double* y) noexcept {
    for (int i = kPitchTaps - 2; i >= 0; --i) {
        double* yi = y + kSubframeSamples * i;
        const double* next = yi + kSubframeSamples;
        yi[0] = v[i];
        for (int n = 1; n < kSubframeSamples; ++n) {
            yi[n] = v[i] * h[n] + next[n - 1];
        }
    }
}

} // namespace

namespace reference {

void CausalConvolution(const double* x, const double* h, double* y) noexcept {
    for (int n = 0; n < kSubframeSamples; ++n) {
        double sum = 0.0;
        for (int m = 0; m <= n; ++m) {
            sum += x[m] * h[n - m];
        }
        y[n] = sum;
    }
}

void TapResponses(const double* v, const double* h, double* y) noexcept {
    CausalConvolution(v + kPitchTaps - 1, h, y + kSubframeSamples * (kPitchTaps - 1));
    DelayedTapResponses(v, h, y);
}

void CorrelateTaps(const double* t, const double* y, double* c) noexcept {
    auto dot = [](const double* a, const double* b) { return DotProduct(a, b, kSubframeSamples); };
    const double* yi[kPitchTaps];
    for (int i = 0; i < kPitchTaps; ++i) {
        yi[i] = y + kSubframeSamples * i;
    }
    for (int i = 0; i < kPitchTaps; ++i) {
        c[i] = dot(t, yi[i]);
        c[kPitchTaps + i] = 0.5 * dot(yi[i], yi[i]);
    }
    int k = 2 * kPitchTaps;
    for (int i = 1; i < kPitchTaps; ++i) {
        for (int j = 0; j < i; ++j) {
            c[k++] = dot(yi[i], yi[j]);
        }
    }
}

void ScoreRows(const double* c, double* scores) noexcept {
    for (int row = 0; row < kPitchGainRows; ++row) {
        scores[row] = DotProduct(c, PitchTapTable[row].data(), kPitchTableWidth);
    }
}

void CorrelateLags(const double* x, double* correlation) noexcept {
    for (int k = 0; k < kOpenLoopLags; ++k) {
        correlation[k] = DotProduct(x, x - kOpenLoopMinLag - k, kOpenLoopWindow);
    }
}

void BackwardFilter(const double* h, const double* t, double* d) noexcept {
    for (int n = 0; n < kSubframeSamples; ++n) {
        d[n] = DotProduct(t + n, h, kSubframeSamples - n);
    }
}

void Autocorrelate(const double* w, double* sums) noexcept {
    for (int k = 0; k < kAnalysisLags; ++k) {
        sums[k] = DotProduct(w, w + k, kAnalysisWindowSize - k);
    }
}

void RunningProducts(const double* h, double* running) noexcept {
    for (int j = 0; 2 * j < kSubframeSamples; ++j) {
        double sum = 0.0;
        running[j] = sum;
        for (int i = 0; i < kSubframeSamples - 2 * j; ++i) {
            sum += h[i + 2 * j] * h[i];
            running[(i + 1) * kRunningDistances + j] = sum;
        }
    }
}

void ImpulseResponses(const double* aq, const double* weights, const double* synthMem, const double* weightMem,
                      double* u) noexcept {
    double input[kSubframeSamples] = {1.0};
    for (int j = 0; j <= kSubframes; ++j) {
        const bool ringing = j == kSubframes; // the first subframe's cascade from the memories
        const int set = ringing ? 0 : j;
        const double* w = weights + 2 * kLpcOrder * set;
        double s[kReversedSubframe] = {};
        double out[kReversedSubframe] = {};
        if (ringing) {
            std::copy(synthMem, synthMem + kLpcOrder, s + kSubframeSamples);
            std::copy(weightMem, weightMem + kLpcOrder, out + kSubframeSamples);
        }
        RunFilterCascade(ringing ? nullptr : input, aq + kLpcOrder * set, w, w + kLpcOrder, s, out);
        for (int n = 0; n < kSubframeSamples; ++n) {
            u[kSubframeSamples * j + n] = out[kSubframeSamples - 1 - n];
        }
    }
}

void LspSplitScores(int split, const double* r, const double* w, double* scores) noexcept {
    const LspSplit& layout = kLspSplitLayout[split];
    for (int k = 0; k < kLspSplitEntries; ++k) {
        const double* c = LspCodebookData.data() + layout.dataOffset + layout.length * k;
        double score = 0.0;
        for (int i = 0; i < layout.length; ++i) {
            score += w[i] * (2.0 * r[i] * c[i] - c[i] * c[i]);
        }
        scores[k] = score;
    }
}

void HarmonicCorrelations(const double* x, int firstLag, double* r, double* energy) noexcept {
    for (int i = 0; i < kHarmonicLags; ++i) {
        const double* past = x - (firstLag + i);
        r[i] = DotProduct(x, past, kSubframeSamples);
        energy[i] = DotProduct(past, past, kSubframeSamples);
    }
}

void LspGridValues(const double* p, const double* q, double* values) noexcept {
    const double* polynomial[2] = {p, q};
    for (int which = 0; which < 2; ++which) {
        const double* c = polynomial[which];
        for (int j = 0; j < kLspGridPoints; ++j) {
            double sum = 0.0;
            for (int n = 0; n < kLspPolynomialTerms; ++n) {
                sum += c[kLspPolynomialTerms - 1 - n] * kLspGridCosines.cosine[n][j];
            }
            values[kLspGridPoints * which + j] = sum;
        }
    }
}

int SearchPulseSets(const double* d, const double* rr, const double* trackSign, double theta, int time,
                    int* best) noexcept {
    constexpr int kCodes = kTrackPositions;
    const double* diag = rr;
    auto r = [rr, trackSign](int pair, int k, int m) {
        const double twiceSignA = 2.0 * trackSign[kCodes * kPulsePairTracks[pair][0] + k];
        const double signB = trackSign[kCodes * kPulsePairTracks[pair][1] + m];
        return rr[kPulseDiagonalValues + (pair * kCodes + k) * kCodes + m] * (twiceSignA * signB);
    };
    auto at = [d](int track, int k) { return d[kCodes * k + 2 * track]; };
    double bestCorrelation2 = 0.0;
    double bestEnergy = 1.0;
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        best[t] = 0;
    }
    for (int k0 = 0; k0 < kCodes && time > 0; ++k0) {
        for (int k1 = 0; k1 < kCodes && time > 0; ++k1) {
            const double p1 = at(0, k0) + at(1, k1);
            const double a1 = diag[k0] + diag[kCodes + k1] + r(kPulsePair01, k0, k1);
            for (int k2 = 0; k2 < kCodes && time > 0; ++k2) {
                if (!(p1 + at(2, k2) > theta)) {
                    continue;
                }
                const double p2 = p1 + at(2, k2);
                const double a2 = a1 + diag[2 * kCodes + k2] + r(kPulsePair12, k1, k2) + r(kPulsePair02, k0, k2);
                for (int k3 = 0; k3 < kCodes; k3 += 2) {
                    const double p3 = p2 + at(3, k3);
                    const double a3 = a2 + diag[3 * kCodes + k3] + r(kPulsePair03, k0, k3) +
                                      r(kPulsePair13, k1, k3) + r(kPulsePair23, k2, k3);
                    if (p3 * p3 * bestEnergy > bestCorrelation2 * a3) {
                        bestCorrelation2 = p3 * p3;
                        bestEnergy = a3;
                        best[0] = k0;
                        best[1] = k1;
                        best[2] = k2;
                        best[3] = k3;
                    }
                }
                --time;
            }
        }
    }
    return time;
}

} // namespace reference

namespace {

// Portable versions: independent sums side by side, two to an SSE2-sized vector.

void CausalConvolutionPortable(const double* x, const double* h, double* y) noexcept {
    // Twelve outputs are accumulated over the terms they share, then each adds its own remaining
    // terms, still in ascending m.
    constexpr int kPairs = 6;
    constexpr int kBlock = 2 * kPairs;
    static_assert(kSubframeSamples % kBlock == 0);
    for (int n = 0; n < kSubframeSamples; n += kBlock) {
        std::array<DoublePair, kPairs> acc{};
        for (int m = 0; m <= n; ++m) {
            const DoublePair xm = {x[m], x[m]};
            const double* hm = h + n - m;
#pragma GCC unroll 6
            for (int p = 0; p < kPairs; ++p) {
                acc[p] += xm * LoadPair(hm + 2 * p);
            }
        }
        std::array<double, kBlock> out{};
        for (int p = 0; p < kPairs; ++p) {
            out[2 * p] = acc[p][0];
            out[2 * p + 1] = acc[p][1];
        }
        // Term m = n + j of output n + r, in ascending j for every r.
#pragma GCC unroll 12
        for (int j = 1; j < kBlock; ++j) {
#pragma GCC unroll 12
            for (int r = j; r < kBlock; ++r) {
                out[r] += x[n + j] * h[r - j];
            }
        }
        std::copy(out.begin(), out.end(), y + n);
    }
}

void TapResponsesPortable(const double* v, const double* h, double* y) noexcept {
    CausalConvolutionPortable(v + kPitchTaps - 1, h, y + kSubframeSamples * (kPitchTaps - 1));
    DelayedTapResponses(v, h, y);
}

void LspSplitScoresPortable(int split, const double* r, const double* w, double* scores) noexcept {
    // Two entries side by side.
    const int length = kLspSplitLayout[split].length;
    const auto& column = kLspColumns.column[split];
    for (int k = 0; k < kLspSplitEntries; k += 2) {
        DoublePair score = {};
        for (int i = 0; i < length; ++i) {
            const DoublePair c = LoadPair(column[i] + k);
            const DoublePair ri = {r[i], r[i]};
            const DoublePair wi = {w[i], w[i]};
            score += wi * (2.0 * ri * c - c * c);
        }
        __builtin_memcpy(scores + k, &score, sizeof score);
    }
}

void LspGridValuesPortable(const double* p, const double* q, double* values) noexcept {
    // Two grid points side by side.
    const double* polynomial[2] = {p, q};
    for (int which = 0; which < 2; ++which) {
        const double* c = polynomial[which];
        for (int j = 0; j < kLspGridPoints; j += 2) {
            DoublePair sum = {};
            for (int n = 0; n < kLspPolynomialTerms; ++n) {
                const double cn = c[kLspPolynomialTerms - 1 - n];
                sum += DoublePair{cn, cn} * LoadPair(kLspGridCosines.cosine[n] + j);
            }
            __builtin_memcpy(values + kLspGridPoints * which + j, &sum, sizeof sum);
        }
    }
}

int SearchPulseSetsPortable(const double* d, const double* rr, const double* trackSign, double theta, int time,
                            int* best) noexcept {
    // Two candidates to a register, each sum and comparison as the scalar one.
    auto admit = [](double p1, const double* d2, double threshold) {
        unsigned admitted = 0;
#if defined(__SSE2__)
        const DoublePair p1Pair = {p1, p1};
        const DoublePair thetaPair = {threshold, threshold};
#pragma GCC unroll 4
        for (int k = 0; k < kTrackPositions; k += 2) {
            const DoublePair sum = p1Pair + LoadPair(d2 + k);
            admitted |= static_cast<unsigned>(
                            __builtin_ia32_movmskpd(reinterpret_cast<DoublePair>(sum > thetaPair)))
                        << k;
        }
#else
        for (int k = 0; k < kTrackPositions; ++k) {
            admitted |= static_cast<unsigned>(p1 + d2[k] > threshold) << k;
        }
#endif
        return admitted;
    };
    return SearchPulseSetsCore(d, rr, trackSign, theta, time, best, admit);
}

void CorrelateTapsPortable(const double* t, const double* y, double* c) noexcept {
    const double* y0 = y;
    const double* y1 = y + kSubframeSamples;
    const double* y2 = y + 2 * kSubframeSamples;
    const double* y3 = y + 3 * kSubframeSamples;
    const double* y4 = y + 4 * kSubframeSamples;
    double t0 = 0.0, t1 = 0.0, t2 = 0.0, t3 = 0.0, t4 = 0.0;
    double e0 = 0.0, e1 = 0.0, e2 = 0.0, e3 = 0.0, e4 = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        const double tn = t[n];
        t0 += tn * y0[n];
        t1 += tn * y1[n];
        t2 += tn * y2[n];
        t3 += tn * y3[n];
        t4 += tn * y4[n];
        e0 += y0[n] * y0[n];
        e1 += y1[n] * y1[n];
        e2 += y2[n] * y2[n];
        e3 += y3[n] * y3[n];
        e4 += y4[n] * y4[n];
    }
    double x10 = 0.0, x20 = 0.0, x21 = 0.0, x30 = 0.0, x31 = 0.0;
    double x32 = 0.0, x40 = 0.0, x41 = 0.0, x42 = 0.0, x43 = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        x10 += y1[n] * y0[n];
        x20 += y2[n] * y0[n];
        x21 += y2[n] * y1[n];
        x30 += y3[n] * y0[n];
        x31 += y3[n] * y1[n];
        x32 += y3[n] * y2[n];
        x40 += y4[n] * y0[n];
        x41 += y4[n] * y1[n];
        x42 += y4[n] * y2[n];
        x43 += y4[n] * y3[n];
    }
    const double all[kPitchTableWidth] = {t0,       t1,       t2,       t3,  t4,  0.5 * e0, 0.5 * e1,
                                          0.5 * e2, 0.5 * e3, 0.5 * e4, x10, x20, x21,      x30,
                                          x31,      x32,      x40,      x41, x42, x43};
    std::copy(all, all + kPitchTableWidth, c);
}

void ScoreRowsPortable(const double* c, double* scores) noexcept {
    // Six rows side by side, each summed in column order.
    constexpr int kRowBlock = 6;
    static_assert(kPitchGainRows % kRowBlock == 0);
    for (int row = 0; row < kPitchGainRows; row += kRowBlock) {
        std::array<double, kRowBlock> sum{};
        for (int m = 0; m < kPitchTableWidth; ++m) {
#pragma GCC unroll 6
            for (int r = 0; r < kRowBlock; ++r) {
                sum[r] += c[m] * PitchTapTable[row + r][m];
            }
        }
        std::copy(sum.begin(), sum.end(), scores + row);
    }
}

void CorrelateLagsPortable(const double* x, double* correlation) noexcept {
    // Fourteen neighbouring lags side by side, two to a register; lags past the last are computed
    // and ignored.
    constexpr int kPairs = 7;
    constexpr int kLagBlock = 2 * kPairs;
    constexpr int kBlocks = (kOpenLoopLags + kLagBlock - 1) / kLagBlock;
    static_assert(kOpenLoopMinLag + kBlocks * kLagBlock <= kWeightedHistory &&
                  kBlocks * kLagBlock <= kLagCorrelationSlots);
    for (int block = 0; block < kBlocks; ++block) {
        const int lag = kOpenLoopMinLag + kLagBlock * block;
        // Pair p holds the lags (lag + 2p + 1, lag + 2p) in its lanes.
        std::array<DoublePair, kPairs> acc{};
        const double* past = x - lag - 1;
        for (int i = 0; i < kOpenLoopWindow; ++i) {
            const DoublePair xi = {x[i], x[i]};
#pragma GCC unroll 8
            for (int p = 0; p < kPairs; ++p) {
                acc[p] += xi * LoadPair(past + i - 2 * p);
            }
        }
        double* out = correlation + kLagBlock * block;
        for (int p = 0; p < kPairs; ++p) {
            out[2 * p] = acc[p][1];
            out[2 * p + 1] = acc[p][0];
        }
    }
}

void BackwardFilterPortable(const double* h, const double* t, double* d) noexcept {
    // Six neighbouring outputs side by side, each in ascending i: first over the terms they all
    // have, then each over its own longer tail.
    constexpr int kBlock = 6;
    static_assert(kSubframeSamples % kBlock == 0);
    for (int n = 0; n < kSubframeSamples; n += kBlock) {
        std::array<double, kBlock> acc{};
        const int shared = kSubframeSamples - n - (kBlock - 1);
        for (int i = 0; i < shared; ++i) {
            const double hi = h[i];
#pragma GCC unroll 6
            for (int r = 0; r < kBlock; ++r) {
                acc[r] += t[n + r + i] * hi;
            }
        }
#pragma GCC unroll 6
        for (int r = 0; r < kBlock; ++r) {
            for (int i = shared; i < kSubframeSamples - n - r; ++i) {
                acc[r] += t[n + r + i] * h[i];
            }
            d[n + r] = acc[r];
        }
    }
}

template <int First, int Count> void AutocorrelateBlock(const double* w, double* sums) noexcept {
    std::array<double, Count> acc{};
    constexpr int kShared = kAnalysisWindowSize - (First + Count - 1);
    for (int n = 0; n < kShared; ++n) {
#pragma GCC unroll 8
        for (int c = 0; c < Count; ++c) {
            acc[c] += w[n] * w[n + First + c];
        }
    }
#pragma GCC unroll 8
    for (int c = 0; c < Count; ++c) {
        for (int n = kShared; n < kAnalysisWindowSize - First - c; ++n) {
            acc[c] += w[n] * w[n + First + c];
        }
        sums[First + c] = acc[c];
    }
}

void AutocorrelatePortable(const double* w, double* sums) noexcept {
    AutocorrelateBlock<0, 6>(w, sums);
    AutocorrelateBlock<6, 5>(w, sums);
}

void RunningProductsPortable(const double* h, double* running) noexcept {
    // All distances side by side, two to a register; h[i + 2j] for neighbouring j are neighbours
    // among the samples of i's parity. Sums past a distance's last term only fill unused slots.
    constexpr int kPairs = kRunningDistances / 2;
    std::array<std::array<double, kSubframeSamples / 2 + kRunningDistances>, 2> parity{};
    for (int n = 0; n < kSubframeSamples; ++n) {
        parity[n % 2][n / 2] = h[n];
    }
    std::array<DoublePair, kPairs> acc{};
    for (int p = 0; p < kPairs; ++p) {
        __builtin_memcpy(running + 2 * p, &acc[p], sizeof acc[p]);
    }
    for (int i = 0; i < kSubframeSamples; ++i) {
        const DoublePair hi = {h[i], h[i]};
        const double* later = parity[i % 2].data() + i / 2;
        double* out = running + (i + 1) * kRunningDistances;
#pragma GCC unroll 16
        for (int p = 0; p < kPairs; ++p) {
            acc[p] += LoadPair(later + 2 * p) * hi;
            __builtin_memcpy(out + 2 * p, &acc[p], sizeof acc[p]);
        }
    }
}

// The first subframe's cascade from the memories, with no input, into u in time order.
void RingingPortable(const double* aq, const double* weights, const double* synthMem, const double* weightMem,
                     double* u) noexcept {
    double s[kReversedSubframe];
    double out[kReversedSubframe];
    std::copy(synthMem, synthMem + kLpcOrder, s + kSubframeSamples);
    std::copy(weightMem, weightMem + kLpcOrder, out + kSubframeSamples);
    RunFilterCascade<double>(nullptr, aq, weights, weights + kLpcOrder, s, out);
    for (int n = 0; n < kSubframeSamples; ++n) {
        u[n] = out[kSubframeSamples - 1 - n];
    }
}

void ImpulseResponsesPortable(const double* aq, const double* weights, const double* synthMem,
                              const double* weightMem, double* u) noexcept {
    RingingPortable(aq, weights, synthMem, weightMem, u + kSubframes * kSubframeSamples);
    // Two subframes' cascades side by side, one to a lane.
    DoublePair input[kSubframeSamples] = {};
    input[0] = DoublePair{1.0, 1.0};
    for (int j = 0; j < kSubframes; j += 2) {
        DoublePair a[kLpcOrder];
        DoublePair num[kLpcOrder];
        DoublePair den[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) {
            const int first = j * kLpcOrder + k;
            const int second = (j + 1) * kLpcOrder + k;
            a[k] = DoublePair{aq[first], aq[second]};
            num[k] = DoublePair{weights[2 * kLpcOrder * j + k], weights[2 * kLpcOrder * (j + 1) + k]};
            den[k] = DoublePair{weights[2 * kLpcOrder * j + kLpcOrder + k],
                                weights[2 * kLpcOrder * (j + 1) + kLpcOrder + k]};
        }
        // Only the memories need values: the cascade writes each sample before reading it.
        DoublePair s[kReversedSubframe];
        DoublePair out[kReversedSubframe];
        for (int k = kSubframeSamples; k < kReversedSubframe; ++k) {
            s[k] = DoublePair{};
            out[k] = DoublePair{};
        }
        RunFilterCascade(input, a, num, den, s, out);
        for (int n = 0; n < kSubframeSamples; ++n) {
            u[kSubframeSamples * j + n] = out[kSubframeSamples - 1 - n][0];
            u[kSubframeSamples * (j + 1) + n] = out[kSubframeSamples - 1 - n][1];
        }
    }
}

void HarmonicCorrelationsPortable(const double* x, int firstLag, double* r, double* energy) noexcept {
    // Eight neighbouring lags side by side (the one below firstLag unused, so that nothing is
    // read before the oldest sample needed), two to a register: pair p holds the lags
    // (firstLag + 2p, firstLag + 2p - 1).
    constexpr int kPairs = 4;
    std::array<DoublePair, kPairs> cross{};
    std::array<DoublePair, kPairs> energies{};
    for (int n = 0; n < kSubframeSamples; ++n) {
        const DoublePair xn = {x[n], x[n]};
        const double* past = x + n - firstLag;
#pragma GCC unroll 4
        for (int p = 0; p < kPairs; ++p) {
            const DoublePair v = LoadPair(past - 2 * p);
            cross[p] += xn * v;
            energies[p] += v * v;
        }
    }
    for (int i = 0; i < kHarmonicLags; ++i) {
        r[i] = cross[(i + 1) / 2][i % 2];
        energy[i] = energies[(i + 1) / 2][i % 2];
    }
}

constexpr KernelSet kPortableKernels = {
    CausalConvolutionPortable, TapResponsesPortable,   CorrelateTapsPortable,        ScoreRowsPortable,
    CorrelateLagsPortable,     BackwardFilterPortable, AutocorrelatePortable,        RunningProductsPortable,
    ImpulseResponsesPortable,  LspSplitScoresPortable, HarmonicCorrelationsPortable, LspGridValuesPortable,
    SearchPulseSetsPortable,
};

// The set in use: read by every kernel call, so a plain load rather than a guarded static. It starts
// as the portable set, which gives the same doubles, for any use before the start-up check below.
std::atomic<const KernelSet*> activeKernels{&kPortableKernels};

// Whether the processor and the system (which must save the wider registers) can run a path's
// instructions. The C library has asked the processor already; each question put to it again traps
// to the hypervisor on a virtual machine, which made the check a sizeable part of a short run's
// start. Where the library does not offer its survey, the compiler's check stands in.
#if defined(VELMAR_CPU_FEATURES_FROM_LIBC)
#define VELMAR_CPU_CAN_RUN(libraryName, compilerName) CPU_FEATURE_ACTIVE(libraryName)
#else
#define VELMAR_CPU_CAN_RUN(libraryName, compilerName)                                                        \
    (__builtin_cpu_init(), __builtin_cpu_supports(compilerName))
#endif

// The paths this processor can run. Forcing a path is meant for tests and benchmarks between runs
// of the codec; the atomic only keeps such a switch well defined.
struct Dispatch {
    std::array<KernelPath, 3> paths{};
    int pathCount = 0;

    Dispatch() noexcept {
        paths[pathCount++] = KernelPath::Portable;
#if defined(VELMAR_HAVE_AVX2_KERNELS)
        if (VELMAR_CPU_CAN_RUN(AVX2, "avx2")) {
            paths[pathCount++] = KernelPath::Avx2;
            activeKernels.store(&kAvx2Kernels, std::memory_order_release);
            if (VELMAR_CPU_CAN_RUN(AVX512F, "avx512f")) {
                paths[pathCount++] = KernelPath::Avx512;
                activeKernels.store(&Avx512Kernels(), std::memory_order_release);
            }
        }
#endif
    }
};

Dispatch& TheDispatch() noexcept {
    static Dispatch dispatch;
    return dispatch;
}

// The processor is checked at start-up rather than at the first kernel call.
[[maybe_unused]] const bool dispatchChecked = (TheDispatch(), true);

} // namespace

std::span<const KernelPath> AvailableKernelPaths() noexcept {
    const Dispatch& d = TheDispatch();
    return {d.paths.data(), static_cast<std::size_t>(d.pathCount)};
}

const KernelSet& Kernels() noexcept {
    return *activeKernels.load(std::memory_order_acquire);
}

KernelPath ActiveKernelPath() noexcept {
    const KernelSet* active = &Kernels();
    for (const KernelPath path : AvailableKernelPaths()) {
        if (KernelSetFor(path) == active) {
            return path;
        }
    }
    return KernelPath::Portable;
}

const KernelSet* KernelSetFor(KernelPath path) noexcept {
    switch (path) {
    case KernelPath::Portable:
        return &kPortableKernels;
    case KernelPath::Avx2:
#if defined(VELMAR_HAVE_AVX2_KERNELS)
        return &kAvx2Kernels;
#else
        return nullptr;
#endif
    case KernelPath::Avx512:
#if defined(VELMAR_HAVE_AVX2_KERNELS)
        return &Avx512Kernels();
#else
        return nullptr;
#endif
    }
    return nullptr;
}

bool ForceKernelPath(KernelPath path) noexcept {
    const auto available = AvailableKernelPaths();
    if (std::find(available.begin(), available.end(), path) == available.end()) {
        return false;
    }
    activeKernels.store(KernelSetFor(path), std::memory_order_release);
    return true;
}

} // namespace velmar
