#include "codec/FrontEnd.h"

#include "codec/Arithmetic.h"
#include "codec/tables/AnalysisTables.h"

#include <algorithm>

namespace velmar {

// The recursions keep their outputs in arrays laid out backwards in time (sample n at [239 - n],
// its memories following it), from which each sum reads all but the newest value; the newest, on
// the recursion's path, comes from its register: two filters' memories are more than the
// registers hold.
FrontEnd RunFrontEnd(FrameSignal x, std::array<double, kFrameSamples>& weighted, PreFilterState& pre,
                     LpcState& lpc, WeightingState& ws) noexcept {
    constexpr int kTaps = kPrefilterTaps;
    constexpr int kBlock = kSubframeSamples;
    // The look-back and then the frame as it is filtered; the delayed frame starts 60 samples in.
    std::array<double, kLpcHistory + kFrameSamples> b;
    std::copy(lpc.lpcHistory.begin(), lpc.lpcHistory.end(), b.begin());
    double* filtered = b.data() + kLpcHistory;
    const double* delayed = b.data() + kEncoderDelay;

    // The input filter: DC removal into dc (oldest first, its memory before it), the numerator
    // into preForward, the recursion into preOut (backwards).
    double dcBuffer[kTaps + kFrameSamples];
    double* dc = dcBuffer + kTaps;
    std::reverse_copy(pre.prefilterIn.begin(), pre.prefilterIn.end(), dcBuffer);
    double dcPrevIn = pre.dcPrevIn;
    double dcPrevOut = pre.dcPrevOut;
    auto removeDc = [&](int n) {
        const double sample = x[n];
        const double y = sample - dcPrevIn + kDcPole * dcPrevOut;
        dcPrevIn = sample;
        dcPrevOut = y;
        dc[n] = y;
    };
    double preForward[kFrameSamples];
    auto preNumerator = [&](int first) {
        // Both sums of the filter from zero in index order: the numerator over this input and the
        // eight before, the denominator (from its second coefficient) over the eight last outputs.
        for (int n = first; n < first + kBlock; n += 2) {
            DoublePair sum = {};
#pragma GCC unroll 9
            for (int k = 0; k < kTaps; ++k) {
                sum += DoublePair{PrefilterNum[k], PrefilterNum[k]} * LoadPair(dc + n - k);
            }
            __builtin_memcpy(preForward + n, &sum, sizeof sum);
        }
    };
    double preOut[kFrameSamples + kTaps];
    std::copy(pre.prefilterOut.begin(), pre.prefilterOut.end(), preOut + kFrameSamples);
    double lastFiltered = pre.prefilterOut[0];
    auto preFilterStep = [&](int n) {
        const int at = kFrameSamples - 1 - n;
        double feedback = 0.0;
        feedback += PrefilterDen[1] * lastFiltered;
#pragma GCC unroll 7
        for (int k = 1; k < kTaps - 1; ++k) {
            feedback += PrefilterDen[k + 1] * preOut[at + 1 + k];
        }
        lastFiltered = preForward[n] - feedback;
        preOut[at] = lastFiltered;
        filtered[n] = lastFiltered;
    };

    // The weighting: its input memory and then the delayed frame in delayedIn, the numerator's
    // result in weightV, the recursion into weightOut (backwards).
    double delayedIn[kLpcOrder + kFrameSamples];
    std::reverse_copy(ws.weightInMem.begin(), ws.weightInMem.end(), delayedIn);
    double weightV[kFrameSamples];
    auto weightNumerator = [&](int first, const WeightingSet& coeffs) {
        std::copy(delayed + first, delayed + first + kBlock, delayedIn + kLpcOrder + first);
        for (int n = first; n < first + kBlock; n += 2) {
            // Both sums from zero in index order.
            DoublePair sum = {};
#pragma GCC unroll 10
            for (int k = 0; k < kLpcOrder; ++k) {
                sum += DoublePair{coeffs[k], coeffs[k]} * LoadPair(delayedIn + kLpcOrder + n - 1 - k);
            }
            const DoublePair v = LoadPair(delayedIn + kLpcOrder + n) - sum;
            __builtin_memcpy(weightV + n, &v, sizeof v);
        }
    };
    double weightOut[kFrameSamples + kLpcOrder];
    std::copy(ws.weightOutMem.begin(), ws.weightOutMem.end(), weightOut + kFrameSamples);
    double lastWeighted = ws.weightOutMem[0];
    const double* den = nullptr;
    auto weightingStep = [&](int n) {
        const int at = kFrameSamples - 1 - n;
        double feedback = 0.0;
        feedback += den[0] * lastWeighted;
#pragma GCC unroll 9
        for (int k = 1; k < kLpcOrder; ++k) {
            feedback += den[k] * weightOut[at + 1 + k];
        }
        lastWeighted = weightV[n] + feedback;
        weightOut[at] = lastWeighted;
        weighted[n] = lastWeighted;
    };

    auto sineTests = static_cast<std::uint16_t>(lpc.sineDetector);
    FrontEnd out;
    for (int n = 0; n < kBlock; ++n) {
        removeDc(n);
    }
    preNumerator(0);
    for (int j = 0; j <= kSubframes; ++j) {
        const int block = kBlock * j;
        if (j >= 1) {
            weightNumerator(block - kBlock, out.weightings[j - 1]);
            den = out.weightings[j - 1].data() + kLpcOrder;
        }
        if (j == 0) {
            for (int n = 0; n < kBlock; ++n) {
                preFilterStep(n);
                removeDc(kBlock + n);
            }
        } else if (j < kSubframes - 1) {
            for (int n = 0; n < kBlock; ++n) {
                preFilterStep(block + n);
                weightingStep(block - kBlock + n);
                removeDc(block + kBlock + n);
            }
        } else if (j == kSubframes - 1) {
            for (int n = 0; n < kBlock; ++n) {
                preFilterStep(block + n);
                weightingStep(block - kBlock + n);
            }
        } else {
            for (int n = 0; n < kBlock; ++n) {
                weightingStep(block - kBlock + n);
            }
        }
        if (j < kSubframes) {
            out.lpc[j] = AnalyseWindow(b, j, sineTests);
            out.weightings[j] = WeightingCoefficients(out.lpc[j]);
        }
        if (j + 1 < kSubframes) {
            preNumerator(block + kBlock);
        }
    }
    pre.dcPrevIn = dcPrevIn;
    pre.dcPrevOut = dcPrevOut;
    std::reverse_copy(dc + kFrameSamples - kTaps, dc + kFrameSamples, pre.prefilterIn.begin());
    std::copy(preOut, preOut + kTaps, pre.prefilterOut.begin());
    std::copy(weightOut, weightOut + kLpcOrder, ws.weightOutMem.begin());
    std::reverse_copy(delayedIn + kFrameSamples, delayedIn + kFrameSamples + kLpcOrder,
                      ws.weightInMem.begin());
    lpc.sineDetector = SummariseSineTests(sineTests);
    std::copy(filtered, filtered + kFrameSamples, x.begin());
    std::copy(b.end() - kLpcHistory, b.end(), lpc.lpcHistory.begin());
    return out;
}

} // namespace velmar
