#include "ReportLog.h"

#include <algorithm>

namespace velmar::test {

void CReportLog::OnPipelineStopped() {
    std::lock_guard lock(mutex);
    ++stopped;
    changed.notify_all();
}

void CReportLog::ShowDuration(int durationTenths) {
    std::lock_guard lock(mutex);
    durations.push_back(durationTenths);
    changed.notify_all();
}

void CReportLog::ShowElapsed(int elapsedTenths) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex);
        elapsed.push_back(elapsedTenths);
        hook = elapsedHook;
        changed.notify_all();
    }
    if (hook) {
        hook();
    }
}

void CReportLog::SetSliderPercent(int positionPercent) {
    std::lock_guard lock(mutex);
    percents.push_back(positionPercent);
    changed.notify_all();
}

void CReportLog::OnElapsed(std::function<void()> hook) {
    std::lock_guard lock(mutex);
    elapsedHook = std::move(hook);
}

int CReportLog::Stopped() const {
    std::lock_guard lock(mutex);
    return stopped;
}

std::vector<int> CReportLog::Durations() const {
    std::lock_guard lock(mutex);
    return durations;
}

std::vector<int> CReportLog::Elapsed() const {
    std::lock_guard lock(mutex);
    return elapsed;
}

std::vector<int> CReportLog::Percents() const {
    std::lock_guard lock(mutex);
    return percents;
}

bool CReportLog::WaitStopped(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return stopped >= count; });
}

bool CReportLog::WaitElapsedReports(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return elapsed.size() >= count; });
}

bool CReportLog::WaitPercentAtLeast(int percent, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] {
        return std::any_of(percents.begin(), percents.end(), [&](int p) { return p >= percent; });
    });
}

void CReportLog::Clear() {
    std::lock_guard lock(mutex);
    stopped = 0;
    durations.clear();
    elapsed.clear();
    percents.clear();
}

} // namespace velmar::test
