// The AVX-512 kernels: eight independent sums to a 512-bit register, each still summed in its own
// index order, without fused multiply-add. Where eight lanes gain nothing over four, the set keeps
// the AVX2 kernel. Like the AVX2 file, this one alone is built for AVX-512 and calls no inline code
// shared with the rest of the codec.
#include "codec/CodecConstants.h"
#include "codec/FilterCascade.h"
#include "codec/Kernels.h"
#include "codec/PulseSearchCore.h"

#include <immintrin.h>

namespace velmar {

extern const KernelSet kAvx2Kernels; // KernelsAvx2.cpp

namespace {

constexpr int kOctets = (kSubframeSamples + 7) / 8;

// Lanes 0 .. 7 of a register at outputs first .. first + 7: those below the subframe's end.
constexpr __mmask8 InsideSubframe(int first) noexcept {
    return first + 8 <= kSubframeSamples ? __mmask8{0xFF}
                                         : static_cast<__mmask8>(0xFFu >> (first + 8 - kSubframeSamples));
}

// The sums of y[n] = sum over m = 0 .. n of x[m] h[n - m], octet o holding outputs 8o .. 8o + 7.
// The terms come in blocks of eight m (block b: m = 8b .. 8b + 7); octet o takes block b with
// the eight windows h[8k - j ..] of k = o - b. Going through k from 7 down to 0 hands every
// octet its blocks in ascending order, and each k's windows are loaded once for all octets.
void CausalConvolutionAvx512(const double* x, const double* h, double* y) noexcept {
    __m512d acc[kOctets];
#pragma GCC unroll 8
    for (int o = 0; o < kOctets; ++o) {
        acc[o] = _mm512_setzero_pd();
    }
#pragma GCC unroll 1
    for (int k = kOctets - 1; k >= 1; --k) {
        __m512d window[8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            window[j] = _mm512_maskz_loadu_pd(InsideSubframe(8 * k - j), h + 8 * k - j);
        }
        // Blocks b = o - k <= 6 lie wholly inside the subframe.
#pragma GCC unroll 8
        for (int o = 1; o < kOctets; ++o) {
            if (o < k) {
                continue;
            }
            const double* xb = x + 8 * (o - k);
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                acc[o] = _mm512_add_pd(acc[o], _mm512_mul_pd(_mm512_set1_pd(xb[j]), window[j]));
            }
        }
    }
    // k = 0: each octet's own block, whose term m = 8o + j exists only for the lanes from j on; the
    // other lanes keep their sums as they are (no zero is added to them).
    __m512d window[8];
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j) {
        window[j] = _mm512_maskz_loadu_pd(static_cast<__mmask8>(0xFFu << j), h - j);
    }
#pragma GCC unroll 8
    for (int o = 0; o < kOctets; ++o) {
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            if (8 * o + j >= kSubframeSamples) {
                continue;
            }
            const __mmask8 lanes = static_cast<__mmask8>(0xFFu << j);
            acc[o] = _mm512_mask_add_pd(acc[o], lanes, acc[o],
                                        _mm512_mul_pd(_mm512_set1_pd(x[8 * o + j]), window[j]));
        }
    }
#pragma GCC unroll 8
    for (int o = 0; o < kOctets; ++o) {
        _mm512_mask_storeu_pd(y + 8 * o, InsideSubframe(8 * o), acc[o]);
    }
}

void TapResponsesAvx512(const double* v, const double* h, double* y) noexcept {
    CausalConvolutionAvx512(v + kPitchTaps - 1, h, y + kSubframeSamples * (kPitchTaps - 1));
    // Each value of the recurrence on its own, eight neighbours at a time.
    for (int i = kPitchTaps - 2; i >= 0; --i) {
        double* yi = y + kSubframeSamples * i;
        const double* next = yi + kSubframeSamples;
        const __m512d vi = _mm512_set1_pd(v[i]);
        yi[0] = v[i];
        for (int n = 1; n < kSubframeSamples; n += 8) {
            const __mmask8 lanes = InsideSubframe(n);
            const __m512d value = _mm512_add_pd(_mm512_mul_pd(vi, _mm512_maskz_loadu_pd(lanes, h + n)),
                                                _mm512_maskz_loadu_pd(lanes, next + n - 1));
            _mm512_mask_storeu_pd(yi + n, lanes, value);
        }
    }
}

void ScoreRowsAvx512(const double* c, double* scores) noexcept {
    constexpr int kRowOctets = kPitchGainRowsPadded / 8;
    static_assert(8 * kRowOctets >= kPitchGainRows);
    __m512d acc[kRowOctets];
#pragma GCC unroll 6
    for (int q = 0; q < kRowOctets; ++q) {
        acc[q] = _mm512_setzero_pd();
    }
    for (int m = 0; m < kPitchTableWidth; ++m) {
        const __m512d cm = _mm512_set1_pd(c[m]);
        const double* column = kPitchTapColumns.column[m];
#pragma GCC unroll 6
        for (int q = 0; q < kRowOctets; ++q) {
            acc[q] = _mm512_add_pd(acc[q], _mm512_mul_pd(cm, _mm512_loadu_pd(column + 8 * q)));
        }
    }
#pragma GCC unroll 6
    for (int q = 0; q < kRowOctets; ++q) {
        const int rows = kPitchGainRows - 8 * q;
        const __mmask8 lanes = rows >= 8 ? __mmask8{0xFF} : static_cast<__mmask8>((1u << rows) - 1);
        _mm512_mask_storeu_pd(scores + 8 * q, lanes, acc[q]);
    }
}

// Sixty-four neighbouring lags per block, eight to a register: lane l of register q holds the lag
// lag + 8q + 7 - l. The samples come in blocks of eight (block b: i = 8b .. 8b + 7); register q
// takes block b with the windows past[8c + j ..] of c = b - q, so going through c upwards hands
// every register its samples in ascending order and loads each window once for all registers.
void CorrelateLagsAvx512(const double* x, double* correlation) noexcept {
    constexpr int kOpenLoopLags = kOpenLoopMaxLag - kOpenLoopMinLag + 1;
    constexpr int kLagBlock = 64;
    constexpr int kBlocks = (kOpenLoopLags + kLagBlock - 1) / kLagBlock;
    constexpr int kSampleBlocks = kOpenLoopWindow / 8;
    static_assert(kOpenLoopWindow % 8 == 0);
    static_assert(kOpenLoopMinLag + kBlocks * kLagBlock - 1 <= kWeightedHistory &&
                  kBlocks * kLagBlock <= kLagCorrelationSlots);
    using Order = long long __attribute__((vector_size(64)));
    constexpr Order kReverse = {7, 6, 5, 4, 3, 2, 1, 0};
    for (int block = 0; block < kBlocks; ++block) {
        const int lag = kOpenLoopMinLag + kLagBlock * block;
        const double* past = x - lag - 7;
        __m512d acc[8];
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
            acc[q] = _mm512_setzero_pd();
        }
#pragma GCC unroll 1
        for (int c = -7; c < kSampleBlocks; ++c) {
            __m512d window[8];
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                window[j] = _mm512_loadu_pd(past + 8 * c + j);
            }
#pragma GCC unroll 8
            for (int q = 0; q < 8; ++q) {
                const int b = q + c;
                if (b < 0 || b >= kSampleBlocks) {
                    continue;
                }
                const double* xb = x + 8 * b;
#pragma GCC unroll 8
                for (int j = 0; j < 8; ++j) {
                    acc[q] = _mm512_add_pd(acc[q], _mm512_mul_pd(_mm512_set1_pd(xb[j]), window[j]));
                }
            }
        }
        double* out = correlation + kLagBlock * block;
#pragma GCC unroll 8
        for (int q = 0; q < 8; ++q) {
                _mm512_storeu_pd(out + 8 * q, __builtin_shuffle(acc[q], kReverse));
        }
    }
}

// d[n] = sum over i = 0 .. 59 - n of t[n + i] h[i], octet o holding d[8o .. 8o + 7]. The terms
// come in blocks of eight i (block b: i = 8b + j); octet o takes block b with the windows
// t[8k + j ..] of k = o + b, so going through k upwards hands every octet its blocks in ascending
// order. Whether a lane has a term depends on k, j and the lane alone (8k + j + lane <= 59): the
// last two k add to some lanes only, leaving the others' sums as they are.
void BackwardFilterAvx512(const double* h, const double* t, double* d) noexcept {
    __m512d acc[kOctets];
#pragma GCC unroll 8
    for (int o = 0; o < kOctets; ++o) {
        acc[o] = _mm512_setzero_pd();
    }
    auto addBlocks = [&](int k, auto laneMask) {
        __m512d window[8];
#pragma GCC unroll 8
        for (int j = 0; j < 8; ++j) {
            window[j] = _mm512_maskz_loadu_pd(laneMask(j), t + 8 * k + j);
        }
#pragma GCC unroll 8
        for (int o = 0; o < kOctets; ++o) {
            if (o > k) {
                continue;
            }
            const double* hb = h + 8 * (k - o);
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                const __m512d term = _mm512_mul_pd(_mm512_set1_pd(hb[j]), window[j]);
                acc[o] = _mm512_mask_add_pd(acc[o], laneMask(j), acc[o], term);
            }
        }
    };
    constexpr int kWholeBlocks = (kSubframeSamples - 15) / 8 + 1; // k with 8k + 7 + 7 <= 59
#pragma GCC unroll 1
    for (int k = 0; k < kWholeBlocks; ++k) {
        addBlocks(k, [](int) { return __mmask8{0xFF}; });
    }
#pragma GCC unroll 2
    for (int k = kWholeBlocks; k < kOctets; ++k) {
        addBlocks(k, [k](int j) {
            const int lanes = kSubframeSamples - 8 * k - j; // lanes 0 .. lanes - 1 have the term
            return lanes >= 8 ? __mmask8{0xFF}
                              : static_cast<__mmask8>(lanes <= 0 ? 0u : (1u << lanes) - 1);
        });
    }
#pragma GCC unroll 8
    for (int o = 0; o < kOctets; ++o) {
        _mm512_mask_storeu_pd(d + 8 * o, InsideSubframe(8 * o), acc[o]);
    }
}

void LspSplitScoresAvx512(int split, const double* r, const double* w, double* scores) noexcept {
    // Eight entries side by side.
    const int length = kLspSplitLayout[split].length;
    const auto& column = kLspColumns.column[split];
    for (int k = 0; k < kLspSplitEntries; k += 8) {
        __m512d score = _mm512_setzero_pd();
        for (int i = 0; i < length; ++i) {
            const __m512d c = _mm512_loadu_pd(column[i] + k);
            const __m512d twiceR = _mm512_mul_pd(_mm512_set1_pd(2.0), _mm512_set1_pd(r[i]));
            const __m512d term = _mm512_sub_pd(_mm512_mul_pd(twiceR, c), _mm512_mul_pd(c, c));
            score = _mm512_add_pd(score, _mm512_mul_pd(_mm512_set1_pd(w[i]), term));
        }
        _mm512_storeu_pd(scores + k, score);
    }
}

// Lags 0 .. 7 and 8 .. 10 in two registers, over every sample: a lane whose lag has no term at
// sample n (n + lag past the window) keeps its sum as it is.
void AutocorrelateAvx512(const double* w, double* sums) noexcept {
    constexpr int kLags = kLpcOrder + 1;
    static_assert(kLags > 8 && kLags <= 16);
    constexpr int kN = kAnalysisWindowSize;
    __m512d low = _mm512_setzero_pd();
    __m512d high = _mm512_setzero_pd();
    // Lanes whose lag k has sample n: n + k <= kN - 1.
    auto lanesFrom = [](int firstLag, int n, int lags) {
        const int have = kN - n - firstLag; // lags firstLag .. firstLag + have - 1 reach n
        const int count = have < lags ? have : lags;
        return count <= 0 ? __mmask8{0} : static_cast<__mmask8>((1u << count) - 1);
    };
    constexpr int kWhole = kN - kLags + 1; // samples every lag has
    for (int n = 0; n < kWhole; ++n) {
        const __m512d wn = _mm512_set1_pd(w[n]);
        low = _mm512_add_pd(low, _mm512_mul_pd(wn, _mm512_loadu_pd(w + n)));
        high = _mm512_mask_add_pd(high, __mmask8{(1u << (kLags - 8)) - 1}, high,
                                  _mm512_mul_pd(wn, _mm512_maskz_loadu_pd(__mmask8{(1u << (kLags - 8)) - 1}, w + n + 8)));
    }
#pragma GCC unroll 11
    for (int n = kWhole; n < kN; ++n) {
        const __m512d wn = _mm512_set1_pd(w[n]);
        const __mmask8 lowLanes = lanesFrom(0, n, 8);
        const __mmask8 highLanes = lanesFrom(8, n, kLags - 8);
        low = _mm512_mask_add_pd(low, lowLanes, low, _mm512_mul_pd(wn, _mm512_maskz_loadu_pd(lowLanes, w + n)));
        high = _mm512_mask_add_pd(high, highLanes, high,
                                  _mm512_mul_pd(wn, _mm512_maskz_loadu_pd(highLanes, w + n + 8)));
    }
    _mm512_storeu_pd(sums, low);
    _mm512_mask_storeu_pd(sums + 8, __mmask8{(1u << (kLags - 8)) - 1}, high);
}

void LspGridValuesAvx512(const double* p, const double* q, double* values) noexcept {
    // Eight grid points side by side.
    const double* polynomial[2] = {p, q};
    for (int which = 0; which < 2; ++which) {
        const double* c = polynomial[which];
        for (int j = 0; j < kLspGridPoints; j += 8) {
            __m512d sum = _mm512_setzero_pd();
#pragma GCC unroll 6
            for (int n = 0; n < kLspPolynomialTerms; ++n) {
                const __m512d term = _mm512_mul_pd(_mm512_set1_pd(c[kLspPolynomialTerms - 1 - n]),
                                                   _mm512_loadu_pd(kLspGridCosines.cosine[n] + j));
                sum = _mm512_add_pd(sum, term);
            }
            _mm512_storeu_pd(values + kLspGridPoints * which + j, sum);
        }
    }
}

int SearchPulseSetsAvx512(const double* d, const double* rr, const double* trackSign, double theta, int time,
                          int* best) noexcept {
    // All eight candidates in one register, each sum and comparison as the scalar one.
    auto admit = [](double p1, const double* d2, double threshold) {
        const __m512d sum = _mm512_add_pd(_mm512_set1_pd(p1), _mm512_loadu_pd(d2));
        return static_cast<unsigned>(_mm512_cmp_pd_mask(sum, _mm512_set1_pd(threshold), _CMP_GT_OQ));
    };
    return SearchPulseSetsCore(d, rr, trackSign, theta, time, best, admit);
}

// The four subframes' impulse responses and the first subframe's ringing side by side, one to a
// lane (lanes 5 .. 7 idle at zero): the five cascades are chains of dependent sums that take as
// long together as one alone. The ringing lane takes -0.0 as its input, which adds nothing.
void ImpulseResponsesAvx512(const double* aq, const double* weights, const double* synthMem,
                            const double* weightMem, double* u) noexcept {
    using Octet = double __attribute__((vector_size(8 * sizeof(double))));
    constexpr int kRinging = kSubframes;
    static_assert(kSubframes == 4 && kRinging == 4);
    Octet input[kSubframeSamples];
    for (int n = 0; n < kSubframeSamples; ++n) {
        const double pulse = n == 0 ? 1.0 : 0.0;
        input[n] = Octet{pulse, pulse, pulse, pulse, kNoInput, 0.0, 0.0, 0.0};
    }
    // Built whole in registers rather than lane by lane in memory.
    Octet a[kLpcOrder];
    Octet num[kLpcOrder];
    Octet den[kLpcOrder];
    auto lanes = [](const double* values, int stride, int k) {
        return Octet{values[k], values[stride + k], values[2 * stride + k], values[3 * stride + k], values[k],
                     0.0,       0.0,                0.0};
    };
    for (int k = 0; k < kLpcOrder; ++k) {
        a[k] = lanes(aq, kLpcOrder, k);
        num[k] = lanes(weights, 2 * kLpcOrder, k);
        den[k] = lanes(weights + kLpcOrder, 2 * kLpcOrder, k);
    }
    // Only the memories need values: the cascade writes each sample before reading it. The
    // impulse lanes start from zero, the ringing lane from the local decoder's memories.
    Octet s[kReversedSubframe];
    Octet out[kReversedSubframe];
    for (int k = 0; k < kLpcOrder; ++k) {
        s[kSubframeSamples + k] = Octet{0.0, 0.0, 0.0, 0.0, synthMem[k], 0.0, 0.0, 0.0};
        out[kSubframeSamples + k] = Octet{0.0, 0.0, 0.0, 0.0, weightMem[k], 0.0, 0.0, 0.0};
    }
    RunFilterCascade(input, a, num, den, s, out);
    for (int n = 0; n < kSubframeSamples; ++n) {
        const Octet v = out[kSubframeSamples - 1 - n];
        for (int j = 0; j <= kRinging; ++j) {
            u[kSubframeSamples * j + n] = v[j];
        }
    }
}

KernelSet MakeAvx512Kernels() noexcept {
    KernelSet set = kAvx2Kernels;
    set.causalConvolution = CausalConvolutionAvx512;
    set.tapResponses = TapResponsesAvx512;
    set.scoreRows = ScoreRowsAvx512;
    set.correlateLags = CorrelateLagsAvx512;
    set.backwardFilter = BackwardFilterAvx512;
    set.lspSplitScores = LspSplitScoresAvx512;
    set.autocorrelate = AutocorrelateAvx512;
    set.lspGridValues = LspGridValuesAvx512;
    set.impulseResponses = ImpulseResponsesAvx512;
    set.searchPulseSets = SearchPulseSetsAvx512;
    return set;
}

} // namespace

const KernelSet& Avx512Kernels() noexcept {
    static const KernelSet set = MakeAvx512Kernels();
    return set;
}

} // namespace velmar
