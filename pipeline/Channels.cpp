#include "pipeline/Channels.h"

#include "audio/AudioDevice.h"
#include "audio/Event.h"
#include "pipeline/Conversions.h"
#include "pipeline/RunContext.h"

#include <algorithm>
#include <cstring>

namespace velmar {

// --- CBlockChannel ---

CBlockChannel::CBlockChannel(CRunContext& context)
    : run(context) {
}

CBlockChannel::~CBlockChannel() {
    Release();
}

void CBlockChannel::Allocate(int blockSamples) {
    if (blockSamples != samplesPerBlock) {
        // Buffers of another size cannot be reused.
        for (auto& block : blocks) {
            block.reset();
        }
        samplesPerBlock = blockSamples;
    }
    for (auto& block : blocks) {
        if (!block) {
            block = std::make_unique_for_overwrite<std::int16_t[]>(static_cast<std::size_t>(samplesPerBlock));
        }
    }
    counts.fill(0);
    if (!codec) {
        codec.emplace();
    }
    errorFlag.store(false, std::memory_order_release);
    std::lock_guard lock(errorMutex);
    errorText.fill('\0');
}

void CBlockChannel::Release() {
    for (auto& block : blocks) {
        block.reset();
    }
    codec.reset();
}

std::string CutErrorText(std::string_view text, std::size_t size) {
    if (size == 0) {
        return {};
    }
    if (text.size() < size) {
        return std::string(text);
    }
    constexpr std::string_view kEllipsis = "...";
    std::size_t keep = size - 1 - kEllipsis.size();
    // Back off to the start of a UTF-8 sequence: continuation bytes are 10xxxxxx.
    while (keep > 0 && (static_cast<unsigned char>(text[keep]) & 0xC0u) == 0x80u) {
        --keep;
    }
    return std::string(text.substr(0, keep)) + std::string(kEllipsis);
}

void CBlockChannel::StoreErrorText(std::string_view text) {
    run.RaiseError();
    const std::string cut = CutErrorText(text, errorText.size());
    {
        std::lock_guard lock(errorMutex);
        errorText.fill('\0');
        std::memcpy(errorText.data(), cut.data(), cut.size());
    }
    errorFlag.store(true, std::memory_order_release);
}

std::string CBlockChannel::ErrorText() const {
    std::lock_guard lock(errorMutex);
    return std::string(errorText.data());
}

void CBlockChannel::ReportElapsed(int frames) {
    if (frames >= 0) {
        run.ShowElapsed(FramesToTenths(frames));
    }
}

// --- CCaptureChannel ---

CCaptureChannel::CCaptureChannel(CRunContext& context)
    : CBlockChannel(context) {
}

void CCaptureChannel::Allocate(int blockSamples) {
    CBlockChannel::Allocate(blockSamples);
    codec->encoderEffort = run.EncoderEffort();
    ring.Clear();
    framesEncoded.store(0, std::memory_order_relaxed);
    droppedSamples.store(0, std::memory_order_relaxed);
}

void CCaptureChannel::PutCaptured(std::span<const std::int16_t> samples) {
    const int slot = ring.HeadSlot();
    const int count = std::min(static_cast<int>(samples.size()), samplesPerBlock);
    const int whole = count - count % kFrameSamples;
    if (ring.Full() || !blocks[static_cast<std::size_t>(slot)] || whole == 0) {
        // The encoder has fallen more than a ring behind: this block is lost, recording goes on, and
        // the loss is told at the end of the run.
        if (whole > 0) {
            droppedSamples.fetch_add(whole, std::memory_order_relaxed);
        }
        return;
    }
    std::copy_n(samples.begin(), whole, blocks[static_cast<std::size_t>(slot)].get());
    counts[static_cast<std::size_t>(slot)] = whole;
    ring.Publish();
}

void CCaptureChannel::ReportLevel(int peak) {
    run.ShowInputLevel(peak);
}

int CCaptureChannel::TakeEncoded(std::span<std::uint8_t, kEncodedBlockBytes> frames) {
    if (ring.Empty() || !codec) {
        return 0;
    }
    const auto slot = static_cast<std::size_t>(ring.TailSlot());
    const int frameCount = std::min(counts[slot] / kFrameSamples, kFramesPerCaptureBlock);
    if (frameCount == 0 || !blocks[slot]) {
        return 0;
    }
    const std::int16_t* samples = blocks[slot].get();
    for (int k = 0; k < frameCount; ++k) {
        (void)codec->EncodeFrame(ConstSampleFrame(samples + k * kFrameSamples, kFrameSamples),
                                 PackedFrameView(frames.data() + k * kPackedFrameBytes, kPackedFrameBytes),
                                 kEncoderSensitivity);
    }
    counts[slot] = 0;
    ring.Consume();
    const int encoded = framesEncoded.fetch_add(frameCount, std::memory_order_acq_rel) + frameCount;
    ReportElapsed(encoded);
    return frameCount * kPackedFrameBytes;
}

int CCaptureChannel::DroppedTenths() const {
    // Rounded up: a single lost block of 90 ms is still a loss to tell.
    const std::int64_t samples = droppedSamples.load(std::memory_order_relaxed);
    return SamplesToTenths(samples + kSampleRate / 10 - 1);
}

void CCaptureChannel::Finish() {
    Release();
    run.ClearRecording();
    run.NotifyStopped();
}

void CCaptureChannel::RaiseError() {
    run.RaiseError();
}

bool CCaptureChannel::ErrorRaised() const {
    return run.HasError();
}

void CCaptureChannel::SetWaveInError(const CAudioDevice& device, DeviceResult result) {
    StoreErrorText(device.ErrorText(result));
}

CEvent& CCaptureChannel::StopCaptureEvent() {
    return run.StopCaptureEvent();
}

void CCaptureChannel::MarkRecording() {
    run.MarkRecording();
}

void CCaptureChannel::ResetFramesEncoded() {
    framesEncoded.store(0, std::memory_order_release);
}

// --- CPlaybackChannel ---

CPlaybackChannel::CPlaybackChannel(CRunContext& context)
    : CBlockChannel(context) {
}

void CPlaybackChannel::Allocate(int blockSamples) {
    CBlockChannel::Allocate(blockSamples);
    postFilter = CPostFilter{}; // fresh with the decoder state of the run
    ring.Clear();
    positions.fill(-1);
    endMarks.fill(false);
    epochs.fill(0);
    resetEpoch.store(0, std::memory_order_relaxed);
    totalFrames.store(1, std::memory_order_relaxed);
    feedEnded.store(false, std::memory_order_relaxed);
}

// ResetRing touches neither counter: it only raises resetEpoch. Every block carries the epoch in
// which the producer began it, and the consumer discards blocks of an older epoch as it meets them.
// So the ring keeps exactly one writer per counter, and a reset can come from any thread at any
// moment without interleaving with DecodePut or TakeDecoded.
bool CPlaybackChannel::DecodePut(std::span<const std::uint8_t> frames, int position, int byteCount,
                                 bool endMark) {
    if (!codec) {
        run.ClearPlayRoom();
        run.SignalPlayData();
        return false;
    }
    if (ring.Full()) {
        // Reset first, then look again: a slot freed (and evPlayRoom set) in between is not missed.
        run.ClearPlayRoom();
        if (ring.Full()) {
            run.SignalPlayData();
            return false;
        }
    }
    const auto slot = static_cast<std::size_t>(ring.HeadSlot());
    if (!blocks[slot]) {
        return false;
    }
    epochs[slot] = resetEpoch.load(std::memory_order_acquire);
    const int usable = std::clamp(byteCount, 0, static_cast<int>(frames.size()));
    const int frameCount = std::min(usable / kPackedFrameBytes, kFramesPerPlaybackBlock);
    std::int16_t* samples = blocks[slot].get();
    const bool enhanced = run.PlaybackMode() == DecodeMode::Enhanced;
    for (int k = 0; k < frameCount; ++k) {
        const ConstPackedFrameView frame(frames.data() + k * kPackedFrameBytes, kPackedFrameBytes);
        const SampleFrame out(samples + k * kFrameSamples, kFrameSamples);
        if (enhanced) {
            DecodeEnhancedFrame(*codec, postFilter, frame, out);
        } else {
            codec->DecodeFrame(frame, out, 0);
        }
    }
    counts[slot] = frameCount * kFrameSamples;
    positions[slot] = position;
    endMarks[slot] = endMark;
    ring.Publish();
    if (endMark) {
        // Nothing follows to fill the ring: a playback loop waiting for a full ring must not wait
        // for it (the reader stays for late seeks, so its end does not wake the loop either).
        run.SignalPlayData();
    }
    return true;
}

bool CPlaybackChannel::TakeDecoded(std::span<std::int16_t, kPlaybackBufferSamples> destination, int& count,
                                   bool& endMark, BlockPlace& place) {
    for (;;) {
        if (ring.Empty()) {
            // Reset, then look again, so a ring filled meanwhile is not missed; an ended feed keeps
            // the event raised, since nothing else would raise it again.
            run.ClearPlayData();
            if (feedEnded.load(std::memory_order_acquire)) {
                run.SignalPlayData();
            }
            if (ring.Empty()) {
                count = 0;
                return true;
            }
        }
        const auto slot = static_cast<std::size_t>(ring.TailSlot());
        if (epochs[slot] == resetEpoch.load(std::memory_order_acquire)) {
            break;
        }
        ring.Consume(); // decoded before the last reset: discarded
        run.SignalPlayRoom();
    }
    const auto slot = static_cast<std::size_t>(ring.TailSlot());
    if (!blocks[slot] || destination.data() == nullptr) {
        count = 0;
        return true;
    }
    count = counts[slot];
    std::copy_n(blocks[slot].get(), count, destination.begin());
    place.position = positions[slot];
    place.epoch = epochs[slot];
    endMark = endMarks[slot];
    ring.Consume();
    run.SignalPlayRoom();
    return false;
}

void CPlaybackChannel::ReportHeard(const BlockPlace& place) {
    // A block decoded before a seek still plays out of the device, but its place is no longer where
    // playback is going: the slider must not jump back to it.
    if (place.epoch != resetEpoch.load(std::memory_order_acquire)) {
        return;
    }
    ReportElapsed(place.position);
    ReportPercent(place.position);
}

bool CPlaybackChannel::HasDecoded() const {
    if (ring.Empty()) {
        return false;
    }
    return epochs[static_cast<std::size_t>(ring.TailSlot())] == resetEpoch.load(std::memory_order_acquire);
}

void CPlaybackChannel::ResetRing() {
    resetEpoch.fetch_add(1, std::memory_order_acq_rel);
    run.SignalPlayRoom();
}

void CPlaybackChannel::ReportPercent(int position) {
    const int percent = FramePercent(position, totalFrames.load(std::memory_order_acquire));
    if (percent >= 0) {
        run.ShowPercent(percent);
    }
}

void CPlaybackChannel::EndFeed() {
    feedEnded.store(true, std::memory_order_release);
    run.SignalPlayData();
}

void CPlaybackChannel::WaitPlayData() {
    run.AwaitPlayData();
}

void CPlaybackChannel::Finish() {
    Release();
    run.ClearPlaying();
    run.NotifyStopped();
}

void CPlaybackChannel::RaiseError() {
    run.RaiseError();
}

bool CPlaybackChannel::ErrorRaised() const {
    return run.HasError();
}

void CPlaybackChannel::SetWaveOutError(const CAudioDevice& device, DeviceResult result) {
    StoreErrorText(device.ErrorText(result));
}

CEvent& CPlaybackChannel::StopPlaybackEvent() {
    return run.StopPlaybackEvent();
}

void CPlaybackChannel::MarkPlaying() {
    run.MarkPlaying();
}

} // namespace velmar
