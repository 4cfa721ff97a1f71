// Codec speed against real time. "x_realtime" is seconds of speech processed per second of CPU on
// one core: the number of channels one core could keep up with.
#include "codec/Kernels.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace velmar {
namespace {

constexpr double kFrameSeconds = static_cast<double>(kFrameSamples) / kSampleRate;

std::vector<std::uint8_t> ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELMAR_BENCH_DATA_DIR) + "/" + name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void SetRealTimeCounter(benchmark::State& state, std::int64_t frames) {
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(frames) * kFrameSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(frames);
}

// The female speech clip's frames, round and round, through decode(frame, out).
template <typename Decode> void DecodeSpeech(benchmark::State& state, Decode decode) {
    const std::vector<std::uint8_t> bytes = ReadFile("vectors/encoder/s09_en_f_flite_slt.prm");
    const std::size_t frameCount = bytes.size() / kPackedFrameBytes;
    if (frameCount == 0) {
        state.SkipWithError("speech frames not found");
        return;
    }
    std::array<std::int16_t, kFrameSamples> out{};
    std::size_t next = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        decode(ConstPackedFrameView(bytes.data() + next * kPackedFrameBytes, kPackedFrameBytes), out);
        benchmark::DoNotOptimize(out.data());
        next = next + 1 == frameCount ? 0 : next + 1;
        ++frames;
    }
    SetRealTimeCounter(state, frames);
}

void BM_DecodeFrame(benchmark::State& state) {
    CSpeechCodec codec;
    DecodeSpeech(state, [&](ConstPackedFrameView frame, SampleFrame out) { codec.DecodeFrame(frame, out); });
}
BENCHMARK(BM_DecodeFrame);

// Enhanced playback: the decoder followed by the post-filter, as the playback side runs them.
void BM_DecodeEnhancedFrame(benchmark::State& state) {
    CSpeechCodec codec;
    CPostFilter postFilter;
    DecodeSpeech(state, [&](ConstPackedFrameView frame, SampleFrame out) {
        DecodeEnhancedFrame(codec, postFilter, frame, out);
    });
}
BENCHMARK(BM_DecodeEnhancedFrame);

std::vector<std::int16_t> ReadPcm(const std::string& name) {
    const std::vector<std::uint8_t> bytes = ReadFile(name);
    std::vector<std::int16_t> samples(bytes.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    }
    return samples;
}

// Speech keeps every stage busy: voiced frames admit many triples to the pulse search.
void EncodeSpeech(benchmark::State& state, int effort) {
    const std::vector<std::int16_t> samples = ReadPcm("vectors/encoder/s08_en_m_espeak_enus.pcm");
    const std::size_t frameCount = samples.size() / kFrameSamples;
    if (frameCount == 0) {
        state.SkipWithError("speech samples not found");
        return;
    }
    CSpeechCodec codec;
    codec.encoderEffort = effort;
    PackedFrame out{};
    std::size_t next = 0;
    std::int64_t frames = 0;
    for (auto _ : state) {
        codec.EncodeFrame(ConstSampleFrame(samples.data() + next * kFrameSamples, kFrameSamples), out);
        benchmark::DoNotOptimize(out.data());
        next = next + 1 == frameCount ? 0 : next + 1;
        ++frames;
    }
    SetRealTimeCounter(state, frames);
}

void BM_EncodeFrame(benchmark::State& state) {
    EncodeSpeech(state, kMinEncoderEffort);
}
BENCHMARK(BM_EncodeFrame);

// Each encoder effort (the argument): x_realtime tells which efforts a recording channel can
// afford on this machine.
void BM_EncodeFrameAtEffort(benchmark::State& state) {
    EncodeSpeech(state, static_cast<int>(state.range(0)));
}
BENCHMARK(BM_EncodeFrameAtEffort)->DenseRange(kMinEncoderEffort, kMaxEncoderEffort);

// The encoder on each kernel path this processor has (0 portable, 1 AVX2, 2 AVX-512); the plain
// BM_EncodeFrame uses the path chosen at start-up.
void BM_EncodeFrameOnPath(benchmark::State& state) {
    const auto path = static_cast<KernelPath>(state.range(0));
    const KernelPath chosen = ActiveKernelPath();
    if (!ForceKernelPath(path)) {
        state.SkipWithError("kernel path not available here");
        return;
    }
    BM_EncodeFrame(state);
    ForceKernelPath(chosen);
}
BENCHMARK(BM_EncodeFrameOnPath)->Arg(0)->Arg(1)->Arg(2);

} // namespace
} // namespace velmar

BENCHMARK_MAIN();
