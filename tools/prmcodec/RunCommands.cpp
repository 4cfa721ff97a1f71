#include "RunCommands.h"

#include "OutputFile.h"
#include "audio/Event.h"
#include "audio/PortAudioDevice.h"
#include "codec/CodecConstants.h"
#include "pipeline/Conversions.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PipelineReports.h"

#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace velmar {
namespace {

constexpr int kExitFailure = 1;
// How often the time display is redrawn and Ctrl+C is looked for.
constexpr long kTickNanoseconds = 50'000'000; // 20 redraws a second, as a level meter needs

int Fail(const std::string& message) {
    std::fprintf(stderr, "prmcodec: %s\n", message.c_str());
    return kExitFailure;
}

// Tenths of a second as m:ss.t.
std::string Clock(int tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d.%d", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

// Keeps the pipeline's reports for the command's own thread. Called on the worker threads.
class CConsoleReports final : public CPipelineReports {
public:
    void OnPipelineStopped() override { stopped.Set(); }
    void ShowDuration(int durationTenths) override {
        duration.store(durationTenths, std::memory_order_relaxed);
    }
    void ShowElapsed(int elapsedTenths) override { elapsed.store(elapsedTenths, std::memory_order_relaxed); }
    void SetSliderPercent(int positionPercent) override {
        percent.store(positionPercent, std::memory_order_relaxed);
    }
    void ShowInputLevel(int peak) override {
        int known = level.load(std::memory_order_relaxed);
        while (peak > known && !level.compare_exchange_weak(known, peak, std::memory_order_relaxed)) {
        }
    }
    // The loudest input since the last look; -1 when none arrived.
    int TakeLevel() { return level.exchange(-1, std::memory_order_relaxed); }

    // Display values only: each is read on its own, no order with anything else is needed.
    CEvent stopped{EventReset::Manual};
    std::atomic<int> duration{-1};
    std::atomic<int> elapsed{0};
    std::atomic<int> percent{0};
    std::atomic<int> level{-1};
};

// The input level as a bar from -60 dBFS to full scale, with its value and a clip mark.
std::string LevelBar(int peak) {
    constexpr int kCells = 20;
    constexpr double kFloorDb = -60.0;
    const double db = PeakToDbfs(peak);
    const int filled =
        std::isfinite(db)
            ? std::clamp(static_cast<int>(std::lround((db - kFloorDb) / -kFloorDb * kCells)), 0, kCells)
            : 0;
    char value[32];
    if (db < kFloorDb || !std::isfinite(db)) {
        std::snprintf(value, sizeof value, " <%3.0f dB", kFloorDb);
    } else {
        std::snprintf(value, sizeof value, " %4.0f dB", db);
    }
    // Appended piece by piece: GCC 12 at -O3 misreads a chain of string additions as an overlapping
    // copy (-Wrestrict).
    std::string bar = "[";
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kCells - filled), '.');
    bar.append("]").append(value).append(PeakClips(peak) ? " CLIP" : "     ");
    return bar;
}

// Ctrl+C and SIGTERM are blocked for every thread of the process while it lives (the pipeline's and
// PortAudio's threads inherit the mask), and the command's thread picks them up between ticks.
class CStopSignals {
public:
    CStopSignals() {
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, &previous);
    }
    ~CStopSignals() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    CStopSignals(const CStopSignals&) = delete;
    CStopSignals& operator=(const CStopSignals&) = delete;

    // Waits one display tick; true when a stop signal arrived.
    bool WaitTick() {
        const timespec tick{0, kTickNanoseconds};
        return sigtimedwait(&signals, nullptr, &tick) > 0;
    }

private:
    sigset_t signals{};
    sigset_t previous{};
};

// The live status line on stderr, redrawn in place when stderr is a terminal.
class CStatusLine {
public:
    CStatusLine()
        : enabled(::isatty(STDERR_FILENO) == 1) {}
    ~CStatusLine() { Finish(); }
    CStatusLine(const CStatusLine&) = delete;
    CStatusLine& operator=(const CStatusLine&) = delete;

    void Show(const std::string& text) {
        if (!enabled || text == shown) {
            return;
        }
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
        std::fflush(stderr);
        shown = text;
    }
    void Finish() {
        if (!shown.empty()) {
            std::fputc('\n', stderr);
            shown.clear();
        }
    }

private:
    bool enabled;
    std::string shown;
};

std::int64_t FileSize(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

// A fresh file beside `destination` for the recording to grow in; empty on failure.
std::string TemporaryBeside(const std::string& destination, std::string& error) {
    const std::string name = TemporaryPattern(destination, ".recording");
    std::vector<char> buffer(name.begin(), name.end());
    buffer.push_back('\0');
    const int fd = ::mkstemp(buffer.data());
    if (fd < 0) {
        error = "cannot create '" + destination + "': " + std::strerror(errno);
        return {};
    }
    // mkstemp makes the file private; the recording gets the mode any new file would have.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return std::string(buffer.data());
}

} // namespace

int RecordCommand(const std::string& outPath, int seconds) {
    std::string error;
    const std::string workPath = TemporaryBeside(outPath, error);
    if (workPath.empty()) {
        return Fail(error);
    }
    CStopSignals signals;
    CConsoleReports reports;
    CStatusLine status;
    bool interrupted = false;
    bool failed = false;
    std::string loss;
    {
        CPortAudioBackend backend;
        CPipeline pipeline(reports, backend);
        if (!pipeline.StartRecording(workPath)) {
            ::unlink(workPath.c_str());
            return Fail("cannot start recording");
        }
        const int limitTenths = seconds * 10;
        int level = 0;
        for (;;) {
            if (reports.stopped.IsSet()) {
                break; // the run ended by itself: an error
            }
            if (signals.WaitTick()) {
                interrupted = true;
                break;
            }
            const int elapsed = reports.elapsed.load(std::memory_order_relaxed);
            if (limitTenths > 0 && elapsed >= limitTenths) {
                break;
            }
            const int peak = reports.TakeLevel();
            if (peak >= 0) {
                level = peak;
            }
            status.Show("Recording " + outPath + "  " + Clock(elapsed) + "  " + LevelBar(level) +
                        "  (Ctrl+C stops)");
        }
        pipeline.Stop();
        status.Finish();
        failed = pipeline.HasError();
        error = pipeline.CaptureErrorText();
        loss = pipeline.CaptureLossText();
    }
    if (!loss.empty()) {
        std::fprintf(stderr, "prmcodec: warning: %s\n", loss.c_str());
    }
    // Whatever was recorded is kept, even when the run ended in an error.
    const std::int64_t bytes = FileSize(workPath);
    const std::int64_t frames = bytes > 0 ? bytes / kPackedFrameBytes : 0;
    if (frames == 0) {
        ::unlink(workPath.c_str());
    } else if (std::rename(workPath.c_str(), outPath.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(workPath.c_str());
        return Fail("cannot write '" + outPath + "': " + reason);
    }
    const std::string recorded =
        Clock(FramesToTenths(static_cast<int>(frames))) + " (" + std::to_string(frames) + " frames)";
    if (failed) {
        const std::string kept = frames > 0 ? "; kept " + recorded + " in " + outPath : "";
        return Fail("recording failed: " + (error.empty() ? std::string("unknown error") : error) + kept);
    }
    if (frames == 0) {
        return Fail("nothing was recorded");
    }
    std::fprintf(stderr, "Recorded %s into %s%s\n", recorded.c_str(), outPath.c_str(),
                 interrupted ? " (stopped)" : "");
    return 0;
}

int PlayCommand(const std::string& inPath, int fromPercent, DecodeMode mode) {
    const std::int64_t bytes = FileSize(inPath);
    if (bytes >= 0 && bytes < kPackedFrameBytes) {
        return Fail("'" + inPath + "' holds no whole frame: nothing to play");
    }
    CStopSignals signals;
    CConsoleReports reports;
    CStatusLine status;
    bool interrupted = false;
    bool failed = false;
    std::string error;
    {
        CPortAudioBackend backend;
        CPipeline pipeline(reports, backend);
        if (!pipeline.StartPlayback(inPath, fromPercent, mode)) {
            const std::string reason = pipeline.PlaybackErrorText();
            return Fail(reason.empty() ? "cannot start playback" : reason);
        }
        for (;;) {
            if (reports.stopped.IsSet()) {
                break;
            }
            if (signals.WaitTick()) {
                interrupted = true;
                break;
            }
            const int duration = reports.duration.load(std::memory_order_relaxed);
            status.Show("Playing " + inPath + "  " + Clock(reports.elapsed.load(std::memory_order_relaxed)) +
                        " / " + (duration < 0 ? std::string("?") : Clock(duration)) + "  " +
                        std::to_string(reports.percent.load(std::memory_order_relaxed)) + "%");
        }
        pipeline.Stop();
        status.Finish();
        failed = pipeline.HasError();
        error = pipeline.PlaybackErrorText();
    }
    if (failed) {
        return Fail("playback failed: " + (error.empty() ? std::string("unknown error") : error));
    }
    const int duration = reports.duration.load(std::memory_order_relaxed);
    if (interrupted) {
        std::fprintf(stderr, "Stopped %s at %s of %s\n", inPath.c_str(),
                     Clock(reports.elapsed.load()).c_str(), Clock(duration).c_str());
    } else {
        std::fprintf(stderr, "Played %s (%s)\n", inPath.c_str(), Clock(duration).c_str());
    }
    return 0;
}

} // namespace velmar
