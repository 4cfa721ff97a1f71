// Sizes and time-outs of the processing pipeline, each named once: blocks and rings between the
// device threads and the file threads, file chunks, text buffers and how long one thread waits for
// another.
#pragma once

#include "audio/EngineLinks.h"
#include "codec/CodecConstants.h"

#include <chrono>
#include <cstdint>

namespace velmar {

// A captured block is one device buffer: three frames, 90 ms.
inline constexpr int kFramesPerCaptureBlock = 3;
inline constexpr int kCaptureBlockSamples = kCaptureBufferSamples;
static_assert(kCaptureBlockSamples == kFramesPerCaptureBlock * kFrameSamples);
inline constexpr int kEncodedBlockBytes = kFramesPerCaptureBlock * kPackedFrameBytes; // 54

// A playback block is one file chunk of up to ten frames, 300 ms, and fills one device buffer.
inline constexpr int kFramesPerPlaybackBlock = 10;
inline constexpr int kPlaybackBlockSamples = kPlaybackBufferSamples;
static_assert(kPlaybackBlockSamples == kFramesPerPlaybackBlock * kFrameSamples);
inline constexpr int kReadChunkBytes = kFramesPerPlaybackBlock * kPackedFrameBytes; // 180

// Each channel allocates ten block buffers; the capture ring uses all ten (900 ms of speech), the
// playback ring two (600 ms), since decoding runs ahead of playback anyway.
inline constexpr int kChannelBuffers = 10;
inline constexpr int kCaptureRingSlots = 10;
inline constexpr int kPlaybackRingSlots = 2;
static_assert(kCaptureRingSlots <= kChannelBuffers && kPlaybackRingSlots <= kChannelBuffers);

// Counters of a ring sit on cache lines of their own (GCC 12 warns on the standard constant).
inline constexpr std::size_t kCacheLine = 64;

// Sensitivity of the encoder's voice-activity decision while recording.
inline constexpr std::int16_t kEncoderSensitivity = 50;

// Error text of a direction, terminator included, and the name of the file to play.
inline constexpr int kErrorTextSize = 257;
inline constexpr int kPlayFileNameSize = 4095;

// How long Stop and the end of a thread wait for another thread before going on (they still join
// it before freeing anything it uses).
inline constexpr std::chrono::milliseconds kThreadEndTimeout{500};
// How long the capture thread waits for the recording file before opening the device anyway.
inline constexpr std::chrono::milliseconds kFileReadyTimeout{500};
// How long each playback-side thread waits for its partner at the start.
inline constexpr std::chrono::milliseconds kStartBarrierTimeout{500};
// The encoder thread's polling interval: it takes whatever the capture ring holds, then waits this long.
inline constexpr std::chrono::milliseconds kEncoderPollInterval{50};
// The playback engine's drain time, kDrainTimeout, belongs to the audio layer (EngineLinks.h).

} // namespace velmar
