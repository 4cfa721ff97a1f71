// The event that the worker threads, the engines and the devices signal each other with: manual or
// auto reset, set and reset from any thread, waited for with or without a time-out. Time-outs run on
// the steady clock, so a change of the wall clock never shortens or stretches a wait.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace velmar {

enum class EventReset {
    Manual, // stays signalled until Reset
    Auto    // a successful wait consumes the signal
};

class CEvent {
public:
    explicit CEvent(EventReset resetMode, bool initiallySet = false);
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();

    // Waits without limit until the event is signalled.
    void Wait();

    // Waits at most `timeout` (0 polls); true when the event was signalled. An auto-reset event is
    // reset by a wait that returns true.
    [[nodiscard]] bool WaitFor(std::chrono::milliseconds timeout);

    // Polls without consuming the signal of an auto-reset event.
    [[nodiscard]] bool IsSet() const;

private:
    const EventReset mode;
    mutable std::mutex mutex;
    std::condition_variable changed;
    bool signalled; // guarded by mutex
};

} // namespace velmar
