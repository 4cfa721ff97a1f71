#include "audio/WaveOutEngine.h"

#include <chrono>

namespace velmar {

CWaveOutEngine::CWaveOutEngine(CAudioBackend& backend)
    : device(backend.CreateDevice(AudioDirection::Output)) {
}

CWaveOutEngine::~CWaveOutEngine() {
    // The device goes first: it may still hold a buffer, and its memory must outlive that.
    if (deviceOpen) {
        (void)device->Reset();
        (void)device->Close();
        deviceOpen = false;
    }
    FreeHeaders();
}

DeviceResult CWaveOutEngine::Open(CPlaybackLink& link) {
    // `paused` is left as it is: a Pause pressed while the device opens holds from the start.
    if (device->DeviceCount() == 0) {
        link.SetErrorText(kNoDriverText);
        return DeviceResult::NoDriver;
    }
    DeviceResult result = device->GetCaps(caps);
    if (result != DeviceResult::Ok) {
        link.SetWaveOutError(*device, result);
        return result;
    }
    result = device->Open(format, doneEvent);
    if (result != DeviceResult::Ok) {
        link.SetWaveOutError(*device, result);
        return result;
    }
    deviceOpen = true;
    if (!AllocHeaders(link)) {
        return DeviceResult::NoMemory;
    }
    for (DeviceBuffer& header : headers) {
        header.bufferLength = kPlaybackBufferBytes;
        header.bytesRecorded.store(0, std::memory_order_relaxed);
        header.flags.store(kBufferDone, std::memory_order_relaxed);
        result = device->Prepare(header);
        if (result != DeviceResult::Ok) {
            link.SetWaveOutError(*device, result);
            return result;
        }
    }
    {
        // From here Pause and Restart reach the device; one made before applies now.
        std::lock_guard lock(pauseMutex);
        deviceReady = true;
        if (paused.load(std::memory_order_relaxed)) {
            (void)device->Pause();
        }
    }
    lastQueued = false;
    drained = false;
    heard = {};
    doneEvent.Set(); // the first wait of the loop passes at once, so both buffers go out
    return DeviceResult::Ok;
}

void CWaveOutEngine::Run(CPlaybackLink& link) {
    // resetRequested starts clear with the engine and is never cleared: a Stop that arrives while
    // the device is still being opened must not be forgotten.
    link.MarkPlaying();
    if (Open(link) != DeviceResult::Ok) {
        CloseAfterFailedOpen();
        link.RaiseError();
        return;
    }
    CEvent& stopPlayback = link.StopPlaybackEvent();
    int index = 0;
    while (!stopPlayback.WaitFor(std::chrono::milliseconds(0))) {
        if (link.ErrorRaised()) {
            ResetDevice();
            stopPlayback.Set();
        }
        if (resetRequested.load(std::memory_order_acquire)) {
            lastQueued = true;
            drained = true;
            break;
        }
        if (const DeviceResult failure = device->StreamFailure(); failure != DeviceResult::Ok) {
            Abandon(link, failure);
            return;
        }
        std::span<std::int16_t, kPlaybackBufferSamples> destination(
            dataMem[static_cast<std::size_t>(index)].get(), kPlaybackBufferSamples);
        int count = 0;
        bool endMark = lastQueued;
        BlockPlace place;
        bool nothing = link.TakeDecoded(destination, count, endMark, place);
        if (nothing) {
            link.WaitPlayData();
            nothing = link.TakeDecoded(destination, count, endMark, place);
        }
        if (nothing || (count == 0 && !endMark)) {
            if (link.FeedEnded()) {
                // The file side ended without an end block (an error or an abort): nothing more
                // will come, so the run is over once what is queued has played.
                lastQueued = true;
                break;
            }
            // Woken without a block (a seek emptied the ring, or a stop): look at stop, error and
            // reset again before waiting once more; the buffer was not queued, so no wait for it.
            continue;
        }
        lastQueued = endMark;
        if (count > 0) {
            DeviceBuffer& header = headers[static_cast<std::size_t>(index)];
            header.bufferLength = count * kBytesPerSample;
            heard.Queued(index, place);
            const DeviceResult result = device->Queue(header);
            if (result != DeviceResult::Ok) {
                Abandon(link, result);
                return;
            }
        }
        if (lastQueued) {
            // The end of the file is queued. Playing it out, the loop still listens: a seek made
            // now brings new blocks, and playback goes on from there.
            if (!PlayOut(link)) {
                break;
            }
            lastQueued = false;
            if (count == 0) {
                continue; // an empty end block: buffer `index` was not queued
            }
        }
        index = 1 - index;
        AwaitBuffer(link, index);
    }
    Close(link);
}

void CWaveOutEngine::CloseAfterFailedOpen() {
    if (deviceOpen) {
        (void)device->Reset();
        (void)device->Close();
        deviceOpen = false;
    }
    FreeHeaders();
}

void CWaveOutEngine::AwaitBuffer(CPlaybackLink& link, int index) {
    const DeviceBuffer& next = headers[static_cast<std::size_t>(index)];
    // One signal may stand for several finished buffers and a reset signals as well, so the wait
    // repeats until the buffer to be refilled is really back: its samples are never written while
    // the device may still read them.
    for (;;) {
        ReportHeard(link);
        if ((next.flags.load(std::memory_order_acquire) & kBufferInQueue) == 0 ||
            resetRequested.load(std::memory_order_acquire) || device->StreamFailure() != DeviceResult::Ok) {
            return;
        }
        doneEvent.Wait();
        doneEvent.Reset();
    }
}

void CWaveOutEngine::ReportHeard(CPlaybackLink& link) {
    // Oldest first: the buffers finish in the order they were queued.
    for (int pass = 0; pass < kPlaybackDeviceBuffers; ++pass) {
        const int oldest = heard.Oldest();
        if (oldest < 0 || (headers[static_cast<std::size_t>(oldest)].flags.load(std::memory_order_acquire) &
                           kBufferInQueue) != 0) {
            return;
        }
        link.ReportHeard(heard.Take(oldest));
    }
}

void CWaveOutEngine::Close(CPlaybackLink& link) {
    // After a reset every buffer is back already; an end without a play-out (the file side gave up)
    // still lets what is queued be heard.
    if (lastQueued && !drained && !resetRequested.load(std::memory_order_acquire)) {
        (void)PlayOut(link);
    }
    {
        std::lock_guard lock(pauseMutex);
        deviceReady = false;
    }
    if (deviceOpen) {
        const DeviceResult result = device->Reset();
        if (result != DeviceResult::Ok) {
            (void)device->Close();
            deviceOpen = false;
            FreeHeaders();
            link.SetWaveOutError(*device, result);
            link.RaiseError();
            return;
        }
    }
    if (deviceOpen) {
        const DeviceResult result = device->Close();
        if (result != DeviceResult::Ok) {
            link.SetWaveOutError(*device, result);
            link.RaiseError();
        }
        deviceOpen = false;
    }
    FreeHeaders();
}

void CWaveOutEngine::Pause() {
    std::lock_guard lock(pauseMutex);
    paused.store(true, std::memory_order_release);
    if (deviceReady) {
        (void)device->Pause();
    }
    doneEvent.Set(); // a play-out waiting for the last buffers stops counting time
}

void CWaveOutEngine::Restart() {
    std::lock_guard lock(pauseMutex);
    paused.store(false, std::memory_order_release);
    if (deviceReady) {
        (void)device->Restart();
    }
    doneEvent.Set();
}

void CWaveOutEngine::ResetDevice() {
    resetRequested.store(true, std::memory_order_release);
    (void)device->Reset();
    // Wakes the loop even when the reset could not reach the device (not open yet, or failing).
    doneEvent.Set();
}

bool CWaveOutEngine::AllocHeaders(CPlaybackLink& link) {
    for (BufferMemory& memory : dataMem) {
        memory = device->AllocateMemory(kPlaybackBufferBytes);
        if (!memory) {
            link.SetErrorText(kNoMemoryText);
            return false;
        }
    }
    for (std::size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = dataMem[i].get();
    }
    return true;
}

void CWaveOutEngine::FreeHeaders() {
    for (std::size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = nullptr;
        headers[i].flags.store(0, std::memory_order_relaxed);
        dataMem[i].reset();
    }
}

// The buffers still queued at the end of a file may hold 600 ms of sound, more than two fixed drain
// allowances: resetting after those would cut the end off every recording. So the wait is bounded by
// the sound still queued plus the allowance, counted afresh whenever a buffer comes back; a device
// that stops handing buffers back cannot hold the thread for long. While paused nothing is counted:
// the end is heard after Restart, not thrown away. True when new blocks arrived meanwhile (a seek).
bool CWaveOutEngine::PlayOut(CPlaybackLink& link) {
    using Clock = std::chrono::steady_clock;
    const auto allowance = [this] {
        int queuedBytes = 0;
        for (const DeviceBuffer& header : headers) {
            if ((header.flags.load(std::memory_order_acquire) & kBufferInQueue) != 0) {
                queuedBytes += header.bufferLength;
            }
        }
        return std::chrono::milliseconds{queuedBytes * 1000LL / (kDeviceSampleRate * kBytesPerSample)} +
               kDrainTimeout;
    };
    auto deadline = Clock::now() + allowance();
    int buffersOut = QueuedBuffers();
    for (;;) {
        ReportHeard(link);
        if (resetRequested.load(std::memory_order_acquire) || link.StopPlaybackEvent().IsSet() ||
            link.ErrorRaised() || device->StreamFailure() != DeviceResult::Ok) {
            return false;
        }
        if (link.HasDecoded()) {
            return true;
        }
        const int stillOut = QueuedBuffers();
        if (stillOut == 0) {
            ReportHeard(link); // the last buffer may have come back since the report above
            drained = true;
            // Nothing left to hear; a seek that comes now is too late to matter.
            return link.HasDecoded();
        }
        if (stillOut != buffersOut || paused.load(std::memory_order_acquire)) {
            buffersOut = stillOut;
            deadline = Clock::now() + allowance();
        } else if (Clock::now() >= deadline) {
            return false;
        }
        // Short waits: besides the device's signal, new blocks in the ring end this wait.
        if (doneEvent.WaitFor(kPlayOutPoll)) {
            doneEvent.Reset();
        }
    }
}

int CWaveOutEngine::QueuedBuffers() const {
    int queued = 0;
    for (const DeviceBuffer& header : headers) {
        if ((header.flags.load(std::memory_order_acquire) & kBufferInQueue) != 0) {
            ++queued;
        }
    }
    return queued;
}

void CWaveOutEngine::HeardOrder::Queued(int index, const BlockPlace& place) {
    places[static_cast<std::size_t>(index)] = place;
    order[static_cast<std::size_t>(index)] = ++sequence;
}

int CWaveOutEngine::HeardOrder::Oldest() const {
    int oldest = -1;
    for (int i = 0; i < kPlaybackDeviceBuffers; ++i) {
        const std::uint64_t queued = order[static_cast<std::size_t>(i)];
        if (queued != 0 && (oldest < 0 || queued < order[static_cast<std::size_t>(oldest)])) {
            oldest = i;
        }
    }
    return oldest;
}

BlockPlace CWaveOutEngine::HeardOrder::Take(int index) {
    order[static_cast<std::size_t>(index)] = 0;
    return places[static_cast<std::size_t>(index)];
}

void CWaveOutEngine::Abandon(CPlaybackLink& link, DeviceResult result) {
    {
        std::lock_guard lock(pauseMutex);
        deviceReady = false;
    }
    (void)device->Reset();
    (void)device->Close();
    deviceOpen = false;
    FreeHeaders();
    link.SetWaveOutError(*device, result);
    link.RaiseError();
}

} // namespace velmar
