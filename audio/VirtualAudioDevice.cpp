#include "audio/VirtualAudioDevice.h"

#include "audio/BufferQueueDevice.h"

#include <algorithm>
#include <climits>

namespace velmar {

// One virtual device: the shared buffer queue over a stream that reads the backend's source or
// writes its sink.
class CVirtualAudioDevice final : public CBufferQueueDevice {
public:
    CVirtualAudioDevice(CVirtualAudioBackend& owner, AudioDirection deviceDirection)
        : CBufferQueueDevice(deviceDirection)
        , backend(owner) {
        std::lock_guard lock(backend.mutex);
        ++backend.liveDevices;
    }

    ~CVirtualAudioDevice() override {
        Shutdown();
        std::lock_guard lock(backend.mutex);
        --backend.liveDevices;
    }

    int DeviceCount() override {
        return Direction() == AudioDirection::Input ? backend.config.inputDevices
                                                    : backend.config.outputDevices;
    }

    DeviceResult GetCaps(DeviceCaps& caps) override {
        if (const DeviceResult fault = backend.Call(Direction(), DeviceOperation::GetCaps);
            fault != DeviceResult::Ok) {
            return fault;
        }
        caps.name = Direction() == AudioDirection::Input ? "Virtual input" : "Virtual output";
        caps.channels = 1;
        return DeviceResult::Ok;
    }

    DeviceResult Open(const PcmFormat& format, CEvent& notify) override {
        return Checked(DeviceOperation::Open, [&] { return CBufferQueueDevice::Open(format, notify); });
    }
    DeviceResult Prepare(DeviceBuffer& buffer) override {
        return Checked(DeviceOperation::Prepare, [&] { return CBufferQueueDevice::Prepare(buffer); });
    }
    DeviceResult Queue(DeviceBuffer& buffer) override {
        return Checked(DeviceOperation::Queue, [&] { return CBufferQueueDevice::Queue(buffer); });
    }
    DeviceResult Start() override {
        return Checked(DeviceOperation::Start, [&] { return CBufferQueueDevice::Start(); });
    }
    DeviceResult Pause() override {
        return Checked(DeviceOperation::Pause, [&] { return CBufferQueueDevice::Pause(); });
    }
    DeviceResult Restart() override {
        return Checked(DeviceOperation::Restart, [&] { return CBufferQueueDevice::Restart(); });
    }
    DeviceResult Reset() override {
        return Checked(DeviceOperation::Reset, [&] { return CBufferQueueDevice::Reset(); });
    }
    DeviceResult Close() override {
        return Checked(DeviceOperation::Close, [&] { return CBufferQueueDevice::Close(); });
    }

    std::string ErrorText(DeviceResult result) const override { return DeviceResultText(result); }

    BufferMemory AllocateMemory(std::size_t bytes) override {
        if (backend.Call(Direction(), DeviceOperation::AllocateMemory) != DeviceResult::Ok) {
            return BufferMemory();
        }
        return BufferMemory(static_cast<std::int16_t*>(std::calloc(bytes, 1)));
    }

protected:
    DeviceResult OpenStream(const PcmFormat& format) override {
        const PcmFormat speech{};
        if (format.formatTag != speech.formatTag || format.channels != speech.channels ||
            format.samplesPerSec != speech.samplesPerSec || format.bitsPerSample != speech.bitsPerSample) {
            return DeviceResult::BadFormat;
        }
        std::lock_guard lock(backend.mutex);
        ++backend.openDevices;
        return DeviceResult::Ok;
    }

    void CloseStream() noexcept override {
        std::lock_guard lock(backend.mutex);
        --backend.openDevices;
    }

    DeviceResult StartStream() override {
        if (const DeviceResult fault = backend.Call(Direction(), DeviceOperation::StartStream);
            fault != DeviceResult::Ok) {
            return fault;
        }
        streamClock = std::chrono::steady_clock::now();
        return DeviceResult::Ok;
    }

    void StopStream(bool /*drain*/) noexcept override {}

    DeviceResult Transfer(std::span<std::int16_t> samples, std::uint64_t startGeneration) override {
        if (const DeviceResult fault = backend.Call(Direction(), DeviceOperation::Transfer);
            fault != DeviceResult::Ok) {
            return fault;
        }
        std::unique_lock lock(backend.mutex);
        const auto interrupted = [&] { return Generation() != startGeneration; };
        const bool input = Direction() == AudioDirection::Input;
        if (input && backend.config.captureCredit > 0) {
            backend.changed.wait(
                lock, [&] { return interrupted() || backend.captureBuffersFilled < backend.captureGranted; });
        }
        if (!input && backend.config.playbackCredit > 0) {
            backend.changed.wait(lock, [&] {
                return interrupted() || backend.playbackBuffersPlayed < backend.playbackGranted;
            });
        }
        if (backend.config.pacing == Pacing::RealTime) {
            streamClock += std::chrono::microseconds(static_cast<std::int64_t>(samples.size()) * 1'000'000 /
                                                     kSampleRate);
            backend.changed.wait_until(lock, streamClock, interrupted);
        }
        if (interrupted()) {
            return DeviceResult::Error;
        }
        if (!input) {
            backend.played.insert(backend.played.end(), samples.begin(), samples.end());
            ++backend.playbackBuffersPlayed;
        } else {
            const std::vector<std::int16_t>& source = backend.config.captureSource;
            for (std::int16_t& sample : samples) {
                const auto at = static_cast<std::size_t>(backend.captured++);
                sample = at < source.size() ? source[at] : std::int16_t{0};
            }
            ++backend.captureBuffersFilled;
        }
        backend.changed.notify_all();
        return DeviceResult::Ok;
    }

    void InterruptTransfer() noexcept override {
        // Taking the lock orders this after any predicate check that saw the old generation.
        std::lock_guard lock(backend.mutex);
        backend.changed.notify_all();
    }

    int ChunkSamples() const override {
        // Real time moves 20 ms at a time so a starved input loses little; accelerated moves the
        // whole remainder of a buffer at once, so one transfer is one buffer.
        return backend.config.pacing == Pacing::RealTime ? kSampleRate / 50 : INT_MAX;
    }

    bool CapturesWhileStarved() const override { return backend.config.pacing == Pacing::RealTime; }

private:
    static constexpr int kSampleRate = 8000;

    template <typename Operation> DeviceResult Checked(DeviceOperation operation, Operation&& run) {
        if (const DeviceResult fault = backend.Call(Direction(), operation); fault != DeviceResult::Ok) {
            return fault;
        }
        const DeviceResult result = run();
        backend.Completed(Direction(), operation);
        return result;
    }

    CVirtualAudioBackend& backend;
    std::chrono::steady_clock::time_point streamClock{}; // device thread only
};

CVirtualAudioBackend::CVirtualAudioBackend(VirtualAudioConfig virtualConfig)
    : config(std::move(virtualConfig))
    , captureGranted(config.captureCredit)
    , playbackGranted(config.playbackCredit) {
}

CVirtualAudioBackend::~CVirtualAudioBackend() = default;

std::unique_ptr<CAudioDevice> CVirtualAudioBackend::CreateDevice(AudioDirection direction) {
    return std::make_unique<CVirtualAudioDevice>(*this, direction);
}

void CVirtualAudioBackend::InjectFault(const DeviceFault& fault) {
    std::lock_guard lock(mutex);
    faults.push_back(fault);
}

void CVirtualAudioBackend::GrantCapture(int buffers) {
    std::lock_guard lock(mutex);
    captureGranted += buffers;
    changed.notify_all();
}

void CVirtualAudioBackend::GrantPlayback(int buffers) {
    std::lock_guard lock(mutex);
    playbackGranted += buffers;
    changed.notify_all();
}

bool CVirtualAudioBackend::WaitForCalls(AudioDirection direction, DeviceOperation operation, int count,
                                        std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] {
        const auto found = completedCalls.find({direction, operation});
        return found != completedCalls.end() && found->second >= count;
    });
}

void CVirtualAudioBackend::Completed(AudioDirection direction, DeviceOperation operation) {
    std::lock_guard lock(mutex);
    ++completedCalls[{direction, operation}];
    changed.notify_all();
}

std::vector<std::int16_t> CVirtualAudioBackend::PlayedSamples() const {
    std::lock_guard lock(mutex);
    return played;
}

std::int64_t CVirtualAudioBackend::CapturedSamples() const {
    std::lock_guard lock(mutex);
    return captured;
}

int CVirtualAudioBackend::CallCount(AudioDirection direction, DeviceOperation operation) const {
    std::lock_guard lock(mutex);
    const auto found = calls.find({direction, operation});
    return found == calls.end() ? 0 : found->second;
}

int CVirtualAudioBackend::LiveDevices() const {
    std::lock_guard lock(mutex);
    return liveDevices;
}

int CVirtualAudioBackend::OpenDevices() const {
    std::lock_guard lock(mutex);
    return openDevices;
}

bool CVirtualAudioBackend::WaitForCaptured(std::int64_t samples, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return captured >= samples; });
}

bool CVirtualAudioBackend::WaitForPlayed(std::int64_t samples, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout,
                            [&] { return static_cast<std::int64_t>(played.size()) >= samples; });
}

DeviceResult CVirtualAudioBackend::Call(AudioDirection direction, DeviceOperation operation) {
    std::lock_guard lock(mutex);
    const int call = ++calls[{direction, operation}];
    changed.notify_all();
    for (const DeviceFault& fault : faults) {
        if (fault.direction == direction && fault.operation == operation && fault.failingCall == call) {
            return fault.result;
        }
    }
    return DeviceResult::Ok;
}

} // namespace velmar
