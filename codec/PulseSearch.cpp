#include "codec/PulseSearch.h"

#include "codec/Arithmetic.h"
#include "codec/Kernels.h"
#include "codec/PulseSearchCore.h"
#include "codec/tables/PulseTables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace velmar {
namespace {

// Position of code k on track t (the fourth track's searched codes are the even k here).
constexpr int PositionOnTrack(int track, int k) noexcept {
    return kTrackPositions * k + 2 * track;
}
static_assert(PositionOnTrack(2, kTrackPositions - 1) == kSubframeSamples); // "no pulse"

// The fourth track has half the positions of the others: 6, 22, 38, 54.
constexpr int kFourthTrackStride = 2;

// Smallest normal single-precision value: a filtered code vector with less energy gives gain 0.
constexpr double kMinimumEnergy = 1.1754943508222875e-38;

constexpr int PairIndex(int a, int b) noexcept {
    for (int pair = 0; pair < kTrackPairs; ++pair) {
        if (kTrackPairOrder[pair][0] == a && kTrackPairOrder[pair][1] == b) {
            return pair;
        }
    }
    return -1;
}
constexpr int kPair01 = PairIndex(0, 1);
constexpr int kPair02 = PairIndex(0, 2);
constexpr int kPair03 = PairIndex(0, 3);
constexpr int kPair12 = PairIndex(1, 2);
constexpr int kPair13 = PairIndex(1, 3);
constexpr int kPair23 = PairIndex(2, 3);
// The layout the search kernels read.
static_assert([] {
    for (int pair = 0; pair < kTrackPairs; ++pair) {
        if (kTrackPairOrder[pair][0] != kPulsePairTracks[pair][0] ||
            kTrackPairOrder[pair][1] != kPulsePairTracks[pair][1]) {
            return false;
        }
    }
    return true;
}());
static_assert(kPair01 == kPulsePair01 && kPair02 == kPulsePair02 && kPair03 == kPulsePair03 &&
              kPair12 == kPulsePair12 && kPair13 == kPulsePair13 && kPair23 == kPulsePair23);
static_assert(offsetof(ImpulseCorrelations, cross) == kPulseDiagonalValues * sizeof(double));

// Threshold for the partial correlation of three pulses, from the positions of one parity: halfway
// from the mean three-pulse correlation to the best one the three tracks could give.
double TripleThreshold(const BackwardTarget& d, int parity) noexcept {
    double max0 = d[parity];
    double max1 = d[parity + 2];
    double max2 = d[parity + 4];
    double sum = 0.0;
    for (int k = 0; k < kTrackPositions; ++k) {
        const double v0 = d[kTrackPositions * k + parity];
        const double v1 = d[kTrackPositions * k + parity + 2];
        const double v2 = d[kTrackPositions * k + parity + 4];
        max0 = v0 > max0 ? v0 : max0;
        max1 = v1 > max1 ? v1 : max1;
        max2 = v2 > max2 ? v2 : max2;
        sum += v0 + v1 + v2;
    }
    const double mean = sum / kTrackPositions;
    const double best = max0 + max1 + max2;
    return mean + 0.5 * (best - mean);
}

// r(p, q), summed over n ascending from max(p, q), adds h[i + d] h[i] for i = 0, 1, .. with
// d = |p - q|: it is the running sum of that one sequence after 60 - max(p, q) terms (none for a
// position past the subframe). Each value of the correlations is therefore one slot of the
// running sums, bit for bit; these are the slots, in the order of ImpulseCorrelations.
constexpr std::array<int, kImpulseCorrelationValues> kRunningSlotOf = [] {
    auto slot = [](int p, int q) {
        const int last = p > q ? p : q;
        const int terms = last >= kSubframeSamples ? 0 : kSubframeSamples - last;
        return terms * kRunningDistances + (p > q ? p - q : q - p) / 2;
    };
    std::array<int, kImpulseCorrelationValues> slots{};
    int at = 0;
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        for (int k = 0; k < kTrackPositions; ++k) {
            slots[at++] = slot(PositionOnTrack(t, k), PositionOnTrack(t, k));
        }
    }
    for (int pair = 0; pair < kTrackPairs; ++pair) {
        for (int k = 0; k < kTrackPositions; ++k) {
            for (int m = 0; m < kTrackPositions; ++m) {
                slots[at++] = slot(PositionOnTrack(kTrackPairOrder[pair][0], k),
                                   PositionOnTrack(kTrackPairOrder[pair][1], m));
            }
        }
    }
    return slots;
}();

} // namespace

ImpulseCorrelations CorrelateImpulse(const SubframeVector& h) noexcept {
    std::array<double, kRunningSlots> running;
    Kernels().runningProducts(h.data(), running.data());
    ImpulseCorrelations rr;
    const int* slot = kRunningSlotOf.data();
    for (auto& track : rr.diagonal) {
        for (double& value : track) {
            value = running[*slot++];
        }
    }
    for (auto& pair : rr.cross) {
        for (auto& row : pair) {
            for (double& value : row) {
                value = running[*slot++];
            }
        }
    }
    return rr;
}

BackwardTarget BackwardFilterTarget(const SubframeVector& h, ConstSubframeSignal t) noexcept {
    BackwardTarget d{};
    Kernels().backwardFilter(h.data(), t.data(), d.data());
    return d;
}

PulseChoice SearchPulses(BackwardTarget& d, const ImpulseCorrelations& rr, const SubframeVector& h,
                         std::int16_t& searchBudget) noexcept {
    for (int n = kSubframeSamples; n < kPulseTargetLength; ++n) {
        d[n] = 0.0;
    }
    // Each pair of neighbouring positions takes the sign of its summed correlation, which folds
    // the sign out of the search: every candidate adds to P and A.
    // The signs of speech are unpredictable, so a negative pair is found as a lane mask and its
    // sign bits flipped, with no branch (a conditional alone was compiled into one).
    using BitPair = std::int64_t __attribute__((vector_size(2 * sizeof(std::int64_t))));
    const BitPair signBit = (BitPair)DoublePair{-0.0, -0.0};
    std::array<double, kPulseTargetLength> sign;
    sign.fill(1.0);
    for (int n = 0; n < kSubframeSamples; n += 2) {
        const double sum = d[n] + d[n + 1];
        const DoublePair sums = {sum, sum};
        const BitPair flip = signBit & ~(sums >= DoublePair{});
        const DoublePair folded = (DoublePair)((BitPair)LoadPair(d.data() + n) ^ flip);
        const DoublePair pairSign = (DoublePair)((BitPair)DoublePair{1.0, 1.0} ^ flip);
        __builtin_memcpy(d.data() + n, &folded, sizeof folded);
        __builtin_memcpy(sign.data() + n, &pairSign, sizeof pairSign);
    }

    const double thetaEven = TripleThreshold(d, 0);
    const double thetaOdd = TripleThreshold(d, 1);
    const double theta = thetaOdd > thetaEven ? thetaOdd : thetaEven;

    std::array<std::array<double, kTrackPositions>, kPulsesPerSubframe> trackSign;
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        for (int k = 0; k < kTrackPositions; ++k) {
            trackSign[t][k] = sign[PositionOnTrack(t, k)];
        }
    }

    std::array<int, kPulsesPerSubframe> best{}; // codes k of the four tracks
    const int time = Kernels().searchPulseSets(d.data(), rr.diagonal[0].data(), trackSign[0].data(), theta,
                                               searchBudget + kPulseSearchBudget, best.data());
    searchBudget = static_cast<std::int16_t>(time);

    PulseChoice choice;
    // The filtered pulses summed in a local array, two samples at a time (h cannot alias it), each
    // sample adding the pulses in track order.
    std::array<double, kSubframeSamples + 1> filtered{};
    for (int t = 0; t < kPulsesPerSubframe; ++t) {
        const int position = PositionOnTrack(t, best[t]);
        if (sign[position] > 0.0) {
            choice.signs |= 1 << t;
        }
        if (position < kSubframeSamples) {
            choice.code[position] = sign[position];
            const DoublePair amplitude = {sign[position], sign[position]};
            const int count = kSubframeSamples - position;
            int n = 0;
            for (; n + 1 < count; n += 2) {
                const DoublePair sum = LoadPair(filtered.data() + position + n) + amplitude * LoadPair(h.data() + n);
                __builtin_memcpy(filtered.data() + position + n, &sum, sizeof sum);
            }
            if (n < count) {
                filtered[static_cast<std::size_t>(position + n)] += sign[position] * h[static_cast<std::size_t>(n)];
            }
        }
    }
    std::copy_n(filtered.begin(), kSubframeSamples, choice.filtered.begin());
    choice.positions = best[0] + (best[1] << 3) + (best[2] << 6) + ((best[3] / kFourthTrackStride) << 9);
    return choice;
}

PulseGain QuantisePulseGain(ConstSubframeSignal t, const SubframeVector& y) noexcept {
    // Both sums side by side (each a chain of dependent additions), the energy even when unused.
    double num = 0.0;
    double den = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        num += t[static_cast<std::size_t>(n)] * y[static_cast<std::size_t>(n)];
        den += y[static_cast<std::size_t>(n)] * y[static_cast<std::size_t>(n)];
    }
    if (num <= 0.0) {
        return {0, PulseGainTable[0]};
    }
    const double gain = den > kMinimumEnergy ? num / den : 0.0;
    int index = 0;
    double bestDistance = std::fabs(gain - PulseGainTable[0]);
    for (int k = 1; k < kPulseGainLevels; ++k) {
        const double distance = std::fabs(gain - PulseGainTable[k]);
        if (distance < bestDistance) {
            bestDistance = distance;
            index = k;
        }
    }
    return {index, PulseGainTable[index]};
}

PulseCode CodePulses(ConstSubframeSignal t, SubframeVector& h, int sharpenLag, SubframeSignal out,
                     double sharpenGain, std::int16_t& searchBudget) noexcept {
    const Sharpening sharpening{sharpenLag, sharpenGain};
    Sharpen(h, sharpening);
    ImpulseCorrelations rr = CorrelateImpulse(h);
    BackwardTarget d = BackwardFilterTarget(h, t);
    const PulseChoice choice = SearchPulses(d, rr, h, searchBudget);
    const PulseGain gain = QuantisePulseGain(t, choice.filtered);

    // Written only now: out may be the target itself.
    for (int n = 0; n < kSubframeSamples; ++n) {
        out[n] = gain.amplitude * choice.code[n];
    }
    Sharpen(out, sharpening);
    return {choice.positions, choice.signs, gain.index};
}

void SearchFixedCodebook(SubframeSignal t, SubframeVector& h, FrameParams& params, int j,
                         std::int16_t& searchBudget) noexcept {
    SubframeParams& sub = params.sub[j];
    const Sharpening sharpening =
        PitchSharpening(params.pitchLag[j / 2] + sub.lagDelta - 1, sub.pitchGainIndex);
    const PulseCode code = CodePulses(t, h, sharpening.lag, t, sharpening.gain, searchBudget);
    sub.pulsePositions = code.positions;
    sub.pulseSigns = code.signs;
    sub.pulseGainIndex = code.gainIndex;
}

} // namespace velmar
