// The codec's hot loops, each in up to four versions: a plain reference (the straightforward loop,
// in index order), a portable version (two sums side by side in SSE2-sized vectors, which any GCC
// target lowers) and, on x86-64, an AVX2 version with four sums to a register and an AVX-512 one
// with eight where that gains. Every version
// computes every sum in the same order, only more of them at once, so all give identical doubles;
// which one runs is chosen once from what the processor supports.
//
// The kernels work on raw arrays of the sizes stated, so that the AVX2 versions, compiled on their
// own, share no inline code with the rest of the codec (the filter cascade template they use has
// internal linkage).
#pragma once

#include "codec/CodecConstants.h"

#include <span>

namespace velmar {

inline constexpr int kLagCorrelationSlots = 128;
inline constexpr int kHarmonicLags = 2 * kHarmonicLagSpread + 1;
inline constexpr int kRunningDistances = 32; // the 30 even distances below 60, padded
inline constexpr int kRunningSlots = (kSubframeSamples + 1) * kRunningDistances;

enum class KernelPath { Portable, Avx2, Avx512 };

struct KernelSet {
    // y[n] = sum over m = 0 .. n of x[m] h[n - m], ascending m, for n = 0 .. 59.
    void (*causalConvolution)(const double* x, const double* h, double* y) noexcept;
    // The five filtered tap vectors of the pitch search: y[4] is v[4 .. 63] convolved with h as
    // causalConvolution does it; as h[0] = 1, y[i] (i = 3 .. 0) is y[i + 1] delayed by a sample
    // plus v[i] h: y[i][0] = v[i], y[i][n] = v[i] h[n] + y[i + 1][n - 1]. y receives five vectors
    // of 60 back to back.
    void (*tapResponses)(const double* v, const double* h, double* y) noexcept;
    // The 20 products of the pitch search: t with y0 .. y4, y_i with itself (halved), and the ten
    // cross products y1y0, y2y0, y2y1, y3y0, y3y1, y3y2, y4y0, y4y1, y4y2, y4y3; each summed
    // over n = 0 .. 59 ascending. y holds five vectors of 60 back to back.
    void (*correlateTaps)(const double* t, const double* y, double* c) noexcept;
    // Score of each of the 42 predictor rows: sum over m = 0 .. 19 ascending of c[m] row[m].
    void (*scoreRows)(const double* c, double* scores) noexcept;
    // correlation[k] = sum over i = 0 .. 119 ascending of x[i] x[i - 18 - k] for the lags 18 .. 142
    // (k = 0 .. 124); correlation has kLagCorrelationSlots entries, and x 145 readable samples
    // before it.
    void (*correlateLags)(const double* x, double* correlation) noexcept;
    // d[n] = sum over i = 0 .. 59 - n ascending of t[n + i] h[i], n = 0 .. 59.
    void (*backwardFilter)(const double* h, const double* t, double* d) noexcept;
    // sums[k] = sum over n = 0 .. 179 - k ascending of w[n] w[n + k], k = 0 .. 10.
    void (*autocorrelate)(const double* w, double* sums) noexcept;
    // The running sums of h[i + 2j] h[i] over i ascending, for every even distance 2j < 60:
    // running[i * kRunningDistances + j] after i terms, i = 0 .. 60 - 2j (later slots of a
    // distance are unspecified). h has 60 values.
    void (*runningProducts)(const double* h, double* running) noexcept;
    // The filter cascade's responses to a unit impulse from zero memories, for the four subframes
    // at once, and the first subframe's ringing: aq holds four synthesis sets of 10, weights four
    // weighting sets of 20 (numerator, then denominator); u receives four responses of 60 in time
    // order, then the weighted output of the first subframe's cascade with no input from the
    // memories synthMem and weightMem (10 each, newest first).
    void (*impulseResponses)(const double* aq, const double* weights, const double* synthMem,
                             const double* weightMem, double* u) noexcept;
    // Score of every entry k (0 .. 255) of LSP split `split` against residual r and weights w of
    // that split: sum over i ascending of w[i] (2 r[i] c[i] - c[i] c[i]), c the entry's values.
    void (*lspSplitScores)(int split, const double* r, const double* w, double* scores) noexcept;
    // For the seven lags L = firstLag + i (i = 0 .. 6): r[i] = sum over n = 0 .. 59 ascending of
    // x[n] x[n - L], energy[i] = sum of x[n - L] x[n - L]. x has firstLag + 6 readable samples
    // before it and 60 after.
    void (*harmonicCorrelations)(const double* x, int firstLag, double* r, double* energy) noexcept;
    // The two LSP polynomials p and q (six coefficients each) on the whole search grid:
    // values[j] = p(j), values[kLspGridPoints + j] = q(j), each the sum over n = 0 .. 5 ascending
    // of c[5 - n] cos(n j pi / 256).
    void (*lspGridValues)(const double* p, const double* q, double* values) noexcept;
    // The search over the sets of four pulses (see PulseSearchCore.h for the layout of rr; the signs
    // of the positions by track and code, trackSign[4][8], are folded into d already and into the
    // cross terms by the search): tries the first `time` sets whose first three pulses'
    // correlation sum passes theta, in order of their codes k0, k1, k2, each with the fourth
    // track's codes 0, 2, 4, 6; best receives the codes of the first set of highest P^2 / A (all 0
    // if none beats 0 / 1); returns the budget left.
    int (*searchPulseSets)(const double* d, const double* rr, const double* trackSign, double theta, int time,
                           int* best) noexcept;
};

// Paths this processor can run, the portable one first.
std::span<const KernelPath> AvailableKernelPaths() noexcept;

// The kernels in use: the widest path available unless one has been forced.
const KernelSet& Kernels() noexcept;
KernelPath ActiveKernelPath() noexcept;

// Makes every later call use `path` (which must be available); for tests and benchmarks that
// compare paths. Returns false, changing nothing, for a path this processor cannot run.
bool ForceKernelPath(KernelPath path) noexcept;

// The predictor table by columns, the rows padded with zeros to a multiple of eight, so that the
// rows' scores can be summed side by side.
inline constexpr int kPitchGainRowsPadded = 48;
struct PitchTapColumnTable {
    double column[kPitchTableWidth][kPitchGainRowsPadded];
};
extern const PitchTapColumnTable kPitchTapColumns;

// The LSP codebook by columns: value i of entry k of split s at column[s][i][k].
inline constexpr int kLspSplitMaxLength = 4;
struct LspColumnTable {
    double column[kLspSplits][kLspSplitMaxLength][kLspSplitEntries];
};
extern const LspColumnTable kLspColumns;

// cos(n j pi / 256) from the cosine table, by n (the polynomial term) and grid point j.
inline constexpr int kLspPolynomialTerms = 6;
struct LspGridCosineTable {
    double cosine[kLspPolynomialTerms][kLspGridPoints];
};
extern const LspGridCosineTable kLspGridCosines;

// The plain loops that define each kernel's result.
namespace reference {
void CausalConvolution(const double* x, const double* h, double* y) noexcept;
void TapResponses(const double* v, const double* h, double* y) noexcept;
void CorrelateTaps(const double* t, const double* y, double* c) noexcept;
void ScoreRows(const double* c, double* scores) noexcept;
void CorrelateLags(const double* x, double* correlation) noexcept;
void BackwardFilter(const double* h, const double* t, double* d) noexcept;
void Autocorrelate(const double* w, double* sums) noexcept;
void RunningProducts(const double* h, double* running) noexcept;
void ImpulseResponses(const double* aq, const double* weights, const double* synthMem, const double* weightMem,
                      double* u) noexcept;
void LspSplitScores(int split, const double* r, const double* w, double* scores) noexcept;
void HarmonicCorrelations(const double* x, int firstLag, double* r, double* energy) noexcept;
void LspGridValues(const double* p, const double* q, double* values) noexcept;
int SearchPulseSets(const double* d, const double* rr, const double* trackSign, double theta, int time,
                    int* best) noexcept;
} // namespace reference

// The kernel sets of each path; KernelSetFor returns nullptr for a path not built in.
const KernelSet* KernelSetFor(KernelPath path) noexcept;

} // namespace velmar
