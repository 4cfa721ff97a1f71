#include "codec/Weighting.h"

#include "codec/Arithmetic.h"
#include "codec/Kernels.h"
#include "codec/tables/AnalysisTables.h"

#include <algorithm>
#include <cassert>

namespace velmar {
namespace {

// A lag this far or further beyond the best so far must beat its normalised correlation by 4/3.
constexpr int kPitchMultipleDistance = kOpenLoopMinLag;
constexpr double kPitchMultipleMargin = 0.25;

// The harmonic weighting is used only where the best normalised correlation explains more than
// this share of the subframe's energy; its gain is the correlation ratio, scaled and capped.
constexpr double kHarmonicVoicingThreshold = 0.375;
constexpr double kHarmonicGainScale = 0.3125;

const double* Numerator(const WeightingSet& coeffs) noexcept {
    return coeffs.data();
}
const double* Denominator(const WeightingSet& coeffs) noexcept {
    return coeffs.data() + kLpcOrder;
}

} // namespace

SubframeWeightings WeightingCoefficients(const SubframeLpcSets& lpc) noexcept {
    SubframeWeightings weightings{};
    for (int j = 0; j < kSubframes; ++j) {
        for (int k = 0; k < kLpcOrder; ++k) {
            weightings[j][k] = lpc[j][k] * WeightNumFactors[k];
            weightings[j][kLpcOrder + k] = lpc[j][k] * WeightDenFactors[k];
        }
    }
    return weightings;
}

void WeightSpeech(FrameSignal x, const SubframeWeightings& weightings, FilterMemory& inMem,
                  FilterMemory& outMem) noexcept {
    // The memories are newest first, so the frame's inputs and outputs are laid out backwards in
    // time in front of them (sample n at [239 - n]); the memory of sample n starts at [240 - n].
    std::array<double, kFrameSamples + kLpcOrder> in{};
    std::array<double, kFrameSamples + kLpcOrder> out{};
    std::copy(inMem.begin(), inMem.end(), in.begin() + kFrameSamples);
    std::copy(outMem.begin(), outMem.end(), out.begin() + kFrameSamples);
    for (int n = 0; n < kFrameSamples; ++n) {
        const WeightingSet& coeffs = weightings[n / kSubframeSamples];
        const int at = kFrameSamples - 1 - n;
        const double v = x[n] - DotProduct(Numerator(coeffs), in.data() + at + 1, kLpcOrder);
        in[at] = x[n];
        const double y = v + DotProduct(Denominator(coeffs), out.data() + at + 1, kLpcOrder);
        out[at] = y;
        x[n] = y;
    }
    std::copy(in.begin(), in.begin() + kLpcOrder, inMem.begin());
    std::copy(out.begin(), out.begin() + kLpcOrder, outMem.begin());
}

int EstimateOpenLoopPitch(WeightedBuffer buf, int start) noexcept {
    assert(start >= kWeightedHistory && start + kOpenLoopWindow <= kWeightedBufferSize);
    const double* b = buf.data();
    std::array<double, kLagCorrelationSlots> correlation;
    Kernels().correlateLags(b + start, correlation.data());

    int bestLag = kOpenLoopMinLag;
    double bestR2 = 0.0;
    double bestEnergy = 1.0;
    // Energy of the window at lag 17; each lag slides it one sample further back.
    double energy =
        DotProduct(b + start - (kOpenLoopMinLag - 1), b + start - (kOpenLoopMinLag - 1), kOpenLoopWindow);
    for (int lag = kOpenLoopMinLag; lag <= kOpenLoopMaxLag; ++lag) {
        const double leaving = b[start - lag + kOpenLoopWindow];
        const double entering = b[start - lag];
        energy = energy - leaving * leaving + entering * entering;
        const double r = correlation[lag - kOpenLoopMinLag];
        if (energy > 0.0 && r > 0.0) {
            const double r2 = r * r;
            const double d = r2 * bestEnergy - energy * bestR2;
            if ((d > 0.0 && lag - bestLag < kPitchMultipleDistance) ||
                d > kPitchMultipleMargin * r2 * bestEnergy) {
                bestLag = lag;
                bestR2 = r2;
                bestEnergy = energy;
            }
        }
    }
    return bestLag;
}

HarmonicWeight FindHarmonicWeight(WeightedBuffer buf, int start, int olp) noexcept {
    assert(start - olp - kHarmonicLagSpread >= 0 && start + kSubframeSamples <= kWeightedBufferSize);
    const double* x = buf.data() + start;
    const double subframeEnergy = DotProduct(x, x, kSubframeSamples);
    int bestIndex = -1;
    double bestEnergy = 1.0;
    double bestR2 = 0.0;
    double bestR = 0.0;
    for (int i = 0; i <= 2 * kHarmonicLagSpread; ++i) {
        const double* past = x - (olp - kHarmonicLagSpread + i);
        const double r = DotProduct(x, past, kSubframeSamples);
        const double energy = DotProduct(past, past, kSubframeSamples);
        if (energy > 0.0 && r > 0.0 && r * r * bestEnergy > energy * bestR2) {
            bestIndex = i;
            bestR = r;
            bestR2 = r * r;
            bestEnergy = energy;
        }
    }
    if (bestIndex < 0) {
        return {olp, 0.0};
    }
    HarmonicWeight hw{olp - kHarmonicLagSpread + bestIndex, 0.0};
    if (bestR2 > kHarmonicVoicingThreshold * bestEnergy * subframeEnergy) {
        hw.gain = kHarmonicGainScale * std::min(1.0, bestR / bestEnergy);
    }
    return hw;
}

void ApplyHarmonicWeight(FrameSignal x, WeightedBuffer buf, int offset, HarmonicWeight hw) noexcept {
    // Reads the unfiltered weighted samples, so a lag below 60 sees this subframe's own input.
    const double* in = buf.data() + kWeightedHistory + offset;
    for (int n = 0; n < kSubframeSamples; ++n) {
        x[offset + n] = in[n] - hw.gain * in[n - hw.lag];
    }
}

// The filters below keep their memories newest first; a subframe's values are laid out backwards
// in time in front of the memory (sample n at [59 - n]), so the memory of sample n starts at
// [60 - n] and the new memory is [0 .. 9] at the end.
using ReversedSubframe = std::array<double, kSubframeSamples + kLpcOrder>;

SubframeVector ComputeImpulseResponse(const LpcSet& aq, const WeightingSet& coeffs,
                                      HarmonicWeight hw) noexcept {
    const double* num = Numerator(coeffs);
    const double* den = Denominator(coeffs);
    ReversedSubframe s{};
    ReversedSubframe u{};
    SubframeVector h{};
    for (int n = 0; n < kSubframeSamples; ++n) {
        const int at = kSubframeSamples - 1 - n;
        const double input = n == 0 ? 1.0 : 0.0;
        const double sn = input + DotProduct(aq.data(), s.data() + at + 1, kLpcOrder);
        const double v = sn - DotProduct(num, s.data() + at + 1, kLpcOrder);
        s[at] = sn;
        const double un = v + DotProduct(den, u.data() + at + 1, kLpcOrder);
        u[at] = un;
        const double echo = n >= hw.lag ? u[at + hw.lag] : 0.0;
        h[n] = un - hw.gain * echo;
    }
    return h;
}

void SubtractRinging(SubframeSignal t, const LpcSet& aq, const WeightingSet& coeffs,
                     const FilterMemory& synthMem, const FilterMemory& weightMem,
                     const WeightedHistory& weightedSynthHistory, HarmonicWeight hw) noexcept {
    const double* num = Numerator(coeffs);
    const double* den = Denominator(coeffs);
    ReversedSubframe s{};
    ReversedSubframe u{};
    std::copy(synthMem.begin(), synthMem.end(), s.begin() + kSubframeSamples);
    std::copy(weightMem.begin(), weightMem.end(), u.begin() + kSubframeSamples);
    // The weighted synthesis history followed by this subframe's ringing, in time order, so that
    // the harmonic echo reaches back into the history.
    std::array<double, kWeightedHistory + kSubframeSamples> timeline{};
    std::copy(weightedSynthHistory.begin(), weightedSynthHistory.end(), timeline.begin());
    for (int n = 0; n < kSubframeSamples; ++n) {
        const int at = kSubframeSamples - 1 - n;
        const double sn = DotProduct(aq.data(), s.data() + at + 1, kLpcOrder);
        const double v = sn - DotProduct(num, s.data() + at + 1, kLpcOrder);
        s[at] = sn;
        const double ringing = v + DotProduct(den, u.data() + at + 1, kLpcOrder);
        u[at] = ringing;
        timeline[kWeightedHistory + n] = ringing;
        t[n] = t[n] - (ringing - hw.gain * timeline[kWeightedHistory + n - hw.lag]);
    }
}

void UpdateRinging(SubframeSignal e, const LpcSet& aq, const WeightingSet& coeffs, FilterMemory& synthMem,
                   FilterMemory& weightMem, WeightedHistory& weightedSynthHistory) noexcept {
    const double* num = Numerator(coeffs);
    const double* den = Denominator(coeffs);
    ReversedSubframe s{};
    ReversedSubframe u{};
    std::copy(synthMem.begin(), synthMem.end(), s.begin() + kSubframeSamples);
    std::copy(weightMem.begin(), weightMem.end(), u.begin() + kSubframeSamples);
    std::copy(weightedSynthHistory.begin() + kSubframeSamples, weightedSynthHistory.end(),
              weightedSynthHistory.begin());
    double* fresh = weightedSynthHistory.data() + kWeightedHistory - kSubframeSamples;
    for (int n = 0; n < kSubframeSamples; ++n) {
        const int at = kSubframeSamples - 1 - n;
        const double sn = e[n] + DotProduct(aq.data(), s.data() + at + 1, kLpcOrder);
        e[n] = sn;
        const double v = sn - DotProduct(num, s.data() + at + 1, kLpcOrder);
        s[at] = sn;
        const double un = v + DotProduct(den, u.data() + at + 1, kLpcOrder);
        u[at] = un;
        fresh[n] = un;
    }
    std::copy(s.begin(), s.begin() + kLpcOrder, synthMem.begin());
    std::copy(u.begin(), u.begin() + kLpcOrder, weightMem.begin());
}

} // namespace velmar
