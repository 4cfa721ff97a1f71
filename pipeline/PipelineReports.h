// What a running pipeline tells its owner (the recorder window): the end of every run, the length of
// the file being played, the elapsed time and the slider position. The worker threads call these
// directly, not through any message queue, so an implementation hands its work to its own thread and
// must never call back into the CPipeline from inside a report.
#pragma once

namespace velmar {

class CPipelineReports {
public:
    // End of every run: after Stop, at the end of the file, or after an error. Called on the capture
    // thread (recording) or the playback thread (playback), once per run.
    virtual void OnPipelineStopped() = 0;

    // Total time of the file being played, in tenths of a second. Reader thread, once per playback.
    virtual void ShowDuration(int durationTenths) = 0;

    // Elapsed time in tenths of a second: encoder thread while recording, playback thread while
    // playing.
    virtual void ShowElapsed(int elapsedTenths) = 0;

    // Position of playback in the file, 0 .. 100. Playback thread.
    virtual void SetSliderPercent(int positionPercent) = 0;

    // Input level while recording: the largest sample magnitude (0 .. 32768, 32767 and above is
    // full scale) since the last report, about 40 times a second. Capture thread. An owner that
    // shows no meter ignores it.
    virtual void ShowInputLevel(int /*peak*/) {}

protected:
    ~CPipelineReports() = default;
};

} // namespace velmar
