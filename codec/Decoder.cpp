#include "codec/Excitation.h"
#include "codec/SpeechCodec.h"
#include "codec/SynthesisSteps.h"

#include <algorithm>

namespace velmar {

void SynthesisFilter(std::span<double, kSubframeSamples> subframe, const LpcSet& lpc,
                     FilterMemory& memory) noexcept {
    CSynthesisSteps synthesis(memory);
    synthesis.SetCoefficients(lpc);
    for (double& sample : subframe) {
        sample = synthesis.Step(sample);
    }
    synthesis.Store(memory);
}

void CSpeechCodec::DecodeFrame(ConstPackedFrameView frame, SampleFrame out, std::int16_t erased) noexcept {
    DecodedFrame decoded;
    DecodeSynthesis(frame, decoded, erased);
    RoundToSamples(decoded.synthesis.data(), out.data(), out.size());
}

void CSpeechCodec::DecodeSynthesis(ConstPackedFrameView frame, DecodedFrame& decoded,
                                   std::int16_t erased) noexcept {
    DecodeExcitation(frame, decoded, erased);
    for (int i = 0; i < kSubframes; ++i) {
        SynthesisFilter(
            std::span<double, kSubframeSamples>(decoded.synthesis.data() + kSubframeSamples * i, kSubframeSamples),
            decoded.lpc[i], decSynthMem);
    }
}

void CSpeechCodec::DecodeExcitation(ConstPackedFrameView frame, DecodedFrame& decoded,
                                    std::int16_t erased) noexcept {
    const FrameParams params = UnpackFrame(frame, erased);
    const LspVector lsp = DecodeLsp(params.lspIndex, params.erased, decPrevLsp);
    decoded.lpc = InterpolateLsp(lsp, decPrevLsp);
    decPrevLsp = lsp;

    // The past excitation followed by this frame's, so that each subframe's pitch prediction
    // sees the earlier subframes of the same frame as built (unclamped). Every element is written
    // before it is read, so it is not cleared: that would cost as much as a step of the filter.
    std::array<double, kExcitationHistory + kFrameSamples> x;
    std::copy(decExcitation.begin(), decExcitation.end(), x.begin());
    for (int i = 0; i < kSubframes; ++i) {
        const SubframeParams& sub = params.sub[i];
        const int lag = params.pitchLag[i / 2];
        decoded.lags[i] = lag + sub.lagDelta - 1;
        double* current = x.data() + kExcitationHistory + kSubframeSamples * i;
        const SubframeVector pulses = BuildPulseVector(sub, lag);
        std::copy(pulses.begin(), pulses.end(), current);
        const SubframeVector pitch =
            PitchContribution(ExcitationPast(x.data() + kSubframeSamples * i, kExcitationHistory), lag,
                              sub.lagDelta, sub.pitchGainIndex);
        for (int n = 0; n < kSubframeSamples; ++n) {
            current[n] += pitch[n];
        }
    }

    std::array<double, kFrameSamples>& y = decoded.synthesis;
    std::copy(x.begin() + kExcitationHistory, x.end(), y.begin());

    // Only the stored history is clamped; the synthesis filter sees the excitation as built.
    for (auto it = x.begin() + kExcitationHistory; it != x.end(); ++it) {
        *it = ClampToSampleRange(*it);
    }
    std::copy(x.end() - kExcitationHistory, x.end(), decExcitation.begin());
}

} // namespace velmar
