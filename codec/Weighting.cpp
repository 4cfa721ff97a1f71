#include "codec/Weighting.h"

#include "codec/Arithmetic.h"
#include "codec/FilterCascade.h"
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

WeightingSet WeightingCoefficients(const LpcSet& lpc) noexcept {
    WeightingSet weighting{};
    for (int k = 0; k < kLpcOrder; ++k) {
        weighting[k] = lpc[k] * WeightNumFactors[k];
        weighting[kLpcOrder + k] = lpc[k] * WeightDenFactors[k];
    }
    return weighting;
}

SubframeWeightings WeightingCoefficients(const SubframeLpcSets& lpc) noexcept {
    SubframeWeightings weightings{};
    for (int j = 0; j < kSubframes; ++j) {
        weightings[j] = WeightingCoefficients(lpc[j]);
    }
    return weightings;
}

void WeightSpeech(FrameSignal x, const SubframeWeightings& weightings, FilterMemory& inMem,
                  FilterMemory& outMem) noexcept {
    // The memories (newest first) are held in registers, so that each output reaches the next
    // one's sum without a round trip through memory.
    double in[kLpcOrder];
    double out[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        in[k] = inMem[k];
        out[k] = outMem[k];
    }
    for (int j = 0; j < kSubframes; ++j) {
        double num[kLpcOrder];
        double den[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) {
            num[k] = Numerator(weightings[j])[k];
            den[k] = Denominator(weightings[j])[k];
        }
        for (int n = kSubframeSamples * j; n < kSubframeSamples * (j + 1); ++n) {
            // Both sums from zero in index order.
            double forward = 0.0;
#pragma GCC unroll 10
            for (int k = 0; k < kLpcOrder; ++k) {
                forward += num[k] * in[k];
            }
            const double v = x[n] - forward;
            double feedback = 0.0;
#pragma GCC unroll 10
            for (int k = 0; k < kLpcOrder; ++k) {
                feedback += den[k] * out[k];
            }
            const double y = v + feedback;
#pragma GCC unroll 10
            for (int k = kLpcOrder - 1; k > 0; --k) {
                in[k] = in[k - 1];
                out[k] = out[k - 1];
            }
            in[0] = x[n];
            out[0] = y;
            x[n] = y;
        }
    }
    for (int k = 0; k < kLpcOrder; ++k) {
        inMem[k] = in[k];
        outMem[k] = out[k];
    }
}

namespace {

// The open-loop search of one window: its energy at each lag follows from the one before (the
// window slides one sample further back), and a lag wins as EstimateOpenLoopPitch describes.
class COpenLoopSearch {
public:
    COpenLoopSearch(const double* buf, int windowStart) noexcept
        : b(buf)
        , start(windowStart) {
        Kernels().correlateLags(b + start, correlation.data());
    }

    // Energy of the window at lag 17.
    void Begin() noexcept {
        const double* first = b + start - (kOpenLoopMinLag - 1);
        energy = DotProduct(first, first, kOpenLoopWindow);
    }

    void Step(int lag) noexcept {
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

    int BestLag() const noexcept { return bestLag; }

private:
    const double* b;
    int start;
    std::array<double, kLagCorrelationSlots> correlation;
    double energy = 0.0;
    int bestLag = kOpenLoopMinLag;
    double bestR2 = 0.0;
    double bestEnergy = 1.0;
};

} // namespace

int EstimateOpenLoopPitch(WeightedBuffer buf, int start) noexcept {
    assert(start >= kWeightedHistory && start + kOpenLoopWindow <= kWeightedBufferSize);
    COpenLoopSearch search(buf.data(), start);
    search.Begin();
    for (int lag = kOpenLoopMinLag; lag <= kOpenLoopMaxLag; ++lag) {
        search.Step(lag);
    }
    return search.BestLag();
}

std::array<int, 2> EstimateOpenLoopPitches(WeightedBuffer buf) noexcept {
    // The two halves' energies are chains of dependent sums; stepped together, each runs while
    // the other waits.
    COpenLoopSearch first(buf.data(), kWeightedHistory);
    COpenLoopSearch second(buf.data(), kWeightedHistory + kOpenLoopWindow);
    first.Begin();
    second.Begin();
    for (int lag = kOpenLoopMinLag; lag <= kOpenLoopMaxLag; ++lag) {
        first.Step(lag);
        second.Step(lag);
    }
    return {first.BestLag(), second.BestLag()};
}

HarmonicWeight FindHarmonicWeight(WeightedBuffer buf, int start, int olp) noexcept {
    assert(start - olp - kHarmonicLagSpread >= 0 && start + kSubframeSamples <= kWeightedBufferSize);
    const double* x = buf.data() + start;
    const double subframeEnergy = DotProduct(x, x, kSubframeSamples);
    std::array<double, kHarmonicLags> correlations;
    std::array<double, kHarmonicLags> energies;
    Kernels().harmonicCorrelations(x, olp - kHarmonicLagSpread, correlations.data(), energies.data());
    int bestIndex = -1;
    double bestEnergy = 1.0;
    double bestR2 = 0.0;
    double bestR = 0.0;
    for (int i = 0; i < kHarmonicLags; ++i) {
        const double r = correlations[i];
        const double energy = energies[i];
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

namespace {

// The harmonic weighting of an impulse response: u in time order.
SubframeVector HarmonicallyWeighted(const double* u, HarmonicWeight hw) noexcept {
    SubframeVector h{};
    for (int n = 0; n < kSubframeSamples; ++n) {
        const double echo = n >= hw.lag ? u[n - hw.lag] : 0.0;
        h[n] = u[n] - hw.gain * echo;
    }
    return h;
}

} // namespace

SubframeVector ComputeImpulseResponse(const LpcSet& aq, const WeightingSet& coeffs,
                                      HarmonicWeight hw) noexcept {
    double input[kSubframeSamples] = {1.0};
    double s[kReversedSubframe] = {};
    double u[kReversedSubframe] = {};
    RunFilterCascade(input, aq.data(), Numerator(coeffs), Denominator(coeffs), s, u);
    std::array<double, kSubframeSamples> response{};
    std::reverse_copy(u, u + kSubframeSamples, response.begin());
    return HarmonicallyWeighted(response.data(), hw);
}

FrameResponses ComputeImpulseResponses(const SubframeLpcSets& aq, const SubframeWeightings& weightings,
                                       const std::array<HarmonicWeight, kSubframes>& hw,
                                       const FilterMemory& synthMem, const FilterMemory& weightMem) noexcept {
    std::array<std::array<double, kSubframeSamples>, kSubframes + 1> u;
    Kernels().impulseResponses(aq[0].data(), weightings[0].data(), synthMem.data(), weightMem.data(), u[0].data());
    FrameResponses responses;
    for (int j = 0; j < kSubframes; ++j) {
        responses.h[j] = HarmonicallyWeighted(u[j].data(), hw[j]);
    }
    std::copy(u[kSubframes].begin(), u[kSubframes].end(), responses.firstRinging.begin());
    return responses;
}

SubframeVector Ringing(const LpcSet& aq, const WeightingSet& coeffs, const FilterMemory& synthMem,
                       const FilterMemory& weightMem) noexcept {
    // The cascade writes the subframe part of s and u before reading it; only the memories are set.
    double s[kReversedSubframe];
    double u[kReversedSubframe];
    std::copy(synthMem.begin(), synthMem.end(), s + kSubframeSamples);
    std::copy(weightMem.begin(), weightMem.end(), u + kSubframeSamples);
    RunFilterCascade<double>(nullptr, aq.data(), Numerator(coeffs), Denominator(coeffs), s, u);
    SubframeVector ringing;
    std::reverse_copy(u, u + kSubframeSamples, ringing.begin());
    return ringing;
}

void SubtractRinging(SubframeSignal t, const SubframeVector& ringing, const WeightedHistory& weightedSynthHistory,
                     HarmonicWeight hw) noexcept {
    // The harmonic echo reaches back into the weighted synthesis history where the lag exceeds
    // the sample's place.
    for (int n = 0; n < kSubframeSamples; ++n) {
        const int echo = n - hw.lag;
        const double past = echo >= 0 ? ringing[static_cast<std::size_t>(echo)]
                                      : weightedSynthHistory[static_cast<std::size_t>(kWeightedHistory + echo)];
        t[n] = t[n] - (ringing[static_cast<std::size_t>(n)] - hw.gain * past);
    }
}

void SubtractRinging(SubframeSignal t, const LpcSet& aq, const WeightingSet& coeffs,
                     const FilterMemory& synthMem, const FilterMemory& weightMem,
                     const WeightedHistory& weightedSynthHistory, HarmonicWeight hw) noexcept {
    SubtractRinging(t, Ringing(aq, coeffs, synthMem, weightMem), weightedSynthHistory, hw);
}

void UpdateRinging(SubframeSignal e, const LpcSet& aq, const WeightingSet& coeffs, FilterMemory& synthMem,
                   FilterMemory& weightMem, WeightedHistory& weightedSynthHistory) noexcept {
    double s[kReversedSubframe];
    double u[kReversedSubframe];
    std::copy(synthMem.begin(), synthMem.end(), s + kSubframeSamples);
    std::copy(weightMem.begin(), weightMem.end(), u + kSubframeSamples);
    RunFilterCascade(e.data(), aq.data(), Numerator(coeffs), Denominator(coeffs), s, u);
    std::reverse_copy(s, s + kSubframeSamples, e.begin());
    std::copy(weightedSynthHistory.begin() + kSubframeSamples, weightedSynthHistory.end(),
              weightedSynthHistory.begin());
    std::reverse_copy(u, u + kSubframeSamples, weightedSynthHistory.end() - kSubframeSamples);
    std::copy(s, s + kLpcOrder, synthMem.begin());
    std::copy(u, u + kLpcOrder, weightMem.begin());
}

} // namespace velmar
