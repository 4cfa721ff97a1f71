#include "codec/Encoder.h"

#include "codec/AdaptiveSearch.h"
#include "codec/Arithmetic.h"
#include "codec/Excitation.h"
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

std::int16_t EncodeFrameTraced(CSpeechCodec& codec, ConstSampleFrame samples, PackedFrameView out,
                               std::int16_t sensitivity, EncoderTrace* trace) noexcept {
    FrameParams params;
    params.erased = 0;
    EncoderState& state = codec.encoder;
    state.search.searchBudget = kPulseSearchBudget;

    std::array<double, kFrameSamples> x{};
    std::copy(samples.begin(), samples.end(), x.begin());

    // Spectral analysis of the frame as it arrives; the LPC windows look one subframe ahead.
    PreFilter(x, state.preFilter);
    const SubframeLpcSets lpc = AnalyseLpc(state.lpc.lpcHistory, x, state.lpc.sineDetector);
    LspVector lsp = LpcToLsp(lpc[kSubframes - 1], state.lpc.encPrevLsp);
    if (trace != nullptr) {
        trace->lspUnquantised = lsp;
    }
    const std::int16_t flag = DetectVoiceActivity(x, sensitivity, state.lpc.sineDetector < 0, state.vad);
    params.lspIndex = QuantiseLsp(lsp, state.lpc.encPrevLsp);
    DelaySpeech(x, state.lpc.lpcHistory);

    // Perceptual weighting and open-loop pitch on the delayed frame.
    const SubframeWeightings weightings = WeightingCoefficients(lpc);
    WeightingState& weighting = state.weighting;
    WeightSpeech(x, weightings, weighting.weightInMem, weighting.weightOutMem);
    std::array<HarmonicWeight, kSubframes> harmonic{};
    {
        std::array<double, kWeightedBufferSize> buf{};
        std::copy(weighting.weightedHistory.begin(), weighting.weightedHistory.end(), buf.begin());
        std::copy(x.begin(), x.end(), buf.begin() + kWeightedHistory);
        for (int half = 0; half < 2; ++half) {
            const int lag = EstimateOpenLoopPitch(buf, kWeightedHistory + kOpenLoopWindow * half);
            params.pitchLag[half] = lag;
        }
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

    // The quantised spectrum exactly as the decoder will rebuild it.
    lsp = DecodeLsp(params.lspIndex, 0, state.lpc.encPrevLsp);
    const SubframeLpcSets aq = InterpolateLsp(lsp, state.lpc.encPrevLsp);
    state.lpc.encPrevLsp = lsp;

    ExcitationState& search = state.search;
    std::array<SubframeVector, kSubframes> responses = ComputeImpulseResponses(aq, weightings, harmonic);
    for (int j = 0; j < kSubframes; ++j) {
        const SubframeSignal t(x.data() + kSubframeSamples * j, kSubframeSamples);
        SubframeVector& h = responses[j];
        SubtractRinging(t, aq[j], weightings[j], search.encSynthMem, search.encWeightMem,
                        search.weightedSynthHistory, harmonic[j]);
        const SubframeVector p = SearchAdaptiveCodebook(t, h, search.encExcitation, params, j);
        SearchFixedCodebook(t, h, params, j, search.searchBudget);

        // Only the stored history is clamped; the local decoder filters the excitation as built.
        std::copy(search.encExcitation.begin() + kSubframeSamples, search.encExcitation.end(),
                  search.encExcitation.begin());
        double* fresh = search.encExcitation.data() + kExcitationHistory - kSubframeSamples;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const double e = p[n] + t[n];
            t[n] = e;
            fresh[n] = ClampToSampleRange(e);
        }
        UpdateRinging(t, aq[j], weightings[j], search.encSynthMem, search.encWeightMem,
                      search.weightedSynthHistory);
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
