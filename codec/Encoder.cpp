#include "codec/Encoder.h"

#include "codec/AdaptiveSearch.h"
#include "codec/Arithmetic.h"
#include "codec/Excitation.h"
#include "codec/PulseSearch.h"
#include "codec/tables/VadTables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace velmar {
namespace {

// Periodicity test: how close a multiple of the shortest recent lag must come to each lag.
constexpr int kVadLagLimit = 145;
constexpr int kVadLagMultiples = 8;
constexpr int kVadLagTolerance = 3;
constexpr int kVadPeriodicCount = 4;

constexpr int kVadAdaptMax = 6;
constexpr int kVadAdaptRise = 2;
constexpr int kVadBurstMax = 3;
constexpr int kVadBurstForHangover = 2;
constexpr int kVadHangoverFrames = 6;

// The energy is taken over the 180 newest samples (the part of the frame not yet coded).
constexpr int kVadEnergyStart = kEncoderDelay;
constexpr int kVadEnergySamples = kFrameSamples - kVadEnergyStart;

// The noise level follows a falling energy quickly and creeps otherwise: up while no periodic
// (voiced) signal is seen, slowly down while one is.
constexpr double kNoiseFollowOld = 0.75;
constexpr double kNoiseFollowNew = 0.25;
constexpr double kNoiseRise = 1.03125;
constexpr double kNoiseFall = 0.99951171875;
constexpr double kNoiseMin = 128.0;
constexpr double kNoiseMax = 131071.0;

constexpr double kScaleMantissaSteps = 128.0;
constexpr double kScaleInterpolationSteps = 64.0;
constexpr double kScaleUnit = 4096.0;
constexpr double kSensitivityBase = 0.4;
constexpr double kSensitivityStep = 0.006;

} // namespace

double VadThreshold(double noiseLevel, std::int16_t sensitivity) noexcept {
    int exponent = 0;
    const double mantissa = std::frexp(noiseLevel, &exponent); // 0.5 <= mantissa < 1
    const int index = std::clamp(exponent, kVadScaleFirstExponent,
                                 kVadScaleFirstExponent + static_cast<int>(VadScaleTable.size()) - 2) -
                      kVadScaleFirstExponent;
    const double k = std::floor(kScaleMantissaSteps * mantissa);
    const double f = k / kScaleInterpolationSteps - 1.0;
    const double scale = (1.0 - f) * VadScaleTable[index] + f * VadScaleTable[index + 1];
    return scale * noiseLevel / kScaleUnit * (kSensitivityBase + kSensitivityStep * sensitivity);
}

std::int16_t DetectVoiceActivity(ConstFrameSignal x, std::int16_t sensitivity, CSpeechCodec& codec) noexcept {
    // Voiced speech shows consistent lags; a steady sine wave is treated alike, so that the noise
    // level does not climb onto a tone.
    int shortest = kVadLagLimit;
    for (const std::int16_t lag : codec.vadLags) {
        shortest = std::min(shortest, static_cast<int>(lag));
    }
    int matches = 0;
    for (const std::int16_t lag : codec.vadLags) {
        for (int m = 1; m <= kVadLagMultiples; ++m) {
            if (std::abs(m * shortest - lag) <= kVadLagTolerance) {
                ++matches;
            }
        }
    }
    int adapt = codec.vadAdapt;
    if (matches == kVadPeriodicCount || codec.sineDetector < 0) {
        adapt += kVadAdaptRise;
    } else {
        adapt -= 1;
    }
    codec.vadAdapt = static_cast<std::int16_t>(std::clamp(adapt, 0, kVadAdaptMax));

    const double* newest = x.data() + kVadEnergyStart;
    const double energy = 0.5 * (1.0 / kVadEnergySamples) * DotProduct(newest, newest, kVadEnergySamples);

    double noise = codec.vadNoiseLevel;
    if (noise > codec.vadPrevEnergy) {
        noise = kNoiseFollowOld * codec.vadPrevEnergy + kNoiseFollowNew * noise;
    }
    noise = noise * (codec.vadAdapt == 0 ? kNoiseRise : kNoiseFall);
    codec.vadPrevEnergy = energy;
    codec.vadNoiseLevel = std::clamp(noise, kNoiseMin, kNoiseMax);

    const double threshold = VadThreshold(codec.vadNoiseLevel, sensitivity);
    int burst = codec.vadBurst;
    int hangover = codec.vadHangover;
    std::int16_t flag = 1;
    if (threshold > energy) {
        burst = std::max(burst - 1, 0);
        flag = 0;
    } else {
        ++burst;
        ++hangover;
    }
    if (burst >= kVadBurstForHangover) {
        hangover = kVadHangoverFrames;
        burst = std::min(burst, kVadBurstMax);
    }
    if (hangover != 0) {
        flag = 1;
        if (burst == 0) {
            --hangover;
        }
    }
    codec.vadBurst = static_cast<std::int16_t>(burst);
    codec.vadHangover = static_cast<std::int16_t>(hangover);
    codec.vadLags[0] = codec.vadLags[2];
    codec.vadLags[1] = codec.vadLags[3];
    return flag;
}

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
    codec.searchBudget = kPulseSearchBudget;

    std::array<double, kFrameSamples> x{};
    std::copy(samples.begin(), samples.end(), x.begin());

    // Spectral analysis of the frame as it arrives; the LPC windows look one subframe ahead.
    PreFilter(x, codec);
    const SubframeLpcSets lpc = AnalyseLpc(codec.lpcHistory, x, codec.sineDetector);
    LspVector lsp = LpcToLsp(lpc[kSubframes - 1], codec.encPrevLsp);
    if (trace != nullptr) {
        trace->lspUnquantised = lsp;
    }
    const std::int16_t flag = DetectVoiceActivity(x, sensitivity, codec);
    params.lspIndex = QuantiseLsp(lsp, codec.encPrevLsp);
    DelaySpeech(x, codec.lpcHistory);

    // Perceptual weighting and open-loop pitch on the delayed frame.
    const SubframeWeightings weightings = WeightingCoefficients(lpc);
    WeightSpeech(x, weightings, codec.weightInMem, codec.weightOutMem);
    std::array<HarmonicWeight, kSubframes> harmonic{};
    {
        std::array<double, kWeightedBufferSize> buf{};
        std::copy(codec.weightedHistory.begin(), codec.weightedHistory.end(), buf.begin());
        std::copy(x.begin(), x.end(), buf.begin() + kWeightedHistory);
        for (int half = 0; half < 2; ++half) {
            const int lag = EstimateOpenLoopPitch(buf, kWeightedHistory + kOpenLoopWindow * half);
            params.pitchLag[half] = lag;
            codec.vadLags[2 + half] = static_cast<std::int16_t>(lag);
        }
        for (int j = 0; j < kSubframes; ++j) {
            harmonic[j] =
                FindHarmonicWeight(buf, kWeightedHistory + kSubframeSamples * j, params.pitchLag[j / 2]);
        }
        std::copy(buf.end() - kWeightedHistory, buf.end(), codec.weightedHistory.begin());
        for (int j = 0; j < kSubframes; ++j) {
            ApplyHarmonicWeight(x, buf, kSubframeSamples * j, harmonic[j]);
        }
    }

    // The quantised spectrum exactly as the decoder will rebuild it.
    lsp = DecodeLsp(params.lspIndex, 0, codec.encPrevLsp);
    const SubframeLpcSets aq = InterpolateLsp(lsp, codec.encPrevLsp);
    codec.encPrevLsp = lsp;

    std::array<SubframeVector, kSubframes> responses = ComputeImpulseResponses(aq, weightings, harmonic);
    for (int j = 0; j < kSubframes; ++j) {
        const SubframeSignal t(x.data() + kSubframeSamples * j, kSubframeSamples);
        SubframeVector& h = responses[j];
        SubtractRinging(t, aq[j], weightings[j], codec.encSynthMem, codec.encWeightMem,
                        codec.weightedSynthHistory, harmonic[j]);
        SearchAdaptiveCodebook(t, h, codec.encExcitation, params, j);
        SearchFixedCodebook(t, h, params, j, codec.searchBudget);

        const SubframeParams& sub = params.sub[j];
        const SubframeVector p =
            PitchContribution(codec.encExcitation, params.pitchLag[j / 2], sub.lagDelta, sub.pitchGainIndex);
        // Only the stored history is clamped; the local decoder filters the excitation as built.
        std::copy(codec.encExcitation.begin() + kSubframeSamples, codec.encExcitation.end(),
                  codec.encExcitation.begin());
        double* fresh = codec.encExcitation.data() + kExcitationHistory - kSubframeSamples;
        for (int n = 0; n < kSubframeSamples; ++n) {
            const double e = p[n] + t[n];
            t[n] = e;
            fresh[n] = ClampToSampleRange(e);
        }
        UpdateRinging(t, aq[j], weightings[j], codec.encSynthMem, codec.encWeightMem,
                      codec.weightedSynthHistory);
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
