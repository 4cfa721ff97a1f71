#include "audio/WaveInEngine.h"

#include <chrono>

namespace velmar {

CWaveInEngine::CWaveInEngine(CAudioBackend& backend)
    : device(backend.CreateDevice(AudioDirection::Input)) {
}

CWaveInEngine::~CWaveInEngine() {
    // The device goes first: a queued buffer's memory must outlive the device's use of it.
    if (deviceOpen) {
        (void)device->Reset();
        (void)device->Close();
        deviceOpen = false;
    }
    FreeBuffers();
}

DeviceResult CWaveInEngine::Open(CCaptureLink& link) {
    deviceOpen = false;
    if (device->DeviceCount() == 0) {
        link.SetErrorText(kNoDriverText);
        return DeviceResult::Error;
    }
    DeviceResult result = device->GetCaps(caps);
    if (result != DeviceResult::Ok) {
        link.SetWaveInError(*device, result);
        return result;
    }
    result = device->Open(format, deviceEvent);
    if (result != DeviceResult::Ok) {
        link.SetWaveInError(*device, result);
        return result;
    }
    deviceOpen = true;
    for (std::size_t i = 0; i < headers.size(); ++i) {
        dataMem[i] = device->AllocateMemory(kCaptureBufferBytes);
        if (!dataMem[i]) {
            link.SetErrorText(kNoMemoryText);
            return DeviceResult::NoMemory;
        }
        DeviceBuffer& header = headers[i];
        header.data = dataMem[i].get();
        header.bufferLength = kCaptureBufferBytes;
        header.bytesRecorded.store(0, std::memory_order_relaxed);
        header.flags.store(kBufferDone, std::memory_order_relaxed);
    }
    // The buffers are prepared and queued by Run, every time capture starts.
    return DeviceResult::Ok;
}

void CWaveInEngine::Run(CCaptureLink& link) {
    CEvent& stopCapture = link.StopCaptureEvent();
    link.MarkRecording();
    if (Open(link) != DeviceResult::Ok) {
        if (deviceOpen) {
            (void)device->Close();
            deviceOpen = false;
        }
        FreeBuffers();
        link.RaiseError();
        stopCapture.Set();
    }
    link.ResetFramesEncoded();
    // Stop and pause are states, read afresh before every wait, never signals that a wait could
    // consume or a reset could wipe: a request that arrives at any instant (while the device opens,
    // between two cycles) is seen at the next look. The events only cut waits short.
    while (!stopCapture.IsSet()) {
        if (paused.load(std::memory_order_acquire)) {
            controlEvent.Wait();
            continue;
        }
        if (!CaptureCycle(link)) {
            return;
        }
    }
    Close(link);
}

bool CWaveInEngine::CycleGoesOn(CCaptureLink& link) const {
    return !link.StopCaptureEvent().IsSet() && !paused.load(std::memory_order_acquire) &&
           controlRequests.load(std::memory_order_acquire) == cycleRequests;
}

bool CWaveInEngine::CaptureCycle(CCaptureLink& link) {
    CEvent& stopCapture = link.StopCaptureEvent();
    // A pause and resume in quick succession still reset and restart the device, as each press does.
    cycleRequests = controlRequests.load(std::memory_order_acquire);
    nextIndex = 0;
    // Every buffer is queued afresh below; none may stay listed from the cycle before.
    requeueCount = 0;
    DeviceResult result = device->Start();
    if (result != DeviceResult::Ok) {
        Abandon(link, result);
        return false;
    }
    for (DeviceBuffer& header : headers) {
        result = device->Prepare(header);
        if (result == DeviceResult::Ok) {
            result = device->Queue(header);
        }
        if (result != DeviceResult::Ok) {
            Abandon(link, result);
            return false;
        }
    }
    while (CycleGoesOn(link)) {
        const bool signalled = deviceEvent.WaitFor(kLevelInterval);
        if (const int peak = device->TakeInputPeak(); peak >= 0) {
            link.ReportLevel(peak);
        }
        if (!signalled) {
            continue;
        }
        if (link.ErrorRaised()) {
            stopCapture.Set();
            break;
        }
        // Looked at before the filled buffers: every buffer the device finished before it failed
        // is then among them.
        result = device->StreamFailure();
        HandOverFilled(link);
        if (result != DeviceResult::Ok) {
            // What the device filled before it failed is kept, down to the last whole frame of a
            // buffer it could not finish; nothing after it, and no silence in its place.
            HandOverPartial(link);
            Abandon(link, result);
            return false;
        }
    }
    // All queued buffers come back; a partly filled one is dropped.
    result = device->Reset();
    if (result != DeviceResult::Ok) {
        (void)device->Close();
        deviceOpen = false;
        link.SetWaveInError(*device, result);
        link.RaiseError();
        return false;
    }
    // A buffer the device filled while the stop or pause was being noticed holds speech captured
    // before it, like every other: it is kept, not dropped with the reset.
    if (!link.ErrorRaised()) {
        HandOverFilled(link, false);
    }
    return true;
}

void CWaveInEngine::HandOverFilled(CCaptureLink& link, bool requeue) {
    for (int i = 0; i < kCaptureDeviceBuffers; ++i) {
        DeviceBuffer& header = headers[static_cast<std::size_t>(nextIndex)];
        // Only a completely filled buffer counts; one cut short by a reset is dropped.
        if (header.bytesRecorded.load(std::memory_order_acquire) < kCaptureBufferBytes) {
            break;
        }
        link.PutCaptured(std::span<const std::int16_t>(header.data, kCaptureBufferSamples));
        header.bytesRecorded.store(0, std::memory_order_relaxed);
        if (requeue) {
            requeueList[static_cast<std::size_t>(requeueCount++)] = nextIndex;
            Requeue();
        }
        nextIndex = (nextIndex + 1) % kCaptureDeviceBuffers;
    }
}

void CWaveInEngine::HandOverPartial(CCaptureLink& link) {
    DeviceBuffer& header = headers[static_cast<std::size_t>(nextIndex)];
    const int samples = header.bytesRecorded.load(std::memory_order_acquire) / kBytesPerSample;
    const int whole = samples - samples % kCaptureGrainSamples;
    if (whole > 0 && whole < kCaptureBufferSamples) {
        link.PutCaptured(std::span<const std::int16_t>(header.data, static_cast<std::size_t>(whole)));
    }
    header.bytesRecorded.store(0, std::memory_order_relaxed);
}

void CWaveInEngine::Requeue() {
    // In list order until one fails; that one and those after it wait for the next device event.
    int queued = 0;
    while (queued < requeueCount) {
        DeviceBuffer& header =
            headers[static_cast<std::size_t>(requeueList[static_cast<std::size_t>(queued)])];
        if (device->Queue(header) != DeviceResult::Ok) {
            break;
        }
        ++queued;
    }
    for (int i = queued; i < requeueCount; ++i) {
        requeueList[static_cast<std::size_t>(i - queued)] = requeueList[static_cast<std::size_t>(i)];
    }
    requeueCount -= queued;
}

void CWaveInEngine::Close(CCaptureLink& link) {
    if (deviceOpen) {
        const DeviceResult result = device->Reset();
        if (result != DeviceResult::Ok) {
            (void)device->Close();
            link.SetWaveInError(*device, result);
            link.RaiseError();
            deviceOpen = false;
        }
    }
    if (deviceOpen) {
        const DeviceResult result = device->Close();
        if (result != DeviceResult::Ok) {
            link.SetWaveInError(*device, result);
            link.RaiseError();
        }
        deviceOpen = false;
    }
    FreeBuffers();
}

void CWaveInEngine::RequestStop(CCaptureLink& link) {
    // Flags before signals: the loop reads them once it is woken.
    link.StopCaptureEvent().Set();
    paused.store(false, std::memory_order_release);
    controlEvent.Set();
    // A device that hands nothing back any more (failing, or starved of buffers) must not keep the
    // loop waiting for a buffer: the loop reads the stop right after this wake-up.
    deviceEvent.Set();
}

void CWaveInEngine::Pause() {
    paused.store(true, std::memory_order_release);
    controlRequests.fetch_add(1, std::memory_order_acq_rel);
    controlEvent.Set();
    // Wakes a loop waiting for a buffer, so that it resets the device now.
    deviceEvent.Set();
}

void CWaveInEngine::Resume() {
    paused.store(false, std::memory_order_release);
    controlRequests.fetch_add(1, std::memory_order_acq_rel);
    controlEvent.Set();
    deviceEvent.Set();
}

void CWaveInEngine::FreeBuffers() {
    for (std::size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = nullptr;
        headers[i].flags.store(0, std::memory_order_relaxed);
        dataMem[i].reset();
    }
}

void CWaveInEngine::Abandon(CCaptureLink& link, DeviceResult result) {
    Close(link);
    link.SetWaveInError(*device, result);
    link.RaiseError();
    link.StopCaptureEvent().Set();
}

} // namespace velmar
