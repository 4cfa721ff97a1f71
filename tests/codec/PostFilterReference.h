// The post-filter written as plainly as possible, one sum at a time in index order and one stage
// after the other: the twin that the lane-parallel CPostFilter must match double for double.
#pragma once

#include "codec/Arithmetic.h"
#include "codec/PostFilter.h"
#include "codec/tables/PostFilterTables.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>

namespace velmar::test {

constexpr double kReferenceFlatGain = 0.73;

class CPostFilterReference {
public:
    void Enhance(const DecodedFrame& frame, std::span<double, kFrameSamples> out) noexcept;

private:
    FilterMemory inputMemory{};
    std::array<double, kPostFilterHistory> residualHistory{};
    FilterMemory outputMemory{};
    double gain = kReferenceFlatGain;
};

// A correlation with the neighbouring period below this normalised value is not voicing: that
// side is left out of the average.
inline constexpr double kVoicingThreshold = 0.5;
// Weight of the residual one period away, per side used.
inline constexpr double kOneSideWeight = 0.5;
inline constexpr double kTwoSidesWeight = 0.25;
inline constexpr double kTiltFactor = 0.25;
// Per-sample smoothing of the gain: the new gain keeps this much of the old one.
inline constexpr double kGainSmoothing = 0.9;
// Samples of the impulse response that measure the formant stage's gain.
inline constexpr int kImpulseLength = 20;

using ReferenceBuffer = std::array<double, kPostFilterHistory + kFrameSamples>;

// Averages one subframe of the residual with the residual one pitch period back and, where it is
// still inside the frame, one period ahead. `residual` points at the frame's first sample and
// reaches kPostFilterHistory samples back; `shaped` receives the subframe, left as it is when the
// subframe shows no voicing.
inline void LongTermSubframe(const double* residual, int subframe, int lag, double* shaped) noexcept {
    const int start = kSubframeSamples * subframe;
    const double* x = residual + start;
    const double e0 = DotProduct(x, x, kSubframeSamples);
    if (!(e0 > 0.0)) {
        return;
    }

    // The period around the transmitted lag that matches best; the first wins a tie.
    int period = 0;
    double bestScore = 0.0;
    double bestCorrelation = 0.0;
    double bestEnergy = 0.0;
    for (int candidate = lag - 1; candidate <= lag + 1; ++candidate) {
        const double* past = x - candidate;
        const double c = DotProduct(x, past, kSubframeSamples);
        const double e = DotProduct(past, past, kSubframeSamples);
        if (c > 0.0 && e > 0.0) {
            const double score = c * c / e;
            if (period == 0 || score > bestScore) {
                period = candidate;
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
        const double cf = DotProduct(x, ahead, kSubframeSamples);
        const double ef = DotProduct(ahead, ahead, kSubframeSamples);
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

// Gain that brings the formant stage A(z/0.7) / A(z/0.9) of one subframe to the level of a flat
// envelope, measured on the first samples of its impulse response.
inline double FormantGainTarget(const LpcSet& num, const LpcSet& den, double flatGain) noexcept {
    std::array<double, kImpulseLength> h{};
    for (int n = 0; n < kImpulseLength; ++n) {
        double value = n == 0 ? 1.0 : n <= kLpcOrder ? -num[n - 1] : 0.0;
        for (int k = 1; k <= std::min(n, kLpcOrder); ++k) {
            value += den[k - 1] * h[n - k];
        }
        h[n] = value;
    }
    return flatGain / std::sqrt(DotProduct(h.data(), h.data(), kImpulseLength));
}

inline void Shift(FilterMemory& memory, double newest) noexcept {
    std::copy_backward(memory.begin(), memory.end() - 1, memory.end());
    memory[0] = newest;
}

inline void CPostFilterReference::Enhance(const DecodedFrame& frame,
                                          std::span<double, kFrameSamples> out) noexcept {
    SubframeLpcSets num{};
    SubframeLpcSets den{};
    for (int i = 0; i < kSubframes; ++i) {
        for (int k = 0; k < kLpcOrder; ++k) {
            num[i][k] = frame.lpc[i][k] * PostFilterNumFactors[k];
            den[i][k] = frame.lpc[i][k] * PostFilterDenFactors[k];
        }
    }

    // Residual of the whole frame first: the long-term stage looks ahead into later subframes.
    ReferenceBuffer residual{};
    std::copy(residualHistory.begin(), residualHistory.end(), residual.begin());
    double* const current = residual.data() + kPostFilterHistory;
    for (int n = 0; n < kFrameSamples; ++n) {
        const double y = frame.synthesis[n];
        current[n] = y - DotProduct(num[n / kSubframeSamples].data(), inputMemory.data(), kLpcOrder);
        Shift(inputMemory, y);
    }

    // Each subframe is averaged with the residual as decoded, never with an averaged one.
    std::array<double, kFrameSamples> shaped{};
    std::copy(current, current + kFrameSamples, shaped.begin());
    for (int i = 0; i < kSubframes; ++i) {
        const int lag = frame.lags[i];
        if (lag >= kMinSubframeLag && lag <= kPostFilterMaxLag) {
            LongTermSubframe(current, i, lag, shaped.data());
        }
    }
    std::copy(residual.end() - kPostFilterHistory, residual.end(), residualHistory.begin());

    for (int i = 0; i < kSubframes; ++i) {
        const double target = FormantGainTarget(num[i], den[i], kReferenceFlatGain);
        const int start = kSubframeSamples * i;
        double peak = 0.0;
        for (int n = start; n < start + kSubframeSamples; ++n) {
            const double u = shaped[n] + DotProduct(den[i].data(), outputMemory.data(), kLpcOrder);
            const double tilted = u - kTiltFactor * outputMemory[0];
            Shift(outputMemory, u);
            gain = kGainSmoothing * gain + (1.0 - kGainSmoothing) * target;
            out[n] = gain * tilted;
            peak = std::max(peak, std::abs(out[n]));
        }
        // Sharper formants can push a loud subframe past full scale: scale it back rather than clip.
        if (peak > kSampleMax) {
            const double scale = kSampleMax / peak;
            for (int n = start; n < start + kSubframeSamples; ++n) {
                out[n] *= scale;
            }
        }
    }
}

} // namespace velmar::test
