// The buffer-queue half of a device, shared by every backend: the queue of buffers the engine hands
// over, the device thread that plays or fills them in order and hands them back as done, and the
// start, pause, restart, reset and close rules around it. A backend supplies the stream underneath
// (open, start, stop, close) and the transfer of samples; everything a wave device promises about
// buffers and the notification event is kept here once.
#pragma once

#include "audio/AudioDevice.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace velmar {

class CBufferQueueDevice : public CAudioDevice {
public:
    DeviceResult Open(const PcmFormat& format, CEvent& notify) override;
    DeviceResult Prepare(DeviceBuffer& buffer) override;
    DeviceResult Queue(DeviceBuffer& buffer) override;
    DeviceResult Start() override;
    DeviceResult Pause() override;
    DeviceResult Restart() override;
    DeviceResult Reset() override;
    DeviceResult Close() override;
    DeviceResult StreamFailure() override;
    int TakeInputPeak() override { return inputPeak.exchange(-1, std::memory_order_relaxed); }

protected:
    explicit CBufferQueueDevice(AudioDirection deviceDirection);
    ~CBufferQueueDevice() override;

    // A derived destructor calls this first: the stream hooks below must not run once the derived
    // part is gone.
    void Shutdown() noexcept;

    AudioDirection Direction() const { return direction; }
    // Changes whenever a reset or close hands the queued buffers back; a transfer that waits (for
    // pacing, say) gives up when it changes.
    std::uint64_t Generation() const { return generation.load(std::memory_order_acquire); }

    // Stream hooks. OpenStream and CloseStream run on the caller of Open and Close; StartStream,
    // StopStream and Transfer run on the device thread or while it is idle; never two at once.
    virtual DeviceResult OpenStream(const PcmFormat& format) = 0;
    virtual void CloseStream() noexcept = 0;
    virtual DeviceResult StartStream() = 0;
    // `drain`: play what the stream holds before stopping (output); otherwise drop it.
    virtual void StopStream(bool drain) noexcept = 0;
    // Plays (output) or fills (input) `samples`, blocking as long as the stream needs. May return
    // early with an error once Generation() differs from `startGeneration`.
    virtual DeviceResult Transfer(std::span<std::int16_t> samples, std::uint64_t startGeneration) = 0;
    // Wakes a Transfer that waits on something of the backend's own, after Generation() changed.
    virtual void InterruptTransfer() noexcept {}
    // Largest number of samples moved by one Transfer call.
    virtual int ChunkSamples() const = 0;
    // An input stream that runs on while no buffer is queued (its samples are lost, as with a real
    // sound card); otherwise the device thread waits for a buffer.
    virtual bool CapturesWhileStarved() const = 0;

private:
    // Pause and Restart of an output stream.
    DeviceResult SetOutputPaused(bool pause);

    static constexpr int kMaxQueued = 16;
    // How long an output stream runs on without a buffer before it is stopped.
    static constexpr std::chrono::milliseconds kIdleGrace{100};

    void DeviceThread();
    bool WantsTransfer() const;
    void AwaitIdle(std::unique_lock<std::mutex>& lock);
    void HandBackAll();
    void NoteInputPeak(std::span<const std::int16_t> samples);
    void Complete(DeviceBuffer& buffer, int samples);
    void StopStreamLocked(std::unique_lock<std::mutex>& lock, bool drain);
    // The device thread stops the stream, letting go of the lock for the stream call.
    void StopStreamOnDeviceThread(std::unique_lock<std::mutex>& lock, bool drain);
    // The stream failed with `result` during a run that no reset interrupted: stop it, hand every
    // buffer back (an input buffer with the samples it got) and move nothing more until closed.
    void Fail(std::unique_lock<std::mutex>& lock, DeviceResult result);

    const AudioDirection direction;
    std::atomic<std::uint64_t> generation{0};
    // Largest input magnitude since TakeInputPeak last looked; -1 for none. Raised by the device
    // thread only.
    std::atomic<int> inputPeak{-1};

    // Everything below is guarded by mutex.
    std::mutex mutex;
    std::condition_variable wake; // device thread: work arrived, or closing
    std::condition_variable idle; // callers: the device thread left a stream call
    CEvent* notifyEvent = nullptr;
    bool opened = false;
    bool started = false; // input: Start was called since the last reset
    bool paused = false;  // output
    bool closing = false;
    bool busy = false;    // the device thread is inside a stream hook, unlocked
    bool holdOff = false; // a reset or close is waiting for the device thread
    bool streamRunning = false;
    DeviceResult failure = DeviceResult::Ok; // sticky until the device is closed
    std::array<DeviceBuffer*, kMaxQueued> queue{};
    int queueHead = 0;
    int queueSize = 0;
    int headOffset = 0; // samples of the front buffer already moved
    std::vector<std::int16_t> starvedScratch;
    std::jthread worker; // joined by Close and Shutdown
};

} // namespace velmar
