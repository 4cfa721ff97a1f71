#include "codec/Encoder.h"

#include "codec/AdaptiveSearch.h"
#include "codec/Arithmetic.h"
#include "codec/Excitation.h"
#include "codec/FrontEnd.h"
#include "codec/Kernels.h"
#include "codec/PulseSearch.h"
#include "codec/VoiceActivity.h"

#include <algorithm>

namespace velmar {

void DelaySpeech(FrameSignal x, std::array<double, kLpcHistory>& lpcHistory) noexcept {
    std::array<double, kLpcHistory + kFrameSamples> all{};
    std::copy(lpcHistory.begin(), lpcHistory.end(), all.begin());
    std::copy(x.begin(), x.end(), all.begin() + kLpcHistory);
    std::copy(all.end() - kLpcHistory, all.end(), lpcHistory.begin());
    std::copy(all.begin() + kEncoderDelay, all.begin() + kEncoderDelay + kFrameSamples, x.begin());
}

namespace {

using WeightedFrame = std::array<double, kFrameSamples>;

// What every way of coding the frame's excitation starts from: the weighted speech and the
// weighting of each subframe.
struct ExcitationInputs {
    const WeightedFrame& x;
    const SubframeWeightings& weightings;
    const std::array<HarmonicWeight, kSubframes>& harmonic;
};

// Squared weighted error left in a subframe: the target after the pitch prediction against the
// pulse excitation filtered by the (unsharpened) impulse response h.
double WeightedError(const SubframeVector& afterPitch, ConstSubframeSignal pulses,
                     const SubframeVector& h) noexcept {
    SubframeVector filtered{};
    Kernels().causalConvolution(pulses.data(), h.data(), filtered.data());
    double error = 0.0;
    for (int n = 0; n < kSubframeSamples; ++n) {
        const double e = afterPitch[n] - filtered[n];
        error += e * e;
    }
    return error;
}

// Pitch and pulses of subframe j for target t (the ringing already removed), either as one
// greedy search or with every ranked pitch candidate taken through the pulse search, the lowest
// weighted error winning (the earlier on a tie). Each candidate starts from the same pulse search
// budget; the winner's remainder is kept. Leaves the pulse excitation in t and returns the pitch
// contribution and, when `error` is given, the weighted error left in it.
SubframeVector SearchSubframe(SubframeSignal t, const SubframeVector& h, ExcitationState& search,
                              FrameParams& params, int j, bool joint, double* error) noexcept {
    if (!joint) {
        const SubframeVector p = SearchAdaptiveCodebook(t, h, search.encExcitation, params, j);
        if (error == nullptr) { // the plain encoder, which does not look back at its choice
            SubframeVector sharpened = h;
            SearchFixedCodebook(t, sharpened, params, j, search.searchBudget);
            return p;
        }
        SubframeVector afterPitch;
        std::copy(t.begin(), t.end(), afterPitch.begin());
        SubframeVector sharpened = h;
        SearchFixedCodebook(t, sharpened, params, j, search.searchBudget);
        *error = WeightedError(afterPitch, t, h);
        return p;
    }

    const PitchCandidates candidates = RankAdaptiveCandidates(t, h, search.encExcitation, params, j);
    SubframeVector target;
    std::copy(t.begin(), t.end(), target.begin());
    const FrameParams start = params;
    SubframeVector bestPitch{};
    SubframeVector bestPulses{};
    std::int16_t bestBudget = search.searchBudget;
    double bestError = 0.0;
    for (int i = 0; i < candidates.count; ++i) {
        FrameParams trial = start;
        SubframeVector trialTarget = target;
        const SubframeVector p =
            ApplyAdaptiveCandidate(trialTarget, h, search.encExcitation, trial, j, candidates.list[i]);
        const SubframeVector afterPitch = trialTarget;
        SubframeVector sharpened = h;
        std::int16_t budget = search.searchBudget;
        SearchFixedCodebook(trialTarget, sharpened, trial, j, budget);
        const double trialError = WeightedError(afterPitch, trialTarget, h);
        if (i == 0 || trialError < bestError) {
            bestError = trialError;
            params = trial;
            bestPitch = p;
            bestPulses = trialTarget;
            bestBudget = budget;
        }
    }
    search.searchBudget = bestBudget;
    std::copy(bestPulses.begin(), bestPulses.end(), t.begin());
    if (error != nullptr) {
        *error = bestError;
    }
    return bestPitch;
}

// Codes the excitation of the whole frame for the quantised LSPs `lsp` (the previous frame's
// being prevLsp), advancing `search` and filling the pitch and pulse fields of params. Returns the
// weighted error of the four subframes together and, with a trace, each subframe's; the plain
// search without a trace does not measure it and returns 0.
double CodeExcitation(const ExcitationInputs& in, const LspVector& lsp, const LspVector& prevLsp,
                      ExcitationState& search, FrameParams& params, bool joint,
                      EncoderTrace* trace) noexcept {
    const SubframeLpcSets aq = InterpolateLsp(lsp, prevLsp);
    WeightedFrame x = in.x;
    const FrameResponses responses =
        ComputeImpulseResponses(aq, in.weightings, in.harmonic, search.encSynthMem, search.encWeightMem);
    double total = 0.0;
    for (int j = 0; j < kSubframes; ++j) {
        const SubframeSignal t(x.data() + kSubframeSamples * j, kSubframeSamples);
        const SubframeVector ringing = j == 0 ? responses.firstRinging
                                              : Ringing(aq[j], in.weightings[j], search.encSynthMem,
                                                        search.encWeightMem);
        SubtractRinging(t, ringing, search.weightedSynthHistory, in.harmonic[j]);
        if (trace != nullptr) {
            double energy = 0.0;
            for (double v : t) {
                energy += v * v;
            }
            trace->targetEnergy[j] = energy;
        }
        double error = 0.0;
        const bool measure = joint || trace != nullptr;
        const SubframeVector p =
            SearchSubframe(t, responses.h[j], search, params, j, joint, measure ? &error : nullptr);
        total += error;
        if (trace != nullptr) {
            trace->weightedError[j] = error;
        }

        // Only the stored history is clamped; the local decoder filters the excitation as built.
        std::copy(search.encExcitation.begin() + kSubframeSamples, search.encExcitation.end(),
                  search.encExcitation.begin());
        double* fresh = search.encExcitation.data() + kExcitationHistory - kSubframeSamples;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const double e = p[n] + t[n];
            t[n] = e;
            fresh[n] = ClampToSampleRange(e);
        }
        UpdateRinging(t, aq[j], in.weightings[j], search.encSynthMem, search.encWeightMem,
                      search.weightedSynthHistory);
    }
    return total;
}

} // namespace

std::int16_t EncodeFrameTraced(CSpeechCodec& codec, ConstSampleFrame samples, PackedFrameView out,
                               std::int16_t sensitivity, EncoderTrace* trace) noexcept {
    const int effort = std::clamp(codec.encoderEffort, kMinEncoderEffort, kMaxEncoderEffort);
    FrameParams params;
    params.erased = 0;
    EncoderState& state = codec.encoder;
    state.search.searchBudget = kPulseSearchBudget;

    WeightedFrame x{};
    std::copy(samples.begin(), samples.end(), x.begin());

    // Spectral analysis of the frame as it arrives (the LPC windows look one subframe ahead) and
    // perceptual weighting of the delayed frame.
    WeightedFrame weighted;
    const FrontEnd front = RunFrontEnd(x, weighted, state.preFilter, state.lpc, state.weighting);
    const SubframeLpcSets& lpc = front.lpc;
    const LspVector lsp = LpcToLsp(lpc[kSubframes - 1], state.lpc.encPrevLsp);
    if (trace != nullptr) {
        trace->lspUnquantised = lsp;
    }
    const std::int16_t flag = DetectVoiceActivity(x, sensitivity, state.lpc.sineDetector < 0, state.vad);
    LspChoices lspChoices;
    if (effort >= kLspChoiceEffort) {
        lspChoices = RankLspEntries(lsp, state.lpc.encPrevLsp, effort - kLspChoiceEffort + 2);
        params.lspIndex = LspCode(lspChoices.entry[0][0], lspChoices.entry[1][0], lspChoices.entry[2][0]);
    } else {
        params.lspIndex = QuantiseLsp(lsp, state.lpc.encPrevLsp);
    }
    x = weighted;

    // Open-loop pitch on the weighted delayed frame.
    const SubframeWeightings& weightings = front.weightings;
    WeightingState& weighting = state.weighting;
    std::array<HarmonicWeight, kSubframes> harmonic{};
    {
        std::array<double, kWeightedBufferSize> buf{};
        std::copy(weighting.weightedHistory.begin(), weighting.weightedHistory.end(), buf.begin());
        std::copy(x.begin(), x.end(), buf.begin() + kWeightedHistory);
        const std::array<int, 2> lags = EstimateOpenLoopPitches(buf);
        params.pitchLag[0] = lags[0];
        params.pitchLag[1] = lags[1];
        NoteOpenLoopLags(state.vad, params.pitchLag);
        for (int j = 0; j < kSubframes; ++j) {
            harmonic[j] =
                FindHarmonicWeight(buf, kWeightedHistory + kSubframeSamples * j, params.pitchLag[j / 2]);
        }
        std::copy(buf.end() - kWeightedHistory, buf.end(), weighting.weightedHistory.begin());
        for (int j = 0; j < kSubframes; ++j) {
            ApplyHarmonicWeight(x, buf, kSubframeSamples * j, harmonic[j]);
        }
    }

    // The excitation is coded against the quantised spectrum exactly as the decoder will rebuild
    // it. At the highest efforts every combination of the best few entries of each LSP split is
    // coded through the whole frame from the same state; the lowest total weighted error wins
    // (the earlier combination on a tie) and its state is kept.
    const ExcitationInputs inputs{x, weightings, harmonic};
    const LspVector prevLsp = state.lpc.encPrevLsp;
    const bool joint = effort >= kJointSearchEffort;
    if (effort < kLspChoiceEffort) {
        const LspVector quantised = DecodeLsp(params.lspIndex, 0, prevLsp);
        CodeExcitation(inputs, quantised, prevLsp, state.search, params, joint, trace);
        state.lpc.encPrevLsp = quantised;
    } else {
        const ExcitationState start = state.search;
        const FrameParams analysed = params;
        EncoderTrace trialTrace;
        double bestError = 0.0;
        bool first = true;
        for (int a = 0; a < lspChoices.count[0]; ++a) {
            for (int b = 0; b < lspChoices.count[1]; ++b) {
                for (int c = 0; c < lspChoices.count[2]; ++c) {
                    FrameParams trial = analysed;
                    trial.lspIndex =
                        LspCode(lspChoices.entry[0][a], lspChoices.entry[1][b], lspChoices.entry[2][c]);
                    ExcitationState trialSearch = start;
                    const LspVector quantised = DecodeLsp(trial.lspIndex, 0, prevLsp);
                    const double error =
                        CodeExcitation(inputs, quantised, prevLsp, trialSearch, trial, joint, &trialTrace);
                    if (first || error < bestError) {
                        first = false;
                        bestError = error;
                        params = trial;
                        state.search = trialSearch;
                        state.lpc.encPrevLsp = quantised;
                        if (trace != nullptr) {
                            trace->targetEnergy = trialTrace.targetEnergy;
                            trace->weightedError = trialTrace.weightedError;
                        }
                    }
                }
            }
        }
    }

    PackFrame(params, out);
    if (trace != nullptr) {
        trace->harmonic = harmonic;
        trace->params = params;
    }
    return flag;
}

std::int16_t CSpeechCodec::EncodeFrame(ConstSampleFrame samples, PackedFrameView out,
                                       std::int16_t sensitivity) noexcept {
    return EncodeFrameTraced(*this, samples, out, sensitivity, nullptr);
}

} // namespace velmar
