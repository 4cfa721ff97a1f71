#include "RemoveOnSignal.h"

#include <unistd.h>

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>

namespace velmar {
namespace {

enum SlotState : int { kFree, kFilling, kArmed };

// The handler may only read what is complete: a slot's path is written while it is kFilling and
// published by the release store of kArmed.
struct Slot {
    std::atomic<int> state{kFree};
    char path[PATH_MAX]{};
};

constexpr int kSlots = kMaxArmedOutputs;
Slot slots[kSlots];

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemoveAndStop(int signalNumber) {
    for (Slot& s : slots) {
        if (s.state.load(std::memory_order_acquire) == kArmed) {
            ::unlink(s.path); // async-signal-safe
        }
    }
    // SA_RESETHAND has restored the default action and SA_NODEFER lets it act at once.
    ::raise(signalNumber);
}

void InstallHandlers() {
    for (const int signalNumber : kStopSignals) {
        struct sigaction current {};
        if (::sigaction(signalNumber, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) {
            continue; // ignored on purpose (nohup, a background job): stays ignored
        }
        struct sigaction action {};
        action.sa_handler = &RemoveAndStop;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESETHAND | SA_NODEFER;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

} // namespace

bool CRemoveOnSignal::Arm(const std::string& path) {
    Disarm();
    if (path.size() >= PATH_MAX) {
        return false;
    }
    static std::once_flag installed;
    std::call_once(installed, InstallHandlers);
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (slots[i].state.compare_exchange_strong(expected, kFilling, std::memory_order_acquire,
                                                   std::memory_order_relaxed)) {
            std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
            slots[i].state.store(kArmed, std::memory_order_release);
            slot = i;
            return true;
        }
    }
    return false;
}

void CRemoveOnSignal::Disarm() noexcept {
    if (slot >= 0) {
        slots[slot].state.store(kFree, std::memory_order_release);
        slot = -1;
    }
}

} // namespace velmar
