// The hand-over points between a device thread and a file thread. Each channel owns a ring of sample
// blocks and the codec state of its direction and turns samples into frames (capture) or frames into
// samples (playback) as blocks pass; it also keeps the direction's error text and turns frame counts
// into the times and slider positions the owner is shown. Both channels belong to the CPipeline; the
// buffers and the codec state exist from Allocate (start of a run) to Release (its end), which run
// only while no thread uses the channel.
#pragma once

#include "audio/EngineLinks.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"
#include "pipeline/BlockRing.h"
#include "pipeline/PipelineConstants.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmar {

class CAudioDevice;
class CRunContext;

class CBlockChannel {
public:
    explicit CBlockChannel(CRunContext& context);
    virtual ~CBlockChannel();
    CBlockChannel(const CBlockChannel&) = delete;
    CBlockChannel& operator=(const CBlockChannel&) = delete;

    // Gives every slot a buffer of `samplesPerBlock` samples (keeping buffers that exist), creates the
    // codec state if there is none, empties the ring and clears the error flag.
    void Allocate(int samplesPerBlock);
    // Frees the buffers and the codec state, so the next run starts from a fresh codec state.
    void Release();

    // Raises the pipeline's error flag and stores `text` (cut to the buffer, see CutErrorText).
    void StoreErrorText(std::string_view text);
    // Passes trunc(frames x 0.3) tenths to the owner; negative counts are ignored.
    void ReportElapsed(int frames);

    bool ErrorFlag() const { return errorFlag.load(std::memory_order_acquire); }
    std::string ErrorText() const;
    bool HasBuffers() const { return blocks[0] != nullptr; }
    bool HasCodec() const { return codec.has_value(); }

protected:
    CRunContext& run;
    int samplesPerBlock = 0;
    // Slot buffers; the ring's counters decide which thread may touch which slot.
    std::array<std::unique_ptr<std::int16_t[]>, kChannelBuffers> blocks;
    // Samples in each slot; written by the producer before it publishes the slot.
    std::array<int, kChannelBuffers> counts{};
    // Codec state of this direction; used only by the direction's file thread.
    std::optional<CSpeechCodec> codec;

private:
    std::atomic<bool> errorFlag{false};
    // Error texts are rare and read by the owner after a run; a lock keeps a reader from seeing half
    // a text.
    mutable std::mutex errorMutex;
    std::array<char, kErrorTextSize> errorText{};
};

// Cuts `text` to fit `size` bytes with its terminator: a cut text ends in "..." and never in the
// middle of a UTF-8 sequence.
std::string CutErrorText(std::string_view text, std::size_t size);

// Recording. Producer: the capture thread (PutCaptured); consumer: the encoder thread (TakeEncoded).
class CCaptureChannel final : public CBlockChannel, public CCaptureLink {
public:
    explicit CCaptureChannel(CRunContext& context);

    void Allocate(int samplesPerBlock);
    // Stores one captured block (its whole frames); counts it as lost when the ring is full.
    void PutCaptured(std::span<const std::int16_t> samples) override;
    void ReportLevel(int peak) override;
    // Encodes the oldest block into frames back to back (three for a full block); the number of
    // bytes written, 0 when there is no block.
    int TakeEncoded(std::span<std::uint8_t, kEncodedBlockBytes> frames);
    // Last step of the capture thread: release, clear the recording flag, report the end.
    void Finish();

    int FramesEncoded() const { return framesEncoded.load(std::memory_order_acquire); }
    // Captured blocks lost because the ring was full (the encoder or the disk fell behind).
    int DroppedBlocks() const {
        return droppedSamples.load(std::memory_order_relaxed) / kCaptureBlockSamples;
    }
    // The same as time, in tenths of a second (rounded up), as the end of the run reports it.
    int DroppedTenths() const;

    // CCaptureLink
    void RaiseError() override;
    bool ErrorRaised() const override;
    void SetErrorText(std::string_view text) override { StoreErrorText(text); }
    void SetWaveInError(const CAudioDevice& device, DeviceResult result) override;
    CEvent& StopCaptureEvent() override;
    void MarkRecording() override;
    void ResetFramesEncoded() override;

private:
    CBlockRing<kCaptureRingSlots> ring;
    // Written by the encoder thread, reset by the capture thread as its loop starts.
    std::atomic<int> framesEncoded{0};
    // Written by the capture thread; read once its run has ended.
    std::atomic<int> droppedSamples{0};
};

// Playback. Producer: the reader thread (DecodePut); consumer: the playback thread (TakeDecoded).
class CPlaybackChannel final : public CBlockChannel, public CPlaybackLink {
public:
    explicit CPlaybackChannel(CRunContext& context);

    void Allocate(int samplesPerBlock);

    // Decodes up to ten frames (`byteCount` / 18; a partial frame is ignored) into the next slot,
    // with the frame `position` it reaches (-1: none) and the end mark. False when the ring is full;
    // the reader then waits for evPlayRoom and tries again.
    bool DecodePut(std::span<const std::uint8_t> frames, int position, int byteCount, bool endMark);
    // Discards every decoded block not yet taken. Any thread; see Channels.cpp for how it stays
    // apart from DecodePut and TakeDecoded.
    void ResetRing();
    // Passes position x 100 / totalFrames to the owner's slider.
    void ReportPercent(int position);
    void SetTotalFrames(int frames) { totalFrames.store(frames, std::memory_order_release); }
    int TotalFrames() const { return totalFrames.load(std::memory_order_acquire); }
    // The reader has ended: no block will arrive any more. Wakes a playback loop waiting for data.
    void EndFeed();
    // Last step of the playback thread: release, clear the playing flag, report the end.
    void Finish();

    // CPlaybackLink
    void RaiseError() override;
    bool ErrorRaised() const override;
    void SetErrorText(std::string_view text) override { StoreErrorText(text); }
    void SetWaveOutError(const CAudioDevice& device, DeviceResult result) override;
    CEvent& StopPlaybackEvent() override;
    void MarkPlaying() override;
    bool TakeDecoded(std::span<std::int16_t, kPlaybackBufferSamples> destination, int& count, bool& endMark,
                     BlockPlace& place) override;
    void ReportHeard(const BlockPlace& place) override;
    bool HasDecoded() const override;
    void WaitPlayData() override;
    bool FeedEnded() const override { return feedEnded.load(std::memory_order_acquire); }

private:
    CBlockRing<kPlaybackRingSlots> ring;
    // Enhances what the decoder makes when the run asks for it; the reader thread's, like the codec.
    CPostFilter postFilter;
    // Slot data besides the samples, written by the producer before it publishes the slot.
    std::array<int, kChannelBuffers> positions{};
    std::array<bool, kChannelBuffers> endMarks{};
    std::array<std::uint32_t, kChannelBuffers> epochs{};
    // Raised by ResetRing; a block stamped with an older value is discarded by the consumer.
    std::atomic<std::uint32_t> resetEpoch{0};
    // Frames in the file being played; 1 until the reader has measured it.
    std::atomic<int> totalFrames{1};
    std::atomic<bool> feedEnded{false};
};

} // namespace velmar
