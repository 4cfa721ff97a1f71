// The index half of a single-producer/single-consumer ring of blocks. The producer fills the slot
// at HeadSlot and publishes it; the consumer reads the slot at TailSlot and frees it. No locks, no
// allocation: the slot data live in the channel, ordered by these two counters.
#pragma once

#include "pipeline/PipelineConstants.h"

#include <atomic>
#include <cstdint>

namespace velmar {

template <int Slots> class CBlockRing {
public:
    static_assert(Slots > 0);

    // Producer thread only.
    bool Full() const {
        // Acquire: the consumer's reads of the slot happened before it moved tail.
        return Distance(head.load(std::memory_order_relaxed), tail.load(std::memory_order_acquire)) == Slots;
    }
    int HeadSlot() const { return static_cast<int>(head.load(std::memory_order_relaxed) % Slots); }
    // Release: the slot's samples, count, position and marks are written before the slot is handed over.
    void Publish() { head.store(Next(head.load(std::memory_order_relaxed)), std::memory_order_release); }

    // Consumer thread only.
    bool Empty() const {
        return head.load(std::memory_order_acquire) == tail.load(std::memory_order_relaxed);
    }
    int TailSlot() const { return static_cast<int>(tail.load(std::memory_order_relaxed) % Slots); }
    // Release: the slot has been read completely before the producer may fill it again.
    void Consume() { tail.store(Next(tail.load(std::memory_order_relaxed)), std::memory_order_release); }

    // Only while no thread uses the ring.
    void Clear() {
        head.store(0, std::memory_order_relaxed);
        tail.store(0, std::memory_order_relaxed);
    }

private:
    // The counters run over twice the slot count, so a full ring and an empty one differ.
    static constexpr std::uint32_t kRange = 2 * Slots;
    static std::uint32_t Next(std::uint32_t index) { return (index + 1) % kRange; }
    static int Distance(std::uint32_t from, std::uint32_t to) {
        return static_cast<int>((from + kRange - to) % kRange);
    }

    // Invariant: head is written only by the producer, tail only by the consumer; both lie in
    // [0, 2 * Slots) and head - tail (modulo 2 * Slots) is the number of published blocks.
    alignas(kCacheLine) std::atomic<std::uint32_t> head{0};
    alignas(kCacheLine) std::atomic<std::uint32_t> tail{0};
};

} // namespace velmar
