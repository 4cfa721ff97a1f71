#include "pipeline/RunContext.h"

#include "pipeline/Conversions.h"
#include "pipeline/PipelineReports.h"

#include <algorithm>

namespace velmar {

CRunContext::CRunContext(CPipelineReports& owner)
    : reports(owner) {
}

void CRunContext::PrepareRecording(const std::string& path, int effort) {
    encoderEffort = effort;
    errorFlag.store(false, std::memory_order_release);
    recordFileName = path;
    evWorkerStop.Reset();
    evFileReady.Reset();
    evWorkerDone.Reset();
    evStopCapture.Reset();
}

void CRunContext::PreparePlayback(const std::string& path, int percent, DecodeMode mode) {
    playbackMode = mode;
    errorFlag.store(false, std::memory_order_release);
    abortReader.store(false, std::memory_order_release);
    playFileName = path;
    startPercent = std::clamp(percent, 0, 100);
    evWorkerStop.Reset();
    evWorkerDone.Reset();
    evReaderRun.Reset();
    evStopPlayback.Reset();
    evPlayRoom.Set();
}

void CRunContext::NotifyStopped() {
    reports.OnPipelineStopped();
}

void CRunContext::ShowDuration(std::int64_t fileBytes) {
    reports.ShowDuration(FileBytesToTenths(fileBytes));
}

void CRunContext::ShowElapsed(int elapsedTenths) {
    reports.ShowElapsed(elapsedTenths);
}

void CRunContext::ShowPercent(int positionPercent) {
    reports.SetSliderPercent(positionPercent);
}

void CRunContext::ShowInputLevel(int peak) {
    reports.ShowInputLevel(peak);
}

bool CRunContext::AnySignalled() const {
    for (const CEvent* event : {&evStopCapture, &evFileReady, &evStopPlayback, &evPlayData, &evReaderRun,
                                &evWorkerStop, &evWorkerDone, &evPlayRoom}) {
        if (event->IsSet()) {
            return true;
        }
    }
    return false;
}

} // namespace velmar
