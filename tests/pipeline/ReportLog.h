// A report sink for pipeline tests: keeps every report in order and lets a test wait, with a
// generous time-out, until a report has arrived. Reports come from the worker threads.
#pragma once

#include "pipeline/PipelineReports.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace velmar::test {

using namespace std::chrono_literals;

// Waits in tests only ever end early on failure.
inline constexpr std::chrono::milliseconds kGenerousTimeout = 20s;

class CReportLog final : public CPipelineReports {
public:
    void OnPipelineStopped() override;
    void ShowDuration(int durationTenths) override;
    void ShowElapsed(int elapsedTenths) override;
    void SetSliderPercent(int positionPercent) override;

    // Called on the reporting thread after each ShowElapsed (e.g. to pace a virtual device).
    void OnElapsed(std::function<void()> hook);

    int Stopped() const;
    std::vector<int> Durations() const;
    std::vector<int> Elapsed() const;
    std::vector<int> Percents() const;

    bool WaitStopped(int count, std::chrono::milliseconds timeout = kGenerousTimeout);
    bool WaitElapsedReports(std::size_t count, std::chrono::milliseconds timeout = kGenerousTimeout);
    bool WaitPercentAtLeast(int percent, std::chrono::milliseconds timeout = kGenerousTimeout);
    void Clear();

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::function<void()> elapsedHook;
    int stopped = 0;
    std::vector<int> durations;
    std::vector<int> elapsed;
    std::vector<int> percents;
};

} // namespace velmar::test
