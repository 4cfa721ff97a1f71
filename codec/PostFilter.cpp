#include "codec/PostFilter.h"

#include "codec/Arithmetic.h"
#include "codec/SynthesisSteps.h"
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

// The first samples of the impulse responses of the four subframes' formant stages A(z/0.7) /
// A(z/0.9). The responses are independent, so they run side by side in two lane pairs; each lane
// sums in index order.
constexpr int kFormantPairs = kSubframes / 2;
using FormantImpulses = std::array<std::array<DoublePair, kImpulseLength>, kFormantPairs>;

// Sample n of every response; samples before n are already in h. A sample at a time, so that the
// overlapped decoder can take the responses alongside its first recursion.
inline void FormantImpulseStep(const SubframeLpcSets& num, const SubframeLpcSets& den, FormantImpulses& h,
                               int n) noexcept {
    for (int p = 0; p < kFormantPairs; ++p) {
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

// Gain that brings each subframe's formant stage to the level of a flat envelope, measured on the
// responses' energy.
std::array<double, kSubframes> FormantGainTargets(const FormantImpulses& h, double flatGain) noexcept {
    std::array<double, kSubframes> targets{};
    for (int p = 0; p < kFormantPairs; ++p) {
        DoublePair energy = Splat(0.0);
        for (int n = 0; n < kImpulseLength; ++n) {
            energy += h[p][n] * h[p][n];
        }
        targets[2 * p] = flatGain / std::sqrt(energy[0]);
        targets[2 * p + 1] = flatGain / std::sqrt(energy[1]);
    }
    return targets;
}

// Residual of subframe i through A(z/0.7): `input` holds the last kLpcOrder samples of the previous
// frame, then this frame's (up to the end of subframe i). Neighbouring samples are independent
// sums, so they go in lane pairs.
void InverseSubframe(const FilterBuffer& input, const LpcSet& num, int i, double* residual) noexcept {
    static_assert(kSubframeSamples % 2 == 0, "a lane pair never straddles two subframes");
    DoublePair a[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        a[k] = Splat(num[k]);
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

// Correlation and energy of each candidate period of a subframe with its past, the three
// candidates in one pass: their past samples are neighbours, so a pair of them is one load; lanes
// hold (candidate 2, 1) and (1, 0), the middle one's sums twice. A sample at a time, so that the
// decoder can run the pass alongside a recursion.
struct LongTermSums {
    double e0 = 0.0;
    DoublePair correlationLate = Splat(0.0);
    DoublePair correlationEarly = Splat(0.0);
    DoublePair energyLate = Splat(0.0);
    DoublePair energyEarly = Splat(0.0);

    // Sample n of subframe x for the candidates from firstCandidate, n = 0 .. 59 in order.
    void Add(const double* x, int firstCandidate, int n) noexcept {
        e0 += x[n] * x[n];
        const DoublePair xn = Splat(x[n]);
        const DoublePair late = LoadPair(x + n - firstCandidate - 2);  // candidates 2, 1
        const DoublePair early = LoadPair(x + n - firstCandidate - 1); // candidates 1, 0
        correlationLate += xn * late;
        correlationEarly += xn * early;
        energyLate += late * late;
        energyEarly += early * early;
    }
};

// The candidates of a subframe's period: one either side of its pitch lag.
int FirstCandidate(int lag) noexcept {
    return lag - 1;
}

// Averages one subframe of the residual with the residual one pitch period back and, where it is
// still inside the frame, one period ahead. `residual` points at the frame's first sample and
// reaches kPostFilterHistory samples back; `shaped` receives the subframe, left as it is when the
// subframe shows no voicing.
void LongTermSubframe(const double* residual, int subframe, int lag, const LongTermSums& pass,
                      double* shaped) noexcept {
    const int start = kSubframeSamples * subframe;
    const double* x = residual + start;
    constexpr int kCandidates = 3;
    const int firstCandidate = FirstCandidate(lag);
    const double e0 = pass.e0;
    const std::array<DoublePair, kCandidates> sums = {
        DoublePair{pass.correlationEarly[1], pass.energyEarly[1]},
        DoublePair{pass.correlationEarly[0], pass.energyEarly[0]},
        DoublePair{pass.correlationLate[0], pass.energyLate[0]},
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

// The stages of one frame. The residual of a subframe needs its decoded samples; the long-term
// stage of subframe i looks one period ahead, into subframe i + 1 and, with a period one past the
// largest lag, to the first sample of i + 2; the formant stage of a subframe needs its long-term
// output. Enhance runs the stages in order; DecodeEnhancedFrame runs the formant stage of subframe
// i side by side with the decoder's synthesis of subframe i + 2, and the long-term stage's pass
// over a subframe's past alongside the recursions that follow it.
class CPostFilter::CFrameWork {
public:
    // With `gainsAlongside`, the caller takes the formant gains' responses itself with GainStep and
    // ends them with TakeGains before the first Form.
    CFrameWork(CPostFilter& postFilter, const DecodedFrame& decoded, bool gainsAlongside = false) noexcept
        : filter(postFilter)
        , frame(decoded) {
        for (int i = 0; i < kSubframes; ++i) {
            for (int k = 0; k < kLpcOrder; ++k) {
                num[i][k] = frame.lpc[i][k] * PostFilterNumFactors[k];
                den[i][k] = frame.lpc[i][k] * PostFilterDenFactors[k];
            }
        }
        if (!gainsAlongside) {
            for (int n = 0; n < kImpulseLength; ++n) {
                GainStep(n);
            }
            TakeGains();
        }
        std::copy(filter.inputHistory.begin(), filter.inputHistory.end(), input.begin());
        std::copy(filter.residualHistory.begin(), filter.residualHistory.end(), residual.begin());
        for (int k = 0; k < kLpcOrder; ++k) {
            memory[k] = filter.outputHistory[kLpcOrder - 1 - k];
        }
    }

    // Sample n (0 .. kImpulseLength - 1, in order) of the responses that measure the formant gains.
    void GainStep(int n) noexcept { FormantImpulseStep(num, den, impulses, n); }
    void TakeGains() noexcept { targets = FormantGainTargets(impulses, kFlatEnvelopeGain); }

    // Where the decoded samples of subframe i go.
    double* Input(int i) noexcept { return input.data() + kLpcOrder + kSubframeSamples * i; }

    void Invert(int i) noexcept { InverseSubframe(input, num[i], i, Current()); }

    // Sample n of subframe i's residual, as Invert gives it, as soon as its decoded sample is in:
    // the sum lies off the recursion's chain, so it costs little beside it.
    void InvertStep(int i, int n) noexcept {
        const double* now = Input(i) + n;
        const LpcSet& a = num[i];
        double sum = 0.0;
#pragma GCC unroll 10
        for (int k = 1; k <= kLpcOrder; ++k) {
            sum += a[k - 1] * now[-k];
        }
        Current()[kSubframeSamples * i + n] = now[0] - sum;
    }

    // Whether subframe i has a period the long-term stage can use.
    bool Periodic(int i) const noexcept {
        const int lag = frame.lags[i];
        return lag >= kMinSubframeLag && lag <= kPostFilterMaxLag;
    }

    // Sample n of the long-term stage's pass over subframe i and its past, which needs only
    // subframe i's residual (its look ahead comes later, in Shape).
    void LongTermStep(int i, int n) noexcept {
        longTerm[i].Add(Current() + kSubframeSamples * i, FirstCandidate(frame.lags[i]), n);
    }

    // Each subframe is averaged with the residual as decoded, never with an averaged one. The pass
    // over subframe i is taken here unless it has been stepped already.
    void Shape(int i, bool stepped = false) noexcept {
        const int first = kSubframeSamples * i;
        std::copy(Current() + first, Current() + first + kSubframeSamples, shaped.begin() + first);
        if (Periodic(i)) {
            if (!stepped) {
                for (int n = 0; n < kSubframeSamples; ++n) {
                    LongTermStep(i, n);
                }
            }
            LongTermSubframe(Current(), i, frame.lags[i], longTerm[i], shaped.data());
        }
    }

    // 1 / A(z/0.9), tilt and gain of subframe i into out, calling alongside(n) at each of its
    // samples. The recursion is the frame's critical path: its sum starts from the newest product
    // rather than from 0.0, which can change only the sign of a zero sum, and a zero of either sign
    // stays zero through every later stage and the rounding. The memories (newest first) ride in
    // registers, so that each output reaches the next one's sum without a round trip through memory.
    template <typename Alongside>
    void Form(int i, std::span<double, kFrameSamples> out, Alongside alongside) noexcept {
        FormBesideSynthesis(i, out, nullptr, alongside);
    }

    // The decoder's synthesis of a subframe, run beside a formant stage: its LPC set, its
    // excitation, its memory (newest first, in and out) and the sample it starts from.
    struct SynthesisLane {
        const LpcSet& lpc;
        const double* excitation;
        FilterMemory& memory;
        int first;
    };

    // Form of subframe f with the decoder's synthesis of subframe f + 2 beside it from that
    // subframe's sample `first` on. Two recursions whose sums sit in different registers, one
    // after the other in the loop, run one after the other in the processor; here they share
    // one register, the synthesis in lane 0 and the formant stage in lane 1, each summed in index
    // order (the synthesis from 0.0, the formant stage from -0.0, to which adding its newest
    // product gives that product exactly); the synthesis lane takes CSynthesisSteps::Step's
    // steps. Without a lane (Form) the formant stage runs alone. alongside(n) runs after both
    // samples n.
    template <typename Alongside>
    void FormBesideSynthesis(int f, std::span<double, kFrameSamples> out, const SynthesisLane* lane,
                             Alongside alongside) noexcept {
        double m[kLpcOrder];
        for (int k = 0; k < kLpcOrder; ++k) {
            m[k] = memory[k];
        }
        const LpcSet& d = den[f];
        const double target = targets[f];
        double gain = filter.gain;
        const int start = kSubframeSamples * f;
        double peak = 0.0;
        // What follows the recursion at sample n: the tilt (against the output before it), the
        // smoothed gain and the peak.
        auto finishSample = [&](int n, double now, double previous) {
            const double tilted = now - kTiltFactor * previous;
            gain = kGainSmoothing * gain + (1.0 - kGainSmoothing) * target;
            const double value = gain * tilted;
            out[start + n] = value;
            peak = std::max(peak, std::abs(value));
        };
        const int first = lane != nullptr ? lane->first : kSubframeSamples;
        int n = 0;
        for (; n < first; ++n) {
            double sum = d[0] * m[0];
#pragma GCC unroll 9
            for (int k = 1; k < kLpcOrder; ++k) {
                sum += d[k] * m[k];
            }
            const double now = shaped[start + n] + sum;
            alongside(n);
            finishSample(n, now, m[0]);
#pragma GCC unroll 9
            for (int k = kLpcOrder - 1; k > 0; --k) {
                m[k] = m[k - 1];
            }
            m[0] = now;
        }
        if (n < kSubframeSamples) {
            const int i = f + 2;
            DoublePair c[kLpcOrder];
            DoublePair pm[kLpcOrder];
            for (int k = 0; k < kLpcOrder; ++k) {
                c[k] = DoublePair{lane->lpc[k], d[k]};
                pm[k] = DoublePair{lane->memory[k], m[k]};
            }
            double* decodedOut = Input(i);
            for (; n < kSubframeSamples; ++n) {
                DoublePair sum = {0.0, -0.0};
#pragma GCC unroll 10
                for (int k = 0; k < kLpcOrder; ++k) {
                    sum += c[k] * pm[k];
                }
                const DoublePair fresh = DoublePair{lane->excitation[n], shaped[start + n]} + sum;
                const double previous = pm[0][1];
#pragma GCC unroll 9
                for (int k = kLpcOrder - 1; k > 0; --k) {
                    pm[k] = pm[k - 1];
                }
                pm[0] = fresh;
                decodedOut[n] = fresh[0];
                InvertStep(i, n);
                alongside(n);
                finishSample(n, fresh[1], previous);
            }
            for (int k = 0; k < kLpcOrder; ++k) {
                lane->memory[k] = pm[k][0];
                m[k] = pm[k][1];
            }
        }
        filter.gain = gain;
        for (int k = 0; k < kLpcOrder; ++k) {
            memory[k] = m[k];
        }
        // Sharper formants can push a loud subframe past full scale: scale it back rather than clip.
        if (peak > kSampleMax) {
            const double scale = kSampleMax / peak;
            for (int k = start; k < start + kSubframeSamples; ++k) {
                out[k] *= scale;
            }
        }
    }

    // Carries the memories to the next frame.
    void Finish() noexcept {
        std::copy(input.end() - kLpcOrder, input.end(), filter.inputHistory.begin());
        std::copy(residual.end() - kPostFilterHistory, residual.end(), filter.residualHistory.begin());
        for (int k = 0; k < kLpcOrder; ++k) {
            filter.outputHistory[kLpcOrder - 1 - k] = memory[k];
        }
    }

private:
    double* Current() noexcept { return residual.data() + kPostFilterHistory; }

    // Every value of the buffers is written before it is read (the histories by the constructor,
    // the rest by Input, Invert and Shape), so none is cleared first.
    CPostFilter& filter;
    const DecodedFrame& frame;
    SubframeLpcSets num;
    SubframeLpcSets den;
    FormantImpulses impulses;
    std::array<double, kSubframes> targets;
    FilterBuffer input;
    PostBuffer residual;
    std::array<double, kFrameSamples> shaped;
    std::array<LongTermSums, kSubframes> longTerm{};
    double memory[kLpcOrder];
};

void CPostFilter::Enhance(const DecodedFrame& frame, std::span<double, kFrameSamples> out) noexcept {
    CFrameWork work(*this, frame);
    for (int i = 0; i < kSubframes; ++i) {
        std::copy_n(frame.synthesis.begin() + kSubframeSamples * i, kSubframeSamples, work.Input(i));
        work.Invert(i);
    }
    for (int i = 0; i < kSubframes; ++i) {
        work.Shape(i);
    }
    for (int i = 0; i < kSubframes; ++i) {
        work.Form(i, out, [](int) {});
    }
    work.Finish();
}

void DecodeEnhancedFrame(CSpeechCodec& codec, CPostFilter& postFilter, ConstPackedFrameView frame,
                         SampleFrame out, std::int16_t erased) noexcept {
    // Exactly DecodeSynthesis followed by Enhance, but the two recursions, each a chain of dependent
    // sums, run side by side where they can: the formant stage of subframe i alongside the
    // synthesis of subframe i + 2 (the long-term stage of i looks into i + 1, at most to the first
    // sample of i + 2).
    DecodedFrame decoded;
    codec.DecodeExcitation(frame, decoded, erased);
    CPostFilter::CFrameWork work(postFilter, decoded, true);
    CSynthesisSteps synthesis(codec.decSynthMem);
    auto synthesise = [&](int i, int n) {
        work.Input(i)[n] = synthesis.Step(decoded.synthesis[static_cast<std::size_t>(kSubframeSamples * i + n)]);
        work.InvertStep(i, n);
    };
    // The long-term pass over subframe i - 1 (which needs no later samples) also goes alongside
    // the recursions of step i.
    auto longTermStep = [&](int i, int n) {
        if (i >= 0 && work.Periodic(i)) {
            work.LongTermStep(i, n);
        }
    };
    std::array<double, kFrameSamples> enhanced;
    // With a period one past the largest lag, the look ahead of subframe i - 1 reaches the first
    // sample of subframe i + 1: that sample is made before the stage looks, and its step starts
    // one sample in.
    int made = 0; // samples of subframe i made before its step
    for (int i = 0; i < kSubframes; ++i) {
        synthesis.SetCoefficients(decoded.lpc[i]);
        const int first = made;
        if (i < 2) {
            for (int n = 0; n < kSubframeSamples; ++n) {
                if (n >= first) {
                    synthesise(i, n);
                }
                longTermStep(i - 1, n);
                // The formant gains are first needed two steps on; their responses go alongside
                // the first recursion.
                if (i == 0 && n < kImpulseLength) {
                    work.GainStep(n);
                }
            }
            if (i == 0) {
                work.TakeGains();
            }
        } else {
            FilterMemory synthMem;
            synthesis.Store(synthMem);
            const CPostFilter::CFrameWork::SynthesisLane lane{
                decoded.lpc[i], decoded.synthesis.data() + kSubframeSamples * i, synthMem, first};
            work.FormBesideSynthesis(i - 2, enhanced, &lane, [&](int n) { longTermStep(i - 1, n); });
            synthesis = CSynthesisSteps(synthMem);
        }
        made = 0;
        if (i >= 1) {
            if (i + 1 < kSubframes) {
                synthesis.SetCoefficients(decoded.lpc[i + 1]);
                synthesise(i + 1, 0);
                made = 1;
            }
            work.Shape(i - 1, true);
        }
    }
    synthesis.Store(codec.decSynthMem);
    work.Form(kSubframes - 2, enhanced, [&](int n) { longTermStep(kSubframes - 1, n); });
    work.Shape(kSubframes - 1, true);
    work.Form(kSubframes - 1, enhanced, [](int) {});
    work.Finish();
    RoundToSamples(enhanced.data(), out.data(), out.size());
}

} // namespace velmar
