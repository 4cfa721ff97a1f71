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
#include <cstdint>
#include <memory>
#include <mutex>

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
    // The places of the blocks in the device buffers, reported as each buffer comes back, oldest
    // first. Playback thread only.
    class HeardOrder {
    public:
        void Queued(int index, const BlockPlace& place);
        // The buffer queued longest ago whose place is not reported yet; -1 when none.
        int Oldest() const;
        BlockPlace Take(int index);

    private:
        std::array<BlockPlace, kPlaybackDeviceBuffers> places{};
        std::array<std::uint64_t, kPlaybackDeviceBuffers> order{}; // 0: nothing to report
        std::uint64_t sequence = 0;
    };

    bool AllocHeaders(CPlaybackLink& link);
    void FreeHeaders();
    void CloseAfterFailedOpen();
    int QueuedBuffers() const;
    // Lets the queued end of the file play out; true when a seek brought new blocks meanwhile.
    bool PlayOut(CPlaybackLink& link);
    // Waits until buffer `index` is back from the device (or a reset or failure ends the run).
    void AwaitBuffer(CPlaybackLink& link, int index);
    // Reports the places of the buffers the device has finished.
    void ReportHeard(CPlaybackLink& link);
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
    // Pause and Restart reach the device only once it is open and prepared (deviceReady); one made
    // before is applied by Open. The lock keeps the flag and the device's state in step.
    std::mutex pauseMutex;
    bool deviceReady = false; // guarded by pauseMutex
    std::atomic<bool> paused{false};
    HeardOrder heard;        // playback thread only
    bool lastQueued = false; // playback thread only
    bool drained = false;    // playback thread only
    // Written by ResetDevice on the window's thread, read by the loop.
    std::atomic<bool> resetRequested{false};
};

} // namespace velmar
