#include "pipeline/Pipeline.h"

#include "audio/AudioDevice.h"
#include "audio/WaveInEngine.h"
#include "audio/WaveOutEngine.h"
#include "pipeline/Conversions.h"
#include "pipeline/FileWorker.h"
#include "pipeline/PipelineReports.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace velmar {

// Makes an engine or file worker reachable through the pipeline for as long as it lives on its
// thread. Registration and use from the owner's thread both hold registryMutex, so an object is
// never used after its thread has unregistered it.
template <typename T> class CRegistration {
public:
    CRegistration(CPipeline& owner, T*& registered, T& object)
        : pipeline(owner)
        , slot(registered) {
        std::lock_guard lock(pipeline.registryMutex);
        slot = &object;
        if constexpr (requires { object.Pause(); }) {
            // A Pause pressed before the engine existed holds from its start.
            if (pipeline.runPaused.load(std::memory_order_relaxed)) {
                object.Pause();
            }
        }
    }
    ~CRegistration() {
        std::lock_guard lock(pipeline.registryMutex);
        slot = nullptr;
    }
    CRegistration(const CRegistration&) = delete;
    CRegistration& operator=(const CRegistration&) = delete;

private:
    CPipeline& pipeline;
    T*& slot;
};

namespace {

// Thread creation reports failure only by exception; this is the one place we catch one.
template <typename Procedure> bool StartThread(std::jthread& thread, Procedure&& procedure) {
    try {
        thread = std::jthread(std::forward<Procedure>(procedure));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void Join(std::jthread& thread) {
    if (thread.joinable()) {
        thread.join();
    }
}

} // namespace

CPipeline::CPipeline(CPipelineReports& owner, CAudioBackend& audioBackend)
    : backend(audioBackend)
    , run(owner)
    , captureChannel(run)
    , playbackChannel(run) {
}

bool CPipeline::AnySignalled() const {
    return run.AnySignalled() || evCaptureDone.IsSet() || evPlaybackDone.IsSet() || evStartBarrier.IsSet();
}

CPipeline::~CPipeline() {
    Stop();
}

std::string CPipeline::CaptureErrorText() const {
    return captureChannel.ErrorText();
}

std::string CPipeline::PlaybackErrorText() const {
    return playbackChannel.ErrorText();
}

std::string CPipeline::CaptureLossText() const {
    const int tenths = captureChannel.DroppedTenths();
    if (tenths <= 0) {
        return {};
    }
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) +
           " s of audio could not be stored in time and is missing";
}

bool CPipeline::CaptureRunAlive() const {
    return (captureThread.joinable() && !evCaptureDone.IsSet()) || IsRecording();
}

bool CPipeline::PlaybackRunAlive() const {
    return (playbackThread.joinable() && !evPlaybackDone.IsSet()) || IsPlaying();
}

void CPipeline::JoinRunThreads() {
    Join(captureThread);
    Join(encoderThread);
    Join(playbackThread);
    Join(readerThread);
}

bool CPipeline::StartRecording(const std::string& recordPath, int effort) {
    // The file worker and the rest of the run's state exist once, so one run at a time.
    if (CaptureRunAlive() || PlaybackRunAlive()) {
        return false;
    }
    // A run that ended by itself still has its threads finishing their last steps.
    JoinRunThreads();
    runPaused.store(false, std::memory_order_relaxed);
    run.PrepareRecording(recordPath, effort);
    evCaptureDone.Reset();
    // Before any thread starts, so that no thread sees the channel half set up.
    captureChannel.Allocate(kCaptureBlockSamples);
    if (!StartThread(encoderThread, [this] { EncoderThreadProc(); })) {
        captureChannel.Release();
        return false;
    }
    if (!StartThread(captureThread, [this] { CaptureThreadProc(); })) {
        run.StopCaptureEvent().Set();
        // The encoder thread does not listen to the capture's stop: end it here.
        EndEncoder();
        Join(encoderThread);
        captureChannel.Release();
        return false;
    }
    return true;
}

bool CPipeline::StartPlayback(const std::string& playPath, int positionPercent, DecodeMode mode) {
    if (CaptureRunAlive() || PlaybackRunAlive()) {
        return false;
    }
    if (playPath.size() >= static_cast<std::size_t>(kPlayFileNameSize)) {
        playbackChannel.StoreErrorText("File name too long: " + playPath);
        return false;
    }
    JoinRunThreads();
    runPaused.store(false, std::memory_order_relaxed);
    startCount.store(2, std::memory_order_release);
    run.PreparePlayback(playPath, positionPercent, mode);
    evStartBarrier.Reset();
    evPlaybackDone.Reset();
    playbackChannel.Allocate(kPlaybackBlockSamples);
    if (!StartThread(readerThread, [this] { ReaderThreadProc(); })) {
        playbackChannel.Release();
        return false;
    }
    if (!StartThread(playbackThread, [this] { PlaybackThreadProc(); })) {
        run.StopPlaybackEvent().Set();
        // The reader does not listen to the playback's stop: end it here.
        EndReader();
        Join(readerThread);
        playbackChannel.Release();
        return false;
    }
    return true;
}

bool CPipeline::Stop() {
    if (captureThread.joinable() || encoderThread.joinable()) {
        StopRecordingRun();
    }
    if (playbackThread.joinable() || readerThread.joinable()) {
        StopPlaybackRun();
    }
    return true;
}

void CPipeline::StopRecordingRun() {
    // Set here as well as by the engine: the capture thread may not have registered it yet.
    run.StopCaptureEvent().Set();
    {
        std::lock_guard lock(registryMutex);
        if (captureEngine != nullptr) {
            captureEngine->RequestStop(captureChannel);
        }
    }
    (void)evCaptureDone.WaitFor(kThreadEndTimeout);
    // Whatever the wait said, the channel is released only once no thread can use it any more.
    Join(captureThread);
    Join(encoderThread);
    captureChannel.Release();
    run.ClearRecording();
}

void CPipeline::StopPlaybackRun() {
    {
        std::lock_guard lock(registryMutex);
        if (playbackEngine != nullptr) {
            playbackEngine->ResetDevice();
        }
    }
    EndReader();
    run.StopPlaybackEvent().Set();
    // A playback loop waiting for data must wake up to see the stop.
    run.SignalPlayData();
    (void)evPlaybackDone.WaitFor(kThreadEndTimeout);
    Join(playbackThread);
    Join(readerThread);
    playbackChannel.Release();
    run.ClearPlaying();
}

bool CPipeline::TogglePause() {
    // The run's pause is a state of the pipeline, set from the moment the run starts: an engine that
    // registers later (its thread still starting, its device still opening) takes it over.
    std::lock_guard lock(registryMutex);
    const bool capturing = CaptureRunAlive();
    if (!capturing && !PlaybackRunAlive()) {
        return false;
    }
    const bool pause = !runPaused.load(std::memory_order_relaxed);
    runPaused.store(pause, std::memory_order_relaxed);
    if (capturing && captureEngine != nullptr) {
        pause ? captureEngine->Pause() : captureEngine->Resume();
    } else if (!capturing && playbackEngine != nullptr) {
        pause ? playbackEngine->Pause() : playbackEngine->Restart();
    }
    return pause;
}

void CPipeline::Seek(int positionPercent) {
    std::lock_guard lock(registryMutex);
    if (fileWorker != nullptr && run.IsPlaying()) {
        fileWorker->Seek(std::clamp(positionPercent, 0, 100));
    }
}

void CPipeline::Hold(bool holding) {
    std::lock_guard lock(registryMutex);
    if (fileWorker != nullptr && run.IsPlaying()) {
        fileWorker->Hold(holding);
    }
}

void CPipeline::ArriveAtStartBarrier() {
    if (startCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        evStartBarrier.Set();
    }
    // A partner that never arrives holds this thread up only so long.
    (void)evStartBarrier.WaitFor(kStartBarrierTimeout);
}

void CPipeline::AwaitWorkerDone() {
    // The wait is bounded first, as any wait for another thread; the channel the worker uses is
    // released after this, so on a time-out the wait goes on until the worker is really out.
    if (!run.AwaitWorkerDone(kThreadEndTimeout)) {
        run.AwaitWorkerDone();
    }
}

void CPipeline::EndEncoder() {
    run.StopWorker();
    AwaitWorkerDone();
}

void CPipeline::EndReader() {
    // Sticky for the run, and raised before the reader is woken from any of its waits.
    run.AbortReader();
    run.StopWorker();
    run.SignalPlayRoom();
    run.OpenReaderGate();
    AwaitWorkerDone();
}

void CPipeline::EncoderThreadProc() {
    CFileWorker worker(run, captureChannel, playbackChannel);
    CRegistration registration(*this, fileWorker, worker);
    worker.WriteLoop();
}

void CPipeline::CaptureThreadProc() {
    {
        CWaveInEngine engine(backend);
        CRegistration registration(*this, captureEngine, engine);
        (void)run.AwaitFileReady(kFileReadyTimeout);
        if (!HasError()) {
            engine.Run(captureChannel);
        }
        // The capture loop has ended: whatever the ring holds now is the rest of the recording,
        // which the encoder writes before it closes the file.
        EndEncoder();
        captureChannel.Finish();
    }
    evCaptureDone.Set();
}

void CPipeline::ReaderThreadProc() {
    CFileWorker worker(run, captureChannel, playbackChannel);
    CRegistration registration(*this, fileWorker, worker);
    ArriveAtStartBarrier();
    worker.ReadLoop();
}

void CPipeline::PlaybackThreadProc() {
    {
        CWaveOutEngine engine(backend);
        run.ClearPlayData();
        CRegistration registration(*this, playbackEngine, engine);
        ArriveAtStartBarrier();
        if (!HasError()) {
            engine.Run(playbackChannel);
        }
        EndReader();
        playbackChannel.Finish();
    }
    evPlaybackDone.Set();
}

} // namespace velmar
