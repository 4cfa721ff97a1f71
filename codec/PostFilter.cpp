#include "codec/PostFilter.h"

#include "codec/Arithmetic.h"
#include "codec/tables/PostFilterTables.h"

#include <algorithm>
#include <cmath>

namespace velmar {
namespace {

// A correlation with the neighbouring period below this normalised value is not voicing: that
// side is left out of the average.
constexpr double kVoicingThreshold = 0.5;
// Weight of the residual one period away, per side used.
constexpr double kOneSideWeight = 0.5;
constexpr double kTwoSidesWeight = 0.25;
constexpr double kTiltFactor = 0.25;
// Per-sample smoothing of the gain: the new gain keeps this much of the old one.
constexpr double kGainSmoothing = 0.9;
// Samples of the impulse response that measure the formant stage's gain.
constexpr int kImpulseLength = 20;

using PostBuffer = std::array<double, kPostFilterHistory + kFrameSamples>;
using FilterBuffer = std::array<double, kLpcOrder + kFrameSamples>;

inline DoublePair Splat(double v) noexcept {
    return DoublePair{v, v};
}

// Gain that brings the formant stage A(z/0.7) / A(z/0.9) of each subframe to the level of a flat
// envelope, measured on the first samples of its impulse response. The four responses are
// independent, so they run side by side in two lane pairs; each lane sums in index order.
std::array<double, kSubframes> FormantGainTargets(const SubframeLpcSets& num, const SubframeLpcSets& den,
                                                  double flatGain) noexcept {
    constexpr int kPairs = kSubframes / 2;
    std::array<std::array<DoublePair, kImpulseLength>, kPairs> h{};
    for (int n = 0; n < kImpulseLength; ++n) {
        for (int p = 0; p < kPairs; ++p) {
            const LpcSet& numA = num[2 * p];
            const LpcSet& numB = num[2 * p + 1];
            DoublePair value = n == 0           ? Splat(1.0)
                               : n <= kLpcOrder ? DoublePair{-numA[n - 1], -numB[n - 1]}
                                                : Splat(0.0);
            for (int k = 1; k <= std::min(n, kLpcOrder); ++k) {
                value += DoublePair{den[2 * p][k - 1], den[2 * p + 1][k - 1]} * h[p][n - k];
            }
            h[p][n] = value;
        }
    }
    std::array<double, kSubframes> targets{};
    for (int p = 0; p < kPairs; ++p) {
        DoublePair energy = Splat(0.0);
        for (int n = 0; n < kImpulseLength; ++n) {
            energy += h[p][n] * h[p][n];
        }
        targets[2 * p] = flatGain / std::sqrt(energy[0]);
        targets[2 * p + 1] = flatGain / std::sqrt(energy[1]);
    }
    return targets;
}

// Residual of the frame through A(z/0.7): `input` holds the last kLpcOrder samples of the previous
// frame, then this frame's. Neighbouring samples are independent sums, so they go in lane pairs.
void InverseFilter(const FilterBuffer& input, const SubframeLpcSets& num, double* residual) noexcept {
    static_assert(kSubframeSamples % 2 == 0, "a lane pair never straddles two subframes");
    for (int i = 0; i < kSubframes; ++i) {
        DoublePair a[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) {
            a[k] = Splat(num[i][k]);
        }
        for (int n = kSubframeSamples * i; n < kSubframeSamples * (i + 1); n += 2) {
            const double* now = input.data() + kLpcOrder + n;
            DoublePair sum = Splat(0.0);
#pragma GCC unroll 10
            for (int k = 1; k <= kLpcOrder; ++k) {
                sum += a[k - 1] * LoadPair(now - k);
            }
            residual[n] = now[0] - sum[0];
            residual[n + 1] = now[1] - sum[1];
        }
    }
}

// Averages one subframe of the residual with the residual one pitch period back and, where it is
// still inside the frame, one period ahead. `residual` points at the frame's first sample and
// reaches kPostFilterHistory samples back; `shaped` receives the subframe, left as it is when the
// subframe shows no voicing.
void LongTermSubframe(const double* residual, int subframe, int lag, double* shaped) noexcept {
    const int start = kSubframeSamples * subframe;
    const double* x = residual + start;

    // Correlation and energy of each candidate period, all three in one pass: the candidates'
    // past samples are neighbours, so a pair of them is one load; lanes hold (candidate 2, 1) and
    // (1, 0), the middle one's sums twice.
    constexpr int kCandidates = 3;
    const int firstCandidate = lag - 1;
    double e0 = 0.0;
    DoublePair correlationLate = Splat(0.0);
    DoublePair correlationEarly = Splat(0.0);
    DoublePair energyLate = Splat(0.0);
    DoublePair energyEarly = Splat(0.0);
    for (int n = 0; n < kSubframeSamples; ++n) {
        e0 += x[n] * x[n];
        const DoublePair xn = Splat(x[n]);
        const DoublePair late = LoadPair(x + n - firstCandidate - 2);  // candidates 2, 1
        const DoublePair early = LoadPair(x + n - firstCandidate - 1); // candidates 1, 0
        correlationLate += xn * late;
        correlationEarly += xn * early;
        energyLate += late * late;
        energyEarly += early * early;
    }
    const std::array<DoublePair, kCandidates> sums = {
        DoublePair{correlationEarly[1], energyEarly[1]},
        DoublePair{correlationEarly[0], energyEarly[0]},
        DoublePair{correlationLate[0], energyLate[0]},
    };
    if (!(e0 > 0.0)) {
        return;
    }

    // The period that matches best; the first wins a tie.
    int period = 0;
    double bestScore = 0.0;
    double bestCorrelation = 0.0;
    double bestEnergy = 0.0;
    for (int j = 0; j < kCandidates; ++j) {
        const double c = sums[j][0];
        const double e = sums[j][1];
        if (c > 0.0 && e > 0.0) {
            const double score = c * c / e;
            if (period == 0 || score > bestScore) {
                period = firstCandidate + j;
                bestScore = score;
                bestCorrelation = c;
                bestEnergy = e;
            }
        }
    }
    if (period == 0) {
        return;
    }
    const double backGain = bestCorrelation / std::sqrt(bestEnergy * e0) >= kVoicingThreshold
                                ? std::min(bestCorrelation / bestEnergy, 1.0)
                                : 0.0;

    // Looking ahead adds no delay only while the period ahead lies inside the decoded frame.
    double aheadGain = 0.0;
    const double* ahead = x + period;
    if (start + kSubframeSamples - 1 + period < kFrameSamples) {
        DoublePair forward = Splat(0.0);
        for (int n = 0; n < kSubframeSamples; ++n) {
            forward += DoublePair{x[n], ahead[n]} * Splat(ahead[n]);
        }
        const double cf = forward[0];
        const double ef = forward[1];
        if (cf > 0.0 && ef > 0.0 && cf / std::sqrt(ef * e0) >= kVoicingThreshold) {
            aheadGain = std::min(cf / ef, 1.0);
        }
    }

    const double sideWeight = backGain > 0.0 && aheadGain > 0.0 ? kTwoSidesWeight : kOneSideWeight;
    const double wb = sideWeight * backGain;
    const double wf = sideWeight * aheadGain;
    if (wb == 0.0 && wf == 0.0) {
        return;
    }
    const double norm = 1.0 / (1.0 + wb + wf);
    const double* past = x - period;
    for (int n = 0; n < kSubframeSamples; ++n) {
        double sum = x[n] + wb * past[n];
        if (wf > 0.0) {
            sum += wf * ahead[n];
        }
        shaped[start + n] = norm * sum;
    }
}

} // namespace

void CPostFilter::Enhance(const DecodedFrame& frame, std::span<double, kFrameSamples> out) noexcept {
    SubframeLpcSets num{};
    SubframeLpcSets den{};
    for (int i = 0; i < kSubframes; ++i) {
        for (int k = 0; k < kLpcOrder; ++k) {
            num[i][k] = frame.lpc[i][k] * PostFilterNumFactors[k];
            den[i][k] = frame.lpc[i][k] * PostFilterDenFactors[k];
        }
    }
    const std::array<double, kSubframes> targets = FormantGainTargets(num, den, kFlatEnvelopeGain);

    // Residual of the whole frame first: the long-term stage looks ahead into later subframes.
    FilterBuffer input{};
    std::copy(inputHistory.begin(), inputHistory.end(), input.begin());
    std::copy(frame.synthesis.begin(), frame.synthesis.end(), input.begin() + kLpcOrder);
    std::copy(input.end() - kLpcOrder, input.end(), inputHistory.begin());
    PostBuffer residual{};
    std::copy(residualHistory.begin(), residualHistory.end(), residual.begin());
    double* const current = residual.data() + kPostFilterHistory;
    InverseFilter(input, num, current);
    std::copy(residual.end() - kPostFilterHistory, residual.end(), residualHistory.begin());

    // Each subframe is averaged with the residual as decoded, never with an averaged one.
    std::array<double, kFrameSamples> shaped{};
    std::copy(current, current + kFrameSamples, shaped.begin());
    for (int i = 0; i < kSubframes; ++i) {
        const int lag = frame.lags[i];
        if (lag >= kMinSubframeLag && lag <= kPostFilterMaxLag) {
            LongTermSubframe(current, i, lag, shaped.data());
        }
    }

    // 1 / A(z/0.9), tilt and gain. The recursion is the frame's critical path: its sum starts from
    // the newest product rather than from 0.0, which can change only the sign of a zero sum, and a
    // zero of either sign stays zero through every later stage and the rounding.
    // The memories (newest first) ride in registers, so that each output reaches the next one's sum
    // without a round trip through memory.
    double memory[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        memory[k] = outputHistory[kLpcOrder - 1 - k];
    }
    for (int i = 0; i < kSubframes; ++i) {
        double d[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) {
            d[k] = den[i][k];
        }
        const int first = kSubframeSamples * i;
        double peak = 0.0;
        for (int n = first; n < first + kSubframeSamples; ++n) {
            double sum = d[0] * memory[0];
#pragma GCC unroll 9
            for (int k = 1; k < kLpcOrder; ++k) {
                sum += d[k] * memory[k];
            }
            const double now = shaped[n] + sum;
            const double tilted = now - kTiltFactor * memory[0];
#pragma GCC unroll 9
            for (int k = kLpcOrder - 1; k > 0; --k) {
                memory[k] = memory[k - 1];
            }
            memory[0] = now;
            gain = kGainSmoothing * gain + (1.0 - kGainSmoothing) * targets[i];
            out[n] = gain * tilted;
            peak = std::max(peak, std::abs(out[n]));
        }
        // Sharper formants can push a loud subframe past full scale: scale it back rather than clip.
        if (peak > kSampleMax) {
            const double scale = kSampleMax / peak;
            for (int n = first; n < first + kSubframeSamples; ++n) {
                out[n] *= scale;
            }
        }
    }
    for (int k = 0; k < kLpcOrder; ++k) {
        outputHistory[kLpcOrder - 1 - k] = memory[k];
    }
}

void DecodeEnhancedFrame(CSpeechCodec& codec, CPostFilter& postFilter, ConstPackedFrameView frame,
                         SampleFrame out, std::int16_t erased) noexcept {
    DecodedFrame decoded;
    codec.DecodeSynthesis(frame, decoded, erased);
    std::array<double, kFrameSamples> enhanced;
    postFilter.Enhance(decoded, enhanced);
    for (int n = 0; n < kFrameSamples; ++n) {
        out[n] = RoundToSample(enhanced[n]);
    }
}

} // namespace velmar
