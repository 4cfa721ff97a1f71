// Drives the sound card's input during recording: opens the default input device for 8000 Hz 16-bit
// mono, keeps four 1440-byte buffers queued and hands every completely filled one to the capture side.
// Pausing resets the device and waits; resuming starts it again. Lives on the capture thread, which
// creates it, runs it and deletes it; RequestStop, Pause, Resume and IsPaused are called on the
// window's thread meanwhile.
#pragma once

#include "audio/AudioDevice.h"
#include "audio/EngineLinks.h"
#include "audio/Event.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace velmar {

class CWaveInEngine {
public:
    explicit CWaveInEngine(CAudioBackend& backend);
    virtual ~CWaveInEngine();
    CWaveInEngine(const CWaveInEngine&) = delete;
    CWaveInEngine& operator=(const CWaveInEngine&) = delete;

    // Capture thread. Open returns the device's result code (0 on success).
    DeviceResult Open(CCaptureLink& link);
    void Run(CCaptureLink& link);
    void Close(CCaptureLink& link);

    // Window's thread, while Run runs. Each takes effect at the loop's next wake-up.
    void RequestStop(CCaptureLink& link);
    void Pause();
    void Resume();
    bool IsPaused() const { return paused.load(std::memory_order_acquire); }

private:
    // One capture cycle from the start of the device to its reset; false when the run must end
    // at once (the device has been given up).
    bool CaptureCycle(CCaptureLink& link);
    // Neither stop nor pause has been asked for.
    bool CycleGoesOn(CCaptureLink& link) const;
    // Passes the completely filled buffers, in order, to the capture side and queues them again
    // unless `requeue` is false (after a reset, when the next cycle queues every buffer afresh).
    void HandOverFilled(CCaptureLink& link, bool requeue = true);
    // After a device failure: passes the whole frames of the buffer it was filling.
    void HandOverPartial(CCaptureLink& link);
    void Requeue();
    void FreeBuffers();
    // The device failed at `result` during a run: close it and store the text.
    void Abandon(CCaptureLink& link, DeviceResult result);

    // Auto-reset; wakes a paused loop (resume, stop). The requests themselves are `paused` and the
    // stop event, which the loop reads before every wait.
    CEvent controlEvent{EventReset::Auto};
    const PcmFormat format{};
    DeviceCaps caps;
    // Auto-reset; given to the device, which signals it for every buffer it hands back. Declared
    // before the device, which signals it until it is closed.
    CEvent deviceEvent{EventReset::Auto};
    std::unique_ptr<CAudioDevice> device;
    bool deviceOpen = false; // capture thread only
    std::array<BufferMemory, kCaptureDeviceBuffers> dataMem;
    std::array<DeviceBuffer, kCaptureDeviceBuffers> headers;
    int nextIndex = 0; // buffer expected to be filled next; capture thread only
    // Filled buffers waiting to be queued again, in the order they were filled; capture thread only.
    std::array<int, kCaptureDeviceBuffers> requeueList{};
    int requeueCount = 0;
    // Written on the window's thread before it signals the events; read by the loop before each wait.
    std::atomic<bool> paused{false};
    // Counts Pause and Resume calls: a cycle ends when it changes, so a press is never lost even
    // when the next one undoes it before the loop looks.
    std::atomic<std::uint32_t> controlRequests{0};
    std::uint32_t cycleRequests = 0; // the count the running cycle began with; capture thread only
};

} // namespace velmar
