#include "codec/Excitation.h"
#include "codec/SpeechCodec.h"

#include <algorithm>

namespace velmar {

void SynthesisFilter(std::span<double, kSubframeSamples> subframe, const LpcSet& lpc,
                     FilterMemory& memory) noexcept {
    // The memory (newest first) rides in registers, so that each output reaches the next one's sum
    // without a round trip through memory; the sum is DotProduct's, from 0.0 in index order.
    double a[kLpcOrder];
    double m[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        a[k] = lpc[k];
        m[k] = memory[k];
    }
    for (double& sample : subframe) {
        double sum = 0.0;
#pragma GCC unroll 10
        for (int k = 0; k < kLpcOrder; ++k) {
            sum += a[k] * m[k];
        }
        const double s = sample + sum;
#pragma GCC unroll 9
        for (int k = kLpcOrder - 1; k > 0; --k) {
            m[k] = m[k - 1];
        }
        m[0] = s;
        sample = s;
    }
    for (int k = 0; k < kLpcOrder; ++k) {
        memory[k] = m[k];
    }
}

void CSpeechCodec::DecodeFrame(ConstPackedFrameView frame, SampleFrame out, std::int16_t erased) noexcept {
    DecodedFrame decoded;
    DecodeSynthesis(frame, decoded, erased);
    for (int n = 0; n < kFrameSamples; ++n) {
        out[n] = RoundToSample(decoded.synthesis[n]);
    }
}

void CSpeechCodec::DecodeSynthesis(ConstPackedFrameView frame, DecodedFrame& decoded,
                                   std::int16_t erased) noexcept {
    const FrameParams params = UnpackFrame(frame, erased);
    const LspVector lsp = DecodeLsp(params.lspIndex, params.erased, decPrevLsp);
    decoded.lpc = InterpolateLsp(lsp, decPrevLsp);
    decPrevLsp = lsp;

    // The past excitation followed by this frame's, so that each subframe's pitch prediction
    // sees the earlier subframes of the same frame as built (unclamped).
    std::array<double, kExcitationHistory + kFrameSamples> x{};
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

    for (int i = 0; i < kSubframes; ++i) {
        SynthesisFilter(
            std::span<double, kSubframeSamples>(y.data() + kSubframeSamples * i, kSubframeSamples),
            decoded.lpc[i], decSynthMem);
    }
}

} // namespace velmar
