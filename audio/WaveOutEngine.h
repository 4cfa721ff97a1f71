// Drives the sound card's output during playback: opens the default output device for 8000 Hz 16-bit
// mono, keeps two 4800-byte buffers in flight, fills them from the playback side's decoded blocks and
// ends after the block with the end mark. Lives on the playback thread, which creates it, runs it and
// deletes it; Pause, Restart, IsPaused and ResetDevice are called on the window's thread meanwhile.
#pragma once

#include "audio/AudioDevice.h"
#include "audio/EngineLinks.h"
#include "audio/Event.h"

#include <array>
#include <atomic>
#include <memory>

namespace velmar {

class CWaveOutEngine {
public:
    explicit CWaveOutEngine(CAudioBackend& backend);
    virtual ~CWaveOutEngine();
    CWaveOutEngine(const CWaveOutEngine&) = delete;
    CWaveOutEngine& operator=(const CWaveOutEngine&) = delete;

    // Playback thread. Open returns the device's result code (0 on success).
    DeviceResult Open(CPlaybackLink& link);
    void Run(CPlaybackLink& link);
    void Close(CPlaybackLink& link);

    // Window's thread, while Run runs.
    void Pause();
    void Restart();
    bool IsPaused() const { return paused.load(std::memory_order_acquire); }
    // Ends the loop: the device hands every queued buffer back and the loop closes it.
    void ResetDevice();

private:
    bool AllocHeaders(CPlaybackLink& link);
    void FreeHeaders();
    bool AllBuffersDone() const;
    void PlayOut();
    // Waits until buffer `index` is back from the device (or a reset ends the run).
    void AwaitBuffer(int index);
    // The device failed at `result`: reset and close it, free the buffers, store the text.
    void Abandon(CPlaybackLink& link, DeviceResult result);

    const PcmFormat format{};
    DeviceCaps caps;
    // Declared before the device: the device signals it until it is closed.
    CEvent doneEvent{EventReset::Manual};
    std::unique_ptr<CAudioDevice> device;
    bool deviceOpen = false; // playback thread only
    std::array<BufferMemory, kPlaybackDeviceBuffers> dataMem;
    std::array<DeviceBuffer, kPlaybackDeviceBuffers> headers;
    std::atomic<bool> paused{false};
    bool lastQueued = false; // playback thread only
    bool drained = false;    // playback thread only
    // Written by ResetDevice on the window's thread, read by the loop.
    std::atomic<bool> resetRequested{false};
};

} // namespace velmar
