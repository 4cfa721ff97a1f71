// What the capture and playback engines need of the pipeline, as two narrow interfaces: the audio
// layer knows nothing of channels, codecs or files, the pipeline's channels implement these. Also the
// engines' buffer sizes, named once here and taken over by the pipeline's rings.
#pragma once

#include "audio/AudioDevice.h"

#include <chrono>
#include <cstdint>
#include <span>
#include <string_view>

namespace velmar {

class CEvent;

inline constexpr int kDeviceSampleRate = 8000;
inline constexpr int kBytesPerSample = 2;

// Recording: four device buffers of 90 ms stay queued.
inline constexpr int kCaptureDeviceBuffers = 4;
inline constexpr int kCaptureBufferSamples = 720;
inline constexpr int kCaptureBufferBytes = kCaptureBufferSamples * kBytesPerSample; // 1440
// The capture side takes samples in steps of this many (whole 30 ms frames); the part of a buffer a
// failing device could not finish is handed over in such steps.
inline constexpr int kCaptureGrainSamples = 240;
static_assert(kCaptureBufferSamples % kCaptureGrainSamples == 0);
// Playback: two device buffers of 300 ms alternate.
inline constexpr int kPlaybackDeviceBuffers = 2;
inline constexpr int kPlaybackBufferSamples = 2400;
inline constexpr int kPlaybackBufferBytes = kPlaybackBufferSamples * kBytesPerSample; // 4800

// How long the playback engine lets each of the last buffers play out before it resets the device.
inline constexpr std::chrono::milliseconds kDrainTimeout{200};
// How often the capture engine reports the input level while recording (the device hands over
// whole buffers only every 90 ms).
inline constexpr std::chrono::milliseconds kLevelInterval{25};
// While the end of a file plays out, the playback engine looks this often for blocks a seek brought.
inline constexpr std::chrono::milliseconds kPlayOutPoll{20};

// Texts stored when the device service cannot be used at all.
inline constexpr const char* kNoDriverText = " Sound driver is not installed.";
inline constexpr const char* kNoMemoryText = "Memory allocation error.";

// Shared by both directions: the run's error flag and the error text of the direction.
class CEngineLink {
public:
    // Raises the pipeline's error flag, which ends the run.
    virtual void RaiseError() = 0;
    virtual bool ErrorRaised() const = 0;
    // Stores `text` as the direction's error text and raises the error flags.
    virtual void SetErrorText(std::string_view text) = 0;

protected:
    ~CEngineLink() = default;
};

// The capture side of the pipeline as the capture engine sees it. Called on the capture thread.
class CCaptureLink : public CEngineLink {
public:
    // Stores the device's text for `result` as the direction's error text.
    virtual void SetWaveInError(const CAudioDevice& device, DeviceResult result) = 0;
    // Set when the capture must end (polled by the loop, set by the engine on its own failures).
    virtual CEvent& StopCaptureEvent() = 0;
    virtual void MarkRecording() = 0;
    virtual void ResetFramesEncoded() = 0;
    // Hands captured samples to the encoder side: a completely filled device buffer, or (once, as a
    // failed device's last) a whole number of kCaptureGrainSamples steps of one.
    virtual void PutCaptured(std::span<const std::int16_t> samples) = 0;
    // The input level now: the largest sample magnitude (0 .. 32768) since the last report.
    virtual void ReportLevel(int peak) = 0;

protected:
    ~CCaptureLink() = default;
};

// Where a decoded block belongs: the frame it reaches (-1: none, it moves neither time nor slider) and
// the ring's reset epoch it was decoded in. Opaque to the engine, which hands it back once the block
// has been heard.
struct BlockPlace {
    int position = -1;
    std::uint32_t epoch = 0;
};

// The playback side of the pipeline as the playback engine sees it. Called on the playback thread.
class CPlaybackLink : public CEngineLink {
public:
    virtual void SetWaveOutError(const CAudioDevice& device, DeviceResult result) = 0;
    // Set when playback must end; polled by the loop.
    virtual CEvent& StopPlaybackEvent() = 0;
    virtual void MarkPlaying() = 0;
    // Copies the oldest decoded block into `destination`; true when nothing was taken (then `count`
    // is 0 and `endMark` unchanged). `endMark` becomes true with the file's last block; `place` says
    // where the block belongs.
    virtual bool TakeDecoded(std::span<std::int16_t, kPlaybackBufferSamples> destination, int& count,
                             bool& endMark, BlockPlace& place) = 0;
    // The device has played the block taken with `place`: the time and slider show it now, so they
    // follow what is heard rather than what is decoded.
    virtual void ReportHeard(const BlockPlace& place) = 0;
    // A block waits in the ring (one decoded after the end mark was taken means a late seek).
    virtual bool HasDecoded() const = 0;
    // Waits until the feed has filled the ring or will deliver nothing more.
    virtual void WaitPlayData() = 0;
    // The feed has ended: no block will arrive any more.
    virtual bool FeedEnded() const = 0;

protected:
    ~CPlaybackLink() = default;
};

} // namespace velmar
