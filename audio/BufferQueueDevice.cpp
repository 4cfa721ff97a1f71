#include "audio/BufferQueueDevice.h"

#include "audio/Event.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace velmar {

CBufferQueueDevice::CBufferQueueDevice(AudioDirection deviceDirection)
    : direction(deviceDirection) {
}

// A backend's destructor has called Shutdown; the stream hooks are gone by now.
CBufferQueueDevice::~CBufferQueueDevice() = default;

void CBufferQueueDevice::Shutdown() noexcept {
    // Qualified: a backend's own Close may count calls or fail on purpose; this one must close.
    (void)CBufferQueueDevice::Close(); // InvalidHandle when it was not open: nothing to do
}

DeviceResult CBufferQueueDevice::Open(const PcmFormat& format, CEvent& notify) {
    std::unique_lock lock(mutex);
    if (opened) {
        return DeviceResult::Allocated;
    }
    const DeviceResult result = OpenStream(format);
    if (result != DeviceResult::Ok) {
        return result;
    }
    notifyEvent = &notify;
    holdOff = false;
    started = false;
    paused = false;
    closing = false;
    busy = false;
    streamRunning = false;
    failure = DeviceResult::Ok;
    queueHead = 0;
    queueSize = 0;
    headOffset = 0;
    constexpr int kLargestScratch = 4096;
    starvedScratch.assign(static_cast<std::size_t>(std::clamp(ChunkSamples(), 1, kLargestScratch)), 0);
    // Thread creation reports failure only by exception; it is the one place we catch one.
    try {
        worker = std::jthread([this] { DeviceThread(); });
    } catch (const std::system_error&) {
        CloseStream();
        notifyEvent = nullptr;
        return DeviceResult::NoMemory;
    }
    opened = true;
    notifyEvent->Set(); // "opened"
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Prepare(DeviceBuffer& buffer) {
    std::lock_guard lock(mutex);
    if (!opened) {
        return DeviceResult::InvalidHandle;
    }
    if (buffer.data == nullptr || buffer.bufferLength <= 0 || buffer.bufferLength % 2 != 0) {
        return DeviceResult::InvalidParameter;
    }
    buffer.flags.fetch_or(kBufferPrepared, std::memory_order_relaxed); // the engine's own flag bit
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Queue(DeviceBuffer& buffer) {
    std::lock_guard lock(mutex);
    if (!opened) {
        return DeviceResult::InvalidHandle;
    }
    const unsigned flags = buffer.flags.load(std::memory_order_acquire);
    if ((flags & kBufferPrepared) == 0) {
        return DeviceResult::Unprepared;
    }
    if ((flags & kBufferInQueue) != 0) {
        return DeviceResult::StillPlaying;
    }
    if (queueSize == kMaxQueued) {
        return DeviceResult::NoMemory;
    }
    buffer.bytesRecorded.store(0, std::memory_order_relaxed);
    buffer.flags.store((flags | kBufferInQueue) & ~kBufferDone, std::memory_order_relaxed);
    queue[static_cast<std::size_t>((queueHead + queueSize) % kMaxQueued)] = &buffer;
    ++queueSize;
    wake.notify_one();
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Start() {
    std::lock_guard lock(mutex);
    if (!opened) {
        return DeviceResult::InvalidHandle;
    }
    if (direction != AudioDirection::Input) {
        return DeviceResult::NotSupported;
    }
    started = true;
    wake.notify_one();
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Pause() {
    return SetOutputPaused(true); // the device thread stops after its current chunk and drains the stream
}

DeviceResult CBufferQueueDevice::Restart() {
    return SetOutputPaused(false);
}

DeviceResult CBufferQueueDevice::SetOutputPaused(bool pause) {
    std::lock_guard lock(mutex);
    if (!opened) {
        return DeviceResult::InvalidHandle;
    }
    if (direction != AudioDirection::Output) {
        return DeviceResult::NotSupported;
    }
    paused = pause;
    wake.notify_one();
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Reset() {
    std::unique_lock lock(mutex);
    if (!opened || closing) {
        return DeviceResult::InvalidHandle;
    }
    generation.fetch_add(1, std::memory_order_acq_rel);
    InterruptTransfer();
    AwaitIdle(lock);
    if (!opened || closing) {
        // Closed while this call waited: Close has handed everything back.
        return DeviceResult::InvalidHandle;
    }
    // Queued buffers are thrown away; an output with nothing queued plays out what it was given.
    StopStreamLocked(lock, direction == AudioDirection::Output && queueSize == 0);
    started = false;
    HandBackAll();
    holdOff = false;
    wake.notify_one();
    // Like the classic service, a reset always signals: a loop waiting for a buffer wakes up.
    notifyEvent->Set();
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::Close() {
    std::unique_lock lock(mutex);
    if (!opened || closing) {
        return DeviceResult::InvalidHandle;
    }
    generation.fetch_add(1, std::memory_order_acq_rel);
    InterruptTransfer();
    closing = true;
    wake.notify_one();
    AwaitIdle(lock);
    lock.unlock();
    worker.join();
    lock.lock();
    if (streamRunning) {
        StopStream(false);
        streamRunning = false;
    }
    HandBackAll();
    CloseStream();
    opened = false;
    CEvent* event = std::exchange(notifyEvent, nullptr);
    event->Set(); // "closed"
    return DeviceResult::Ok;
}

DeviceResult CBufferQueueDevice::StreamFailure() {
    std::lock_guard lock(mutex);
    return failure;
}

bool CBufferQueueDevice::WantsTransfer() const {
    if (failure != DeviceResult::Ok) {
        return false;
    }
    if (direction == AudioDirection::Input) {
        return started && (queueSize > 0 || CapturesWhileStarved());
    }
    return !paused && queueSize > 0;
}

void CBufferQueueDevice::AwaitIdle(std::unique_lock<std::mutex>& lock) {
    // Keeps the device thread from taking up new work while the caller waits for it to finish the
    // current piece; the caller clears holdOff when it is done.
    holdOff = true;
    idle.wait(lock, [this] { return !busy; });
}

void CBufferQueueDevice::StopStreamLocked(std::unique_lock<std::mutex>& lock, bool drain) {
    if (!streamRunning) {
        return;
    }
    (void)lock; // held by the caller, with the device thread idle
    StopStream(drain);
    streamRunning = false;
}

void CBufferQueueDevice::Complete(DeviceBuffer& buffer, int samples) {
    buffer.bytesRecorded.store(samples * 2, std::memory_order_release);
    const unsigned flags = buffer.flags.load(std::memory_order_relaxed);
    buffer.flags.store((flags & ~kBufferInQueue) | kBufferDone, std::memory_order_release);
}

void CBufferQueueDevice::StopStreamOnDeviceThread(std::unique_lock<std::mutex>& lock, bool drain) {
    // Busy while unlocked: a reset or close waits for the stream call to finish.
    busy = true;
    lock.unlock();
    StopStream(drain);
    lock.lock();
    busy = false;
    streamRunning = false;
    idle.notify_all();
}

void CBufferQueueDevice::Fail(std::unique_lock<std::mutex>& lock, DeviceResult result) {
    failure = result;
    if (streamRunning) {
        StopStreamOnDeviceThread(lock, false);
    }
    started = false;
    HandBackAll();
    notifyEvent->Set();
}

void CBufferQueueDevice::NoteInputPeak(std::span<const std::int16_t> samples) {
    int peak = 0;
    for (const std::int16_t sample : samples) {
        peak = std::max(peak, sample < 0 ? -static_cast<int>(sample) : static_cast<int>(sample));
    }
    int known = inputPeak.load(std::memory_order_relaxed);
    while (peak > known && !inputPeak.compare_exchange_weak(known, peak, std::memory_order_relaxed)) {
    }
}

void CBufferQueueDevice::HandBackAll() {
    for (int i = 0; i < queueSize; ++i) {
        DeviceBuffer* buffer = queue[static_cast<std::size_t>((queueHead + i) % kMaxQueued)];
        const int filled = i == 0 && direction == AudioDirection::Input ? headOffset : 0;
        Complete(*buffer, filled);
    }
    queueHead = 0;
    queueSize = 0;
    headOffset = 0;
}

void CBufferQueueDevice::DeviceThread() {
    std::unique_lock lock(mutex);
    for (;;) {
        const auto hasWork = [this] {
            return closing || (!holdOff && (WantsTransfer() || (paused && streamRunning)));
        };
        if (direction == AudioDirection::Output && streamRunning && !paused) {
            // An output that ran dry gets a moment for the next buffer before its stream stops, so
            // a buffer queued a little late does not cost a stop and a restart.
            if (!wake.wait_for(lock, kIdleGrace, hasWork)) {
                StopStreamOnDeviceThread(lock, true);
                continue;
            }
        } else {
            wake.wait(lock, hasWork);
        }
        if (closing) {
            return;
        }
        if (!WantsTransfer()) {
            // Paused output: let the stream play what it holds, then stop it until Restart.
            StopStreamOnDeviceThread(lock, true);
            continue;
        }
        const std::uint64_t startGeneration = Generation();
        busy = true;
        if (!streamRunning) {
            lock.unlock();
            const DeviceResult result = StartStream();
            lock.lock();
            if (result != DeviceResult::Ok) {
                busy = false;
                idle.notify_all();
                // A stream that cannot start is a failed device, not one that is merely slow: the
                // engine is told, instead of waiting for buffers that cannot finish.
                if (startGeneration == Generation() && !closing) {
                    Fail(lock, result);
                }
                continue;
            }
            streamRunning = true;
        }
        DeviceBuffer* buffer = queueSize > 0 ? queue[static_cast<std::size_t>(queueHead)] : nullptr;
        std::span<std::int16_t> target;
        if (buffer != nullptr) {
            const int total = buffer->bufferLength / 2;
            const int count = std::min(ChunkSamples(), total - headOffset);
            target = std::span<std::int16_t>(buffer->data + headOffset, static_cast<std::size_t>(count));
        } else {
            target = std::span<std::int16_t>(starvedScratch);
        }
        lock.unlock();
        const DeviceResult transferred = Transfer(target, startGeneration);
        lock.lock();
        busy = false;
        idle.notify_all();
        if (transferred != DeviceResult::Ok) {
            // A transfer cut short by a reset or close is no failure; any other is. Nothing is
            // made up for it: no silence in place of input, no skipped output.
            if (startGeneration == Generation() && !closing) {
                Fail(lock, transferred);
            }
            continue;
        }
        if (direction == AudioDirection::Input) {
            NoteInputPeak(target);
        }
        if (buffer == nullptr || startGeneration != Generation()) {
            continue; // starved input, or a reset took the buffer back meanwhile
        }
        headOffset += static_cast<int>(target.size());
        if (headOffset < buffer->bufferLength / 2) {
            continue;
        }
        queueHead = (queueHead + 1) % kMaxQueued;
        --queueSize;
        headOffset = 0;
        // An output buffer is done once the stream has taken all of it; what the stream still holds
        // plays out unless a reset throws queued buffers away.
        Complete(*buffer, buffer->bufferLength / 2);
        notifyEvent->Set();
    }
}

} // namespace velmar
