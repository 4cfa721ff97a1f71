// The codec must not touch the heap per frame: this binary counts every global allocation.
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed); // a statistic; no ordering needed
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace velmar {
namespace {

// Any bytes must decode, invalid frames included, so random ones reach every decoding path.
std::vector<PackedFrame> RandomFrames() {
    test::Rng rng(test::kDefaultSeed);
    std::vector<PackedFrame> frames(500);
    for (auto& frame : frames) {
        for (auto& byte : frame) {
            byte = static_cast<std::uint8_t>(rng());
        }
    }
    return frames;
}

TEST(CodecAllocation, DecodingAllocatesNothing) {
    const std::vector<PackedFrame> frames = RandomFrames();
    CSpeechCodec codec;
    std::array<std::int16_t, kFrameSamples> out{};
    const long before = allocations.load(std::memory_order_relaxed);
    for (const PackedFrame& frame : frames) {
        codec.DecodeFrame(frame, out);
    }
    EXPECT_EQ(allocations.load(std::memory_order_relaxed) - before, 0);
}

TEST(CodecAllocation, EnhancedDecodingAllocatesNothing) {
    const std::vector<PackedFrame> frames = RandomFrames();
    CSpeechCodec codec;
    CPostFilter postFilter;
    std::array<std::int16_t, kFrameSamples> out{};
    const long before = allocations.load(std::memory_order_relaxed);
    for (const PackedFrame& frame : frames) {
        DecodeEnhancedFrame(codec, postFilter, frame, out);
    }
    EXPECT_EQ(allocations.load(std::memory_order_relaxed) - before, 0);
}

// Every effort: the harder searches copy the encoder state per candidate, on the stack only.
TEST(CodecAllocation, EncodingAllocatesNothingAtAnyEffort) {
    test::Rng rng(test::kDefaultSeed);
    std::vector<std::int16_t> samples(240 * kFrameSamples);
    std::uniform_int_distribution<int> any(-32768, 32767);
    for (std::size_t n = 0; n < samples.size(); ++n) {
        // Loud and quiet stretches, so that every search path runs.
        samples[n] = static_cast<std::int16_t>(any(rng) >> ((n / kFrameSamples) % 12));
    }
    for (int effort = kMinEncoderEffort; effort <= kMaxEncoderEffort; ++effort) {
        CSpeechCodec codec;
        codec.encoderEffort = effort;
        PackedFrame out{};
        const long before = allocations.load(std::memory_order_relaxed);
        for (std::size_t f = 0; f < samples.size() / kFrameSamples; ++f) {
            codec.EncodeFrame(ConstSampleFrame(samples.data() + f * kFrameSamples, kFrameSamples), out);
        }
        EXPECT_EQ(allocations.load(std::memory_order_relaxed) - before, 0) << "effort " << effort;
    }
}

} // namespace
} // namespace velmar
