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
    paused.store(false, std::memory_order_release);
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
    lastQueued = false;
    drained = false;
    doneEvent.Set(); // the first wait of the loop passes at once, so both buffers go out
    return DeviceResult::Ok;
}

void CWaveOutEngine::Run(CPlaybackLink& link) {
    // resetRequested starts clear with the engine and is never cleared: a Stop that arrives while
    // the device is still being opened must not be forgotten.
    link.MarkPlaying();
    if (Open(link) != DeviceResult::Ok) {
        if (deviceOpen) {
            (void)device->Reset();
            (void)device->Close();
            deviceOpen = false;
        }
        FreeHeaders();
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
        std::span<std::int16_t, kPlaybackBufferSamples> destination(
            dataMem[static_cast<std::size_t>(index)].get(), kPlaybackBufferSamples);
        int count = 0;
        bool endMark = lastQueued;
        bool nothing = link.TakeDecoded(destination, count, endMark);
        if (nothing) {
            link.WaitPlayData();
            nothing = link.TakeDecoded(destination, count, endMark);
        }
        if (nothing || (count == 0 && !endMark)) {
            if (link.FeedEnded()) {
                // The file side ended without an end block (an error or an abort): nothing more
                // will come, so the run is over.
                lastQueued = true;
                drained = true;
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
            const DeviceResult result = device->Queue(header);
            if (result != DeviceResult::Ok) {
                Abandon(link, result);
                return;
            }
            if (lastQueued) {
                break;
            }
        } else {
            drained = true; // an empty end block
            break;
        }
        index = 1 - index;
        AwaitBuffer(index);
    }
    Close(link);
}

void CWaveOutEngine::AwaitBuffer(int index) {
    const DeviceBuffer& next = headers[static_cast<std::size_t>(index)];
    // One signal may stand for several finished buffers and a reset signals as well, so the wait
    // repeats until the buffer to be refilled is really back: its samples are never written while
    // the device may still read them.
    do {
        doneEvent.Wait();
        doneEvent.Reset();
    } while ((next.flags.load(std::memory_order_acquire) & kBufferInQueue) != 0 &&
             !resetRequested.load(std::memory_order_acquire));
}

void CWaveOutEngine::Close(CPlaybackLink& link) {
    // After a reset every buffer is back already; only a natural end leaves sound to play out.
    if (lastQueued && !resetRequested.load(std::memory_order_acquire)) {
        PlayOut();
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
    paused.store(true, std::memory_order_release);
    (void)device->Pause();
}

void CWaveOutEngine::Restart() {
    paused.store(false, std::memory_order_release);
    (void)device->Restart();
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

// The two buffers still queued at the end of a file may hold 600 ms of sound, more than two fixed
// drain allowances: resetting after those would cut the end off every recording. So each wait is
// bounded by the sound still queued plus the allowance; a device that stops handing buffers back
// (or a paused one) still cannot hold the thread for long.
void CWaveOutEngine::PlayOut() {
    while (!AllBuffersDone() && !resetRequested.load(std::memory_order_acquire)) {
        int queuedBytes = 0;
        for (const DeviceBuffer& header : headers) {
            if ((header.flags.load(std::memory_order_acquire) & kBufferInQueue) != 0) {
                queuedBytes += header.bufferLength;
            }
        }
        const std::chrono::milliseconds queued{queuedBytes * 1000LL / (kDeviceSampleRate * kBytesPerSample)};
        if (!doneEvent.WaitFor(queued + kDrainTimeout)) {
            return;
        }
        doneEvent.Reset();
    }
}

bool CWaveOutEngine::AllBuffersDone() const {
    for (const DeviceBuffer& header : headers) {
        if ((header.flags.load(std::memory_order_acquire) & kBufferInQueue) != 0) {
            return false;
        }
    }
    return true;
}

void CWaveOutEngine::Abandon(CPlaybackLink& link, DeviceResult result) {
    (void)device->Reset();
    (void)device->Close();
    deviceOpen = false;
    FreeHeaders();
    link.SetWaveOutError(*device, result);
    link.RaiseError();
}

} // namespace velmar
