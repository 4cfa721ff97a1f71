// What the threads of a run share, apart from the pipeline that starts and stops them: the run's
// flags, its parameters (file names, start position), the reports to the owner, and the signals the
// channels and file workers give each other. The signals are events kept private behind operations
// named for what they mean, as the engines' links do; the channels and file workers receive this
// context, not the pipeline, so they see nothing else of it.
//
// Threads: the owner's thread sets the parameters and prepares the signals before a run's threads
// start; everything else may be called from any thread of the run.
#pragma once

#include "audio/Event.h"
#include "codec/PostFilter.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace velmar {

class CPipelineReports;

class CRunContext {
public:
    explicit CRunContext(CPipelineReports& reports);
    CRunContext(const CRunContext&) = delete;
    CRunContext& operator=(const CRunContext&) = delete;

    // --- Run flags ---
    void RaiseError() { errorFlag.store(true, std::memory_order_release); }
    bool HasError() const { return errorFlag.load(std::memory_order_acquire); }
    void MarkRecording() { recording.store(true, std::memory_order_release); }
    void ClearRecording() { recording.store(false, std::memory_order_release); }
    bool IsRecording() const { return recording.load(std::memory_order_acquire); }
    void MarkPlaying() { playing.store(true, std::memory_order_release); }
    void ClearPlaying() { playing.store(false, std::memory_order_release); }
    bool IsPlaying() const { return playing.load(std::memory_order_acquire); }
    void SetFileWorkerRunning(bool running) { fileWorkerRunning.store(running, std::memory_order_release); }
    bool IsFileWorkerRunning() const { return fileWorkerRunning.load(std::memory_order_acquire); }
    // The reader must give up: set by Stop and by the end of the playback thread, for the whole run,
    // before the reader is woken from any of its waits.
    void AbortReader() { abortReader.store(true, std::memory_order_release); }
    bool ReaderAborted() const { return abortReader.load(std::memory_order_acquire); }

    // --- Parameters, set by the owner's thread before a run's threads start ---
    // Resets the flags and signals of a recording into `path`, encoded at `effort` (Stop's and the
    // threads' own events are the pipeline's).
    void PrepareRecording(const std::string& path, int effort);
    // The same for playing `path` from `percent` of its frames, decoded as `mode` says.
    void PreparePlayback(const std::string& path, int percent, DecodeMode mode);
    const std::string& RecordFileName() const { return recordFileName; }
    const std::string& PlayFileName() const { return playFileName; }
    int StartPercent() const { return startPercent; }
    DecodeMode PlaybackMode() const { return playbackMode; }
    int EncoderEffort() const { return encoderEffort; }

    // --- Reports to the owner ---
    void NotifyStopped();
    void ShowDuration(std::int64_t fileBytes);
    void ShowElapsed(int elapsedTenths);
    void ShowPercent(int positionPercent);
    void ShowInputLevel(int peak);

    // --- Signals ---
    // The capture or playback must end; the engines poll these events themselves.
    CEvent& StopCaptureEvent() { return evStopCapture; }
    CEvent& StopPlaybackEvent() { return evStopPlayback; }

    // The recording file exists (the capture thread waits for it before it opens the device).
    void FileReady() { evFileReady.Set(); }
    bool AwaitFileReady(std::chrono::milliseconds timeout) { return evFileReady.WaitFor(timeout); }

    // The file thread must end; it looks (waiting at most `wait`) between its steps.
    void StopWorker() { evWorkerStop.Set(); }
    bool WorkerStopRequested(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) {
        return evWorkerStop.WaitFor(wait);
    }
    // The file thread has left its loop and closed its file; stays signalled for the run.
    void WorkerDone() { evWorkerDone.Set(); }
    bool AwaitWorkerDone(std::chrono::milliseconds timeout) { return evWorkerDone.WaitFor(timeout); }
    void AwaitWorkerDone() { evWorkerDone.Wait(); }

    // The gate of the reader: closed while the slider is held and while the reader waits for a late
    // seek, opened to let it go on (or to end it).
    void OpenReaderGate() { evReaderRun.Set(); }
    void CloseReaderGate() { evReaderRun.Reset(); }
    void PassReaderGate() { evReaderRun.Wait(); }

    // The playback ring has a free slot: the reader may hand over its chunk.
    void SignalPlayRoom() { evPlayRoom.Set(); }
    void ClearPlayRoom() { evPlayRoom.Reset(); }
    void AwaitPlayRoom() { evPlayRoom.Wait(); }
    bool PlayRoomSignalled() const { return evPlayRoom.IsSet(); }

    // The playback ring is full, ends with the file's last block, or the reader has ended: the
    // playback loop waiting for data may go on.
    void SignalPlayData() { evPlayData.Set(); }
    void ClearPlayData() { evPlayData.Reset(); }
    void AwaitPlayData() { evPlayData.Wait(); }
    bool PlayDataSignalled() const { return evPlayData.IsSet(); }

    // Nothing is signalled in a context no run has used yet.
    bool AnySignalled() const;

private:
    CPipelineReports& reports;

    std::atomic<bool> recording{false};
    std::atomic<bool> playing{false};
    std::atomic<bool> fileWorkerRunning{false};
    std::atomic<bool> errorFlag{false};
    std::atomic<bool> abortReader{false};

    std::string recordFileName;
    std::string playFileName;
    int startPercent = 0;
    DecodeMode playbackMode = DecodeMode::Plain;
    int encoderEffort = 0;

    // Manual-reset events, named for what their signalled state means.
    CEvent evStopCapture{EventReset::Manual};  // the capture must end
    CEvent evFileReady{EventReset::Manual};    // the recording file exists
    CEvent evStopPlayback{EventReset::Manual}; // the playback thread must end
    CEvent evPlayData{EventReset::Manual};     // the playback ring is full, or nothing more will come
    CEvent evReaderRun{EventReset::Manual};    // the reader may go on
    CEvent evWorkerStop{EventReset::Manual};   // the file thread must end
    CEvent evWorkerDone{EventReset::Manual};   // the file thread has left its loop
    CEvent evPlayRoom{EventReset::Manual};     // the playback ring has a free slot
};

} // namespace velmar
