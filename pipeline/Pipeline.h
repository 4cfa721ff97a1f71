// The one object through which the recorder records and plays. It owns the capture and playback
// channels, the eleven events that coordinate the four worker threads, the run flags and the names of
// the files, starts and stops the runs and passes the workers' progress to its owner.
//
// Threads: the owner calls the public operations of the first group on one thread (the window's);
// the second group is used by the channels, engines and file workers of a run on their own threads.
// Every report arrives on a worker thread (see CPipelineReports). Stop and the destructor join every
// thread of the run, so once they return nothing of the run is still executing.
#pragma once

#include "audio/Event.h"
#include "pipeline/Channels.h"
#include "pipeline/PipelineConstants.h"
#include "pipeline/RunContext.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace velmar {

class CAudioBackend;
class CFileWorker;
class CPipelineReports;
class CWaveInEngine;
class CWaveOutEngine;

class CPipeline {
public:
    // `reports` and `backend` must outlive the pipeline. The window passes a CPortAudioBackend, the
    // tests a CVirtualAudioBackend.
    CPipeline(CPipelineReports& reports, CAudioBackend& backend);
    virtual ~CPipeline();
    CPipeline(const CPipeline&) = delete;
    CPipeline& operator=(const CPipeline&) = delete;

    // --- Called by the owner, on its own thread. ---

    // Records from the default input device into `recordPath` (created or replaced). False when a
    // run is active or a thread cannot be started.
    // `effort` is how hard the encoder searches (0, the plain encoder, to kMaxEncoderEffort); every
    // effort writes frames any decoder plays.
    bool StartRecording(const std::string& recordPath, int effort = 0);
    // Plays `playPath` from `startPercent` (0 .. 100) of its frames. False when a run is active, the
    // name is longer than a path buffer holds, or a thread cannot be started.
    // `mode` says whether what is heard goes through the post-filter (the file is the same either way).
    bool StartPlayback(const std::string& playPath, int startPercent, DecodeMode mode = DecodeMode::Plain);
    // Ends the active run, if any, and waits until its threads have ended; always true. The run's
    // OnPipelineStopped arrives before Stop returns.
    bool Stop();
    // Pauses or resumes the active run; true when it is now paused, false when resumed or idle.
    bool TogglePause();
    // Moves playback to `positionPercent` of the file; no effect without a playback run.
    void Seek(int positionPercent);
    // The user holds (true) or releases (false) the position slider during playback.
    void Hold(bool holding);

    bool IsRecording() const { return run.IsRecording(); }
    bool IsPlaying() const { return run.IsPlaying(); }
    // The error flag and texts of the last run; the texts are empty when the direction had no error.
    bool HasError() const { return run.HasError(); }
    std::string CaptureErrorText() const;
    std::string PlaybackErrorText() const;
    // After a recording run: how much captured sound was lost because the encoder or the disk fell
    // behind (the recording has holes there), as the user is told it; empty when nothing was lost.
    std::string CaptureLossText() const;

    // The channels, for the owner's statistics and for tests.
    CCaptureChannel& CaptureChannel() { return captureChannel; }
    CPlaybackChannel& PlaybackChannel() { return playbackChannel; }
    // Nothing of a run is signalled on a pipeline that has not run yet.
    bool AnySignalled() const;

private:
    template <typename T> friend class CRegistration;

    void CaptureThreadProc();
    void EncoderThreadProc();
    void ReaderThreadProc();
    void PlaybackThreadProc();
    void ArriveAtStartBarrier();
    // Asks the file thread of the run to end and waits until it has left its loop.
    void EndEncoder();
    void EndReader();
    void AwaitWorkerDone();
    // A run whose threads have not all finished yet (the owner's thread only).
    bool CaptureRunAlive() const;
    bool PlaybackRunAlive() const;
    void StopRecordingRun();
    void StopPlaybackRun();
    void JoinRunThreads();

    CAudioBackend& backend;
    // What the run's threads share; the channels and file workers see only this.
    CRunContext run;

    // Set by the thread procedures while they run; see CRegistration. Read and written under
    // registryMutex only, so the window's thread never uses an engine or worker that is being deleted.
    std::mutex registryMutex;
    CWaveInEngine* captureEngine = nullptr;
    CWaveOutEngine* playbackEngine = nullptr;
    CFileWorker* fileWorker = nullptr;

    // The user's pause of the current run; written on the owner's thread and read by a registering
    // engine, both under registryMutex.
    std::atomic<bool> runPaused{false};
    // Playback-side threads still to arrive at the start barrier.
    std::atomic<int> startCount{0};

    // The pipeline's own events, all manual reset: the ends of the device threads, which Stop waits
    // for, and the meeting of the two playback-side threads.
    CEvent evCaptureDone{EventReset::Manual};
    CEvent evPlaybackDone{EventReset::Manual};
    CEvent evStartBarrier{EventReset::Manual};

    CCaptureChannel captureChannel;
    CPlaybackChannel playbackChannel;

    // Threads of the current or last run; joined before the next run starts, by Stop and by the
    // destructor. Declared last so that they are joined before anything they use is destroyed.
    std::jthread captureThread;
    std::jthread encoderThread;
    std::jthread readerThread;
    std::jthread playbackThread;
};

} // namespace velmar
