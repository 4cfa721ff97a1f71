// Removal of a hidden temporary output when Ctrl+C, SIGTERM or SIGHUP ends the process: the
// destructors that normally remove it never run then, and an endless input would leave a file that
// grew without limit. The process still ends by the signal, with the status a shell expects.
#pragma once

#include <string>

namespace velmar {

// How many outputs can be armed at once: one per file converted in parallel.
inline constexpr int kMaxArmedOutputs = 64;

class CRemoveOnSignal {
public:
    CRemoveOnSignal() = default;
    ~CRemoveOnSignal() { Disarm(); }
    CRemoveOnSignal(const CRemoveOnSignal&) = delete;
    CRemoveOnSignal& operator=(const CRemoveOnSignal&) = delete;

    // From now on a stop signal removes `path`. False when every slot is taken (the file is then only
    // removed by a normal exit).
    bool Arm(const std::string& path);
    // The file is committed or removed already: a signal leaves it alone.
    void Disarm() noexcept;

private:
    int slot = -1;
};

} // namespace velmar
