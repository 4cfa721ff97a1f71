#include "audio/Event.h"

namespace velmar {

CEvent::CEvent(EventReset resetMode, bool initiallySet)
    : mode(resetMode)
    , signalled(initiallySet) {
}

void CEvent::Set() {
    {
        std::lock_guard lock(mutex);
        signalled = true;
    }
    // Every waiter of a manual-reset event must see the signal; an auto-reset event releases one.
    if (mode == EventReset::Manual) {
        changed.notify_all();
    } else {
        changed.notify_one();
    }
}

void CEvent::Reset() {
    std::lock_guard lock(mutex);
    signalled = false;
}

void CEvent::Wait() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return signalled; });
    if (mode == EventReset::Auto) {
        signalled = false;
    }
}

bool CEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    if (!changed.wait_until(lock, deadline, [this] { return signalled; })) {
        return false;
    }
    if (mode == EventReset::Auto) {
        signalled = false;
    }
    return true;
}

bool CEvent::IsSet() const {
    std::lock_guard lock(mutex);
    return signalled;
}

} // namespace velmar
