// The AVX2 kernels: four independent sums to a 256-bit register, each still summed in its own
// index order, without fused multiply-add. This file alone is compiled for AVX2 and calls no inline
// code shared with the rest of the codec, so nothing built for AVX2 can run on another processor.
#include "codec/CodecConstants.h"
#include "codec/FilterCascade.h"
#include "codec/Kernels.h"
#include "codec/PulseSearchCore.h"

namespace velmar {
namespace {

using Quad = double __attribute__((vector_size(4 * sizeof(double))));
using QuadMask = long long __attribute__((vector_size(4 * sizeof(long long))));

inline Quad Load(const double* p) noexcept {
    Quad v;
    __builtin_memcpy(&v, p, sizeof v);
    return v;
}

inline void Store(double* p, Quad v) noexcept {
    __builtin_memcpy(p, &v, sizeof v);
}

inline Quad Broadcast(double v) noexcept {
    return Quad{v, v, v, v};
}

constexpr int kOpenLoopLags = kOpenLoopMaxLag - kOpenLoopMinLag + 1;

void CausalConvolutionAvx2(const double* x, const double* h, double* y) noexcept {
    // Twenty outputs n .. n + 19 per block, four to a register. Register q (outputs n + 4q ..
    // n + 4q + 3) takes the terms m = 0 .. n + 4q together, which all its lanes have; its lanes
    // then add their last one to three terms singly. Every lane sums in ascending m.
    constexpr int kQuads = 5;
    constexpr int kBlock = 4 * kQuads;
    static_assert(kSubframeSamples % kBlock == 0);
    for (int n = 0; n < kSubframeSamples; n += kBlock) {
        Quad acc[kQuads] = {};
        for (int m = 0; m <= n; ++m) {
            const Quad xm = Broadcast(x[m]);
            const double* hm = h + n - m;
#pragma GCC unroll 5
            for (int q = 0; q < kQuads; ++q) {
                acc[q] += xm * Load(hm + 4 * q);
            }
        }
        // Terms m = n + 1 .. n + 4q of the later registers.
#pragma GCC unroll 4
        for (int first = 1; first < kQuads; ++first) {
#pragma GCC unroll 4
            for (int k = 1; k <= 4; ++k) {
                const int m = n + 4 * (first - 1) + k;
                const Quad xm = Broadcast(x[m]);
                const double* hm = h + n - m;
#pragma GCC unroll 4
                for (int q = first; q < kQuads; ++q) {
                    acc[q] += xm * Load(hm + 4 * q);
                }
            }
        }
        double out[kBlock];
#pragma GCC unroll 5
        for (int q = 0; q < kQuads; ++q) {
            Store(out + 4 * q, acc[q]);
        }
#pragma GCC unroll 5
        for (int q = 0; q < kQuads; ++q) {
            for (int lane = 1; lane < 4; ++lane) {
                for (int k = 1; k <= lane; ++k) {
                    out[4 * q + lane] += x[n + 4 * q + k] * h[lane - k];
                }
            }
        }
        for (int r = 0; r < kBlock; ++r) {
            y[n + r] = out[r];
        }
    }
}

void TapResponsesAvx2(const double* v, const double* h, double* y) noexcept {
    CausalConvolutionAvx2(v + kPitchTaps - 1, h, y + kSubframeSamples * (kPitchTaps - 1));
    // Each value of the recurrence on its own, four neighbours at a time.
    constexpr int kQuadEnd = 1 + 4 * ((kSubframeSamples - 1) / 4);
    for (int i = kPitchTaps - 2; i >= 0; --i) {
        double* yi = y + kSubframeSamples * i;
        const double* next = yi + kSubframeSamples;
        const Quad vi = Broadcast(v[i]);
        yi[0] = v[i];
        for (int n = 1; n < kQuadEnd; n += 4) {
            Store(yi + n, vi * Load(h + n) + Load(next + n - 1));
        }
        for (int n = kQuadEnd; n < kSubframeSamples; ++n) {
            yi[n] = v[i] * h[n] + next[n - 1];
        }
    }
}

void LspSplitScoresAvx2(int split, const double* r, const double* w, double* scores) noexcept {
    // Four entries side by side.
    const int length = kLspSplitLayout[split].length;
    const auto& column = kLspColumns.column[split];
    for (int k = 0; k < kLspSplitEntries; k += 4) {
        Quad score = {};
        for (int i = 0; i < length; ++i) {
            const Quad c = Load(column[i] + k);
            score += Broadcast(w[i]) * (2.0 * Broadcast(r[i]) * c - c * c);
        }
        Store(scores + k, score);
    }
}

void CorrelateTapsAvx2(const double* t, const double* y, double* c) noexcept {
    const double* y0 = y;
    const double* y1 = y + kSubframeSamples;
    const double* y2 = y + 2 * kSubframeSamples;
    const double* y3 = y + 3 * kSubframeSamples;
    const double* y4 = y + 4 * kSubframeSamples;
    // With v = (y0, y1, y2, y3) at sample n: t v, v v, y4 v, v times v rotated by one, (y3, y0,
    // y1, y2), giving y0y3, y1y0, y2y1, y3y2, and v times v rotated by two, (y2, y3, y0, y1),
    // giving y0y2 and y1y3 (twice). The products y4 t and y4 y4 are summed singly.
    Quad ty = {}, yy = {}, y4y = {}, rot1 = {}, rot2 = {};
    double ty4 = 0.0, y4y4 = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        const Quad v = {y0[n], y1[n], y2[n], y3[n]};
        const double tn = t[n];
        const double y4n = y4[n];
        ty += Broadcast(tn) * v;
        yy += v * v;
        y4y += Broadcast(y4n) * v;
        rot1 += v * __builtin_shuffle(v, QuadMask{3, 0, 1, 2});
        rot2 += v * __builtin_shuffle(v, QuadMask{2, 3, 0, 1});
        ty4 += tn * y4n;
        y4y4 += y4n * y4n;
    }
    c[0] = ty[0];
    c[1] = ty[1];
    c[2] = ty[2];
    c[3] = ty[3];
    c[4] = ty4;
    c[5] = 0.5 * yy[0];
    c[6] = 0.5 * yy[1];
    c[7] = 0.5 * yy[2];
    c[8] = 0.5 * yy[3];
    c[9] = 0.5 * y4y4;
    c[10] = rot1[1]; // y1 y0
    c[11] = rot2[0]; // y2 y0
    c[12] = rot1[2]; // y2 y1
    c[13] = rot1[0]; // y3 y0
    c[14] = rot2[1]; // y3 y1
    c[15] = rot1[3]; // y3 y2
    c[16] = y4y[0];
    c[17] = y4y[1];
    c[18] = y4y[2];
    c[19] = y4y[3];
}

void ScoreRowsAvx2(const double* c, double* scores) noexcept {
    constexpr int kQuads = (kPitchGainRows + 3) / 4;
    static_assert(4 * kQuads <= kPitchGainRowsPadded);
    Quad acc[kQuads] = {};
    for (int m = 0; m < kPitchTableWidth; ++m) {
        const Quad cm = Broadcast(c[m]);
        const double* column = kPitchTapColumns.column[m];
#pragma GCC unroll 11
        for (int q = 0; q < kQuads; ++q) {
            acc[q] += cm * Load(column + 4 * q);
        }
    }
    double all[4 * kQuads];
#pragma GCC unroll 11
    for (int q = 0; q < kQuads; ++q) {
        Store(all + 4 * q, acc[q]);
    }
    for (int row = 0; row < kPitchGainRows; ++row) {
        scores[row] = all[row];
    }
}

void CorrelateLagsAvx2(const double* x, double* correlation) noexcept {
    // Thirty-two neighbouring lags per block, four to a register: register q holds the lags
    // (lag + 4q + 3, .., lag + 4q) in its lanes. Lags past the last are computed and ignored.
    constexpr int kQuads = 8;
    constexpr int kLagBlock = 4 * kQuads;
    constexpr int kBlocks = (kOpenLoopLags + kLagBlock - 1) / kLagBlock;
    static_assert(kOpenLoopMinLag + kBlocks * kLagBlock - 1 <= kWeightedHistory &&
                  kBlocks * kLagBlock <= kLagCorrelationSlots);
    for (int block = 0; block < kBlocks; ++block) {
        const int lag = kOpenLoopMinLag + kLagBlock * block;
        Quad acc[kQuads] = {};
        const double* past = x - lag - 3;
        for (int i = 0; i < kOpenLoopWindow; ++i) {
            const Quad xi = Broadcast(x[i]);
#pragma GCC unroll 8
            for (int q = 0; q < kQuads; ++q) {
                acc[q] += xi * Load(past + i - 4 * q);
            }
        }
        double* out = correlation + kLagBlock * block;
#pragma GCC unroll 8
        for (int q = 0; q < kQuads; ++q) {
            const Quad reversed = __builtin_shuffle(acc[q], QuadMask{3, 2, 1, 0});
            Store(out + 4 * q, reversed);
        }
    }
}

void BackwardFilterAvx2(const double* h, const double* t, double* d) noexcept {
    // Twenty outputs n .. n + 19 per block, four to a register. Register q (outputs n + 4q ..
    // n + 4q + 3) takes the terms i = 0 .. 56 - n - 4q together, which all its lanes have; its
    // lanes then add their last two to zero terms singly. Every lane sums in ascending i.
    constexpr int kQuads = 5;
    constexpr int kBlock = 4 * kQuads;
    static_assert(kSubframeSamples % kBlock == 0);
    for (int n = 0; n < kSubframeSamples; n += kBlock) {
        // Terms all lanes of register q have: i < kSubframeSamples - n - 4q - 3.
        const int common = kSubframeSamples - n - 4 * (kQuads - 1) - 3;
        Quad acc[kQuads] = {};
        for (int i = 0; i < common; ++i) {
            const Quad hi = Broadcast(h[i]);
#pragma GCC unroll 5
            for (int q = 0; q < kQuads; ++q) {
                acc[q] += Load(t + n + 4 * q + i) * hi;
            }
        }
        // The earlier registers have four more terms for each register after them.
#pragma GCC unroll 4
        for (int last = kQuads - 2; last >= 0; --last) {
#pragma GCC unroll 4
            for (int k = 0; k < 4; ++k) {
                const int i = common + 4 * (kQuads - 2 - last) + k;
                const Quad hi = Broadcast(h[i]);
#pragma GCC unroll 4
                for (int q = 0; q <= last; ++q) {
                    acc[q] += Load(t + n + 4 * q + i) * hi;
                }
            }
        }
        double out[kBlock];
#pragma GCC unroll 5
        for (int q = 0; q < kQuads; ++q) {
            Store(out + 4 * q, acc[q]);
        }
        for (int r = 0; r < kBlock; ++r) {
            double sum = out[r];
            const int q = r / 4;
            for (int i = kSubframeSamples - n - 4 * q - 3; i < kSubframeSamples - n - r; ++i) {
                sum += t[n + r + i] * h[i];
            }
            d[n + r] = sum;
        }
    }
}

void AutocorrelateAvx2(const double* w, double* sums) noexcept {
    // Lags 0 .. 11 side by side over the samples they all have (lag 11 is not wanted), then each
    // lag adds its own tail.
    constexpr int kQuads = 3;
    constexpr int kLags = kLpcOrder + 1;
    constexpr int kShared = kAnalysisWindowSize - (4 * kQuads - 1);
    Quad acc[kQuads] = {};
    for (int n = 0; n < kShared; ++n) {
        const Quad wn = Broadcast(w[n]);
#pragma GCC unroll 3
        for (int q = 0; q < kQuads; ++q) {
            acc[q] += wn * Load(w + n + 4 * q);
        }
    }
    double out[4 * kQuads];
#pragma GCC unroll 3
    for (int q = 0; q < kQuads; ++q) {
        Store(out + 4 * q, acc[q]);
    }
    for (int k = 0; k < kLags; ++k) {
        double sum = out[k];
        for (int n = kShared; n < kAnalysisWindowSize - k; ++n) {
            sum += w[n] * w[n + k];
        }
        sums[k] = sum;
    }
}

// Adds term i to the running sums of the first Count registers of distances.
template <int Count>
inline void RunningProductsStep(const double (&parity)[2][kSubframeSamples / 2 + kRunningDistances],
                                const double* h, int i, Quad (&acc)[kRunningDistances / 4],
                                double* running) noexcept {
    const Quad hi = Broadcast(h[i]);
    const double* later = parity[i % 2] + i / 2;
    double* out = running + (i + 1) * kRunningDistances;
#pragma GCC unroll 8
    for (int q = 0; q < Count; ++q) {
        acc[q] += Load(later + 4 * q) * hi;
        Store(out + 4 * q, acc[q]);
    }
}

template <int Count>
inline void RunningProductsFrom(const double (&parity)[2][kSubframeSamples / 2 + kRunningDistances],
                                const double* h, int first, Quad (&acc)[kRunningDistances / 4],
                                double* running) noexcept {
    // Register q holds the distances 8q .. 8q + 6, whose sums end at i = 60 - 8q; while i is
    // below the end of the last register still counting, all of the first Count run.
    const int end = Count == 1 ? kSubframeSamples : kSubframeSamples - 8 * (Count - 1);
    for (int i = first; i < end; ++i) {
        RunningProductsStep<Count>(parity, h, i, acc, running);
    }
    if constexpr (Count > 1) {
        RunningProductsFrom<Count - 1>(parity, h, end, acc, running);
    }
}

void RunningProductsAvx2(const double* h, double* running) noexcept {
    // All distances side by side, four to a register; h[i + 2j] for neighbouring j are neighbours
    // among the samples of i's parity. A register stops once all its distances have ended (the
    // slots past a distance's last term are unspecified).
    constexpr int kQuads = kRunningDistances / 4;
    double parity[2][kSubframeSamples / 2 + kRunningDistances] = {};
    for (int n = 0; n < kSubframeSamples; ++n) {
        parity[n % 2][n / 2] = h[n];
    }
    Quad acc[kQuads] = {};
#pragma GCC unroll 8
    for (int q = 0; q < kQuads; ++q) {
        Store(running + 4 * q, acc[q]);
    }
    RunningProductsFrom<kQuads>(parity, h, 0, acc, running);
}

void ImpulseResponsesAvx2(const double* aq, const double* weights, const double* synthMem, const double* weightMem,
                          double* u) noexcept {
    // The first subframe's ringing on its own (the register is full), in time order.
    {
        double s[kReversedSubframe];
        double out[kReversedSubframe];
        for (int k = 0; k < kLpcOrder; ++k) {
            s[kSubframeSamples + k] = synthMem[k];
            out[kSubframeSamples + k] = weightMem[k];
        }
        RunFilterCascade<double>(nullptr, aq, weights, weights + kLpcOrder, s, out);
        for (int n = 0; n < kSubframeSamples; ++n) {
            u[kSubframes * kSubframeSamples + n] = out[kSubframeSamples - 1 - n];
        }
    }
    // The four subframes' cascades side by side, one to a lane.
    static_assert(kSubframes == 4);
    Quad input[kSubframeSamples] = {};
    input[0] = Broadcast(1.0);
    Quad a[kLpcOrder];
    Quad num[kLpcOrder];
    Quad den[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        for (int j = 0; j < kSubframes; ++j) {
            a[k][j] = aq[kLpcOrder * j + k];
            num[k][j] = weights[2 * kLpcOrder * j + k];
            den[k][j] = weights[2 * kLpcOrder * j + kLpcOrder + k];
        }
    }
    // Only the memories need values: the cascade writes each sample before reading it.
    Quad s[kReversedSubframe];
    Quad out[kReversedSubframe];
    for (int k = kSubframeSamples; k < kReversedSubframe; ++k) {
        s[k] = Quad{};
        out[k] = Quad{};
    }
    RunFilterCascade(input, a, num, den, s, out);
    for (int n = 0; n < kSubframeSamples; ++n) {
        const Quad v = out[kSubframeSamples - 1 - n];
        for (int j = 0; j < kSubframes; ++j) {
            u[kSubframeSamples * j + n] = v[j];
        }
    }
}

void HarmonicCorrelationsAvx2(const double* x, int firstLag, double* r, double* energy) noexcept {
    // Eight neighbouring lags side by side (the first one unused): the register `late` holds the
    // lags firstLag + 6 .. + 3, `early` the lags firstLag + 2 .. firstLag - 1, highest first.
    Quad crossLate = {}, crossEarly = {}, energyLate = {}, energyEarly = {};
    for (int n = 0; n < kSubframeSamples; ++n) {
        const Quad xn = Broadcast(x[n]);
        const Quad late = Load(x + n - firstLag - 6);
        const Quad early = Load(x + n - firstLag - 2);
        crossLate += xn * late;
        crossEarly += xn * early;
        energyLate += late * late;
        energyEarly += early * early;
    }
    for (int i = 0; i < 3; ++i) {
        r[i] = crossEarly[2 - i];
        energy[i] = energyEarly[2 - i];
    }
    for (int i = 3; i < kHarmonicLags; ++i) {
        r[i] = crossLate[6 - i];
        energy[i] = energyLate[6 - i];
    }
}

void LspGridValuesAvx2(const double* p, const double* q, double* values) noexcept {
    // Four grid points side by side.
    const double* polynomial[2] = {p, q};
    for (int which = 0; which < 2; ++which) {
        const double* c = polynomial[which];
        for (int j = 0; j < kLspGridPoints; j += 4) {
            Quad sum = {};
#pragma GCC unroll 6
            for (int n = 0; n < kLspPolynomialTerms; ++n) {
                sum += Broadcast(c[kLspPolynomialTerms - 1 - n]) * Load(kLspGridCosines.cosine[n] + j);
            }
            Store(values + kLspGridPoints * which + j, sum);
        }
    }
}

int SearchPulseSetsAvx2(const double* d, const double* rr, const double* trackSign, double theta, int time,
                        int* best) noexcept {
    // Four candidates to a register, each sum and comparison as the scalar one.
    auto admit = [](double p1, const double* d2, double threshold) {
        const Quad low = Broadcast(p1) + Load(d2);
        const Quad high = Broadcast(p1) + Load(d2 + 4);
        const unsigned lowBits = static_cast<unsigned>(
            __builtin_ia32_movmskpd256(reinterpret_cast<Quad>(low > Broadcast(threshold))));
        const unsigned highBits = static_cast<unsigned>(
            __builtin_ia32_movmskpd256(reinterpret_cast<Quad>(high > Broadcast(threshold))));
        return lowBits | highBits << 4;
    };
    return SearchPulseSetsCore(d, rr, trackSign, theta, time, best, admit);
}

} // namespace

extern const KernelSet kAvx2Kernels;
const KernelSet kAvx2Kernels = {
    CausalConvolutionAvx2, TapResponsesAvx2,   CorrelateTapsAvx2,        ScoreRowsAvx2,
    CorrelateLagsAvx2,     BackwardFilterAvx2, AutocorrelateAvx2,        RunningProductsAvx2,
    ImpulseResponsesAvx2,  LspSplitScoresAvx2, HarmonicCorrelationsAvx2, LspGridValuesAvx2,
    SearchPulseSetsAvx2,
};

} // namespace velmar
