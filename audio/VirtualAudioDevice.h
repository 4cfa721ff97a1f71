// The in-process sound card of the tests (and of demos without one): input devices capture from a
// sample source the test gives, output devices play into a sink the test reads back. Buffers finish
// in real time or as fast as the engines take them, the number of devices can be zero, and any
// operation can be made to fail at a chosen call, so every path of the engines runs without a sound
// card and deterministically.
#pragma once

#include "audio/AudioDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace velmar {

enum class Pacing {
    RealTime,   // a buffer takes as long as its samples last
    Accelerated // a buffer finishes as soon as the device thread gets to it
};

// The operations that can be made to fail.
enum class DeviceOperation {
    GetCaps,
    Open,
    Prepare,
    Queue,
    Start,
    Pause,
    Restart,
    Reset,
    Close,
    AllocateMemory,
    // The stream underneath, on the device's own thread: starting it, and each chunk of samples it
    // moves (one per buffer when accelerated, 20 ms when real time). A failure here is a device that
    // dies during a run.
    StartStream,
    Transfer
};

struct VirtualAudioConfig {
    int inputDevices = 1;
    int outputDevices = 1;
    Pacing pacing = Pacing::Accelerated;
    // Captured in order by every input device of the backend; silence follows its end.
    std::vector<std::int16_t> captureSource{};
    // When above 0, input devices fill only as many buffers as have been granted: this many at the
    // start, plus those given by GrantCapture. Lets a test hold capture to the pace of its consumer.
    int captureCredit = 0;
    // The same for output devices and the buffers they finish playing (GrantPlayback).
    int playbackCredit = 0;
};

// The `failingCall`-th call (counting from 1 over the backend's life) of `operation` in `direction`
// returns `result` and does nothing.
struct DeviceFault {
    AudioDirection direction = AudioDirection::Output;
    DeviceOperation operation = DeviceOperation::Open;
    int failingCall = 1;
    DeviceResult result = DeviceResult::Error;
};

class CVirtualAudioDevice;

// Thread contract: every member may be called from any thread.
class CVirtualAudioBackend : public CAudioBackend {
public:
    explicit CVirtualAudioBackend(VirtualAudioConfig config = {});
    ~CVirtualAudioBackend() override;
    CVirtualAudioBackend(const CVirtualAudioBackend&) = delete;
    CVirtualAudioBackend& operator=(const CVirtualAudioBackend&) = delete;

    std::unique_ptr<CAudioDevice> CreateDevice(AudioDirection direction) override;

    void InjectFault(const DeviceFault& fault);
    // Allows input devices `buffers` more buffers (with a capture credit configured).
    void GrantCapture(int buffers);
    // Allows output devices `buffers` more buffers (with a playback credit configured).
    void GrantPlayback(int buffers);

    std::vector<std::int16_t> PlayedSamples() const;
    std::int64_t CapturedSamples() const;
    int CallCount(AudioDirection direction, DeviceOperation operation) const;
    // Device objects alive and devices open now; both 0 once every engine is gone.
    int LiveDevices() const;
    int OpenDevices() const;

    // Wait until so many samples have been captured or played; false on time-out.
    bool WaitForCaptured(std::int64_t samples, std::chrono::milliseconds timeout);
    bool WaitForPlayed(std::int64_t samples, std::chrono::milliseconds timeout);
    // Wait until `operation` has completed successfully so many times in `direction` (its effect on
    // the device has happened, not just begun); false on time-out.
    bool WaitForCalls(AudioDirection direction, DeviceOperation operation, int count,
                      std::chrono::milliseconds timeout);

private:
    friend class CVirtualAudioDevice;

    // Counts the call; the fault's result if this call is to fail, else Ok.
    DeviceResult Call(AudioDirection direction, DeviceOperation operation);
    // Counts a call that was let through, once it has done its work.
    void Completed(AudioDirection direction, DeviceOperation operation);

    const VirtualAudioConfig config;
    mutable std::mutex mutex;
    std::condition_variable changed; // samples moved, credit granted, a call counted, a transfer interrupted
    std::vector<DeviceFault> faults;
    std::map<std::pair<AudioDirection, DeviceOperation>, int> calls;          // attempted
    std::map<std::pair<AudioDirection, DeviceOperation>, int> completedCalls; // let through and done
    std::vector<std::int16_t> played;
    std::int64_t captured = 0;
    std::int64_t captureGranted = 0;
    std::int64_t captureBuffersFilled = 0;
    std::int64_t playbackGranted = 0;
    std::int64_t playbackBuffersPlayed = 0;
    int liveDevices = 0;
    int openDevices = 0;
};

} // namespace velmar
