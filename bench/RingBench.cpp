// Speed of the hand-over between device and file threads: the bare ring with a block copy, a
// capture block through its channel (copy in, encode three frames), a file chunk through the
// playback channel (decode ten frames, copy out), and two threads passing blocks flat out.
#include "audio/VirtualAudioDevice.h"
#include "pipeline/BlockRing.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PipelineReports.h"

#include <benchmark/benchmark.h>

#include <array>
#include <random>
#include <thread>
#include <vector>

namespace velmar {
namespace {

class CSilentReports final : public CPipelineReports {
public:
    void OnPipelineStopped() override {}
    void ShowDuration(int) override {}
    void ShowElapsed(int) override {}
    void SetSliderPercent(int) override {}
};

std::vector<std::int16_t> Noise(std::size_t count) {
    std::mt19937 rng(20261208);
    std::uniform_int_distribution<int> sample(-8000, 8000);
    std::vector<std::int16_t> samples(count);
    for (std::int16_t& s : samples) {
        s = static_cast<std::int16_t>(sample(rng));
    }
    return samples;
}

// One 720-sample block into the ring and out again, single-threaded: the ring's own cost.
void BM_BlockRingPutTake(benchmark::State& state) {
    CBlockRing<kCaptureRingSlots> ring;
    std::vector<std::array<std::int16_t, kCaptureBlockSamples>> slots(kCaptureRingSlots);
    const std::vector<std::int16_t> block = Noise(kCaptureBlockSamples);
    std::array<std::int16_t, kCaptureBlockSamples> out{};
    for (auto _ : state) {
        std::copy(block.begin(), block.end(), slots[static_cast<std::size_t>(ring.HeadSlot())].begin());
        ring.Publish();
        const auto& slot = slots[static_cast<std::size_t>(ring.TailSlot())];
        std::copy(slot.begin(), slot.end(), out.begin());
        ring.Consume();
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * kCaptureBlockSamples * 2);
}
BENCHMARK(BM_BlockRingPutTake);

// Blocks passed between a producer and a consumer thread running flat out.
void BM_BlockRingTwoThreads(benchmark::State& state) {
    constexpr int kBlocks = 20000;
    for (auto _ : state) {
        CBlockRing<kCaptureRingSlots> ring;
        std::vector<std::array<std::int16_t, kCaptureBlockSamples>> slots(kCaptureRingSlots);
        std::jthread producer([&] {
            for (int sent = 0; sent < kBlocks;) {
                if (ring.Full()) {
                    std::this_thread::yield();
                    continue;
                }
                slots[static_cast<std::size_t>(ring.HeadSlot())].fill(static_cast<std::int16_t>(sent++));
                ring.Publish();
            }
        });
        std::int64_t sum = 0;
        for (int received = 0; received < kBlocks;) {
            if (ring.Empty()) {
                std::this_thread::yield();
                continue;
            }
            sum += slots[static_cast<std::size_t>(ring.TailSlot())][0];
            ring.Consume();
            ++received;
        }
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kBlocks);
}
BENCHMARK(BM_BlockRingTwoThreads)->UseRealTime()->Unit(benchmark::kMillisecond);

// One captured block through the capture channel: copied in, encoded into three frames.
void BM_CaptureChannelPutTakeEncoded(benchmark::State& state) {
    CSilentReports reports;
    CVirtualAudioBackend backend;
    CPipeline pipeline(reports, backend);
    CCaptureChannel& channel = pipeline.CaptureChannel();
    channel.Allocate(kCaptureBlockSamples);
    const std::vector<std::int16_t> speech = Noise(kCaptureBlockSamples);
    const std::span<const std::int16_t, kCaptureBlockSamples> block(speech.data(), kCaptureBlockSamples);
    std::array<std::uint8_t, kEncodedBlockBytes> frames{};
    for (auto _ : state) {
        channel.PutCaptured(block);
        benchmark::DoNotOptimize(channel.TakeEncoded(frames));
    }
    // 90 ms of speech per block: a rate above 1 means faster than real time on one core.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.09, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_CaptureChannelPutTakeEncoded);

// One 180-byte file chunk through the playback channel: decoded into a block, copied out.
void BM_PlaybackChannelDecodePutTakeDecoded(benchmark::State& state) {
    CSilentReports reports;
    CVirtualAudioBackend backend;
    CPipeline pipeline(reports, backend);
    CPlaybackChannel& channel = pipeline.PlaybackChannel();
    channel.Allocate(kPlaybackBlockSamples);
    std::mt19937 rng(7);
    std::array<std::uint8_t, kReadChunkBytes> chunk{};
    for (std::uint8_t& b : chunk) {
        b = static_cast<std::uint8_t>(rng());
    }
    std::array<std::int16_t, kPlaybackBlockSamples> out{};
    int count = 0;
    bool endMark = false;
    BlockPlace place;
    for (auto _ : state) {
        benchmark::DoNotOptimize(channel.DecodePut(chunk, 10, kReadChunkBytes, false));
        benchmark::DoNotOptimize(channel.TakeDecoded(out, count, endMark, place));
    }
    // 300 ms of speech per chunk.
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 0.3, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PlaybackChannelDecodePutTakeDecoded);

} // namespace
} // namespace velmar
