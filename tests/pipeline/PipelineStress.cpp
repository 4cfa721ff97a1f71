// Starts and ends runs at random instants on the real-time virtual sound card, to find the requests
// that a run can lose or the waits that never end: Stop while the input device opens, Pause in the
// first moments of playback, a seek just as the reader reaches the end. Every call of the pipeline
// must return; a watchdog ends the program with a report when one does not.
//
// Usage: pipeline_stress [--record-cycles N] [--playback-cycles N] [--seed S] [--quiet]
// The test suite runs a short version; the full one (20000 and 5000 cycles) is run by hand.
#include "audio/VirtualAudioDevice.h"
#include "codec/CodecConstants.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PipelineReports.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace velmar {
namespace {

using namespace std::chrono_literals;

// No call of the pipeline, and no run, may take anywhere near this long.
constexpr auto kHangLimit = 30s;

class CCountingReports final : public CPipelineReports {
public:
    void OnPipelineStopped() override { stopped.fetch_add(1, std::memory_order_relaxed); }
    void ShowDuration(int) override {}
    void ShowElapsed(int) override {}
    void SetSliderPercent(int) override {}

    std::atomic<int> stopped{0};
};

// Where the program is, for the watchdog's report.
struct Progress {
    std::atomic<long> steps{0};
    std::atomic<const char*> phase{"starting"};
    std::atomic<int> cycle{0};

    void At(const char* what, int number) {
        phase.store(what, std::memory_order_relaxed);
        cycle.store(number, std::memory_order_relaxed);
        steps.fetch_add(1, std::memory_order_relaxed);
    }
};

// Ends the process when no step is made for kHangLimit.
class CWatchdog {
public:
    explicit CWatchdog(Progress& watched)
        : progress(watched)
        , thread([this](std::stop_token stop) { Watch(stop); }) {}

private:
    void Watch(std::stop_token stop) {
        long last = -1;
        auto since = std::chrono::steady_clock::now();
        while (!stop.stop_requested()) {
            std::this_thread::sleep_for(100ms); // a watchdog's poll, not synchronisation
            const long now = progress.steps.load(std::memory_order_relaxed);
            if (now != last) {
                last = now;
                since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - since > kHangLimit) {
                std::fprintf(stderr, "pipeline_stress: HANG in %s of cycle %d (no progress for %lld s)\n",
                             progress.phase.load(), progress.cycle.load(),
                             static_cast<long long>(
                                 std::chrono::duration_cast<std::chrono::seconds>(kHangLimit).count()));
                std::fflush(stderr);
                std::_Exit(3);
            }
        }
    }

    Progress& progress;
    std::jthread thread;
};

void Spin(std::mt19937& rng, int most) {
    const int count = std::uniform_int_distribution<int>(0, most)(rng);
    std::atomic<int> spun{0}; // a loop the compiler keeps
    while (spun.fetch_add(1, std::memory_order_relaxed) < count) {
    }
}

bool Check(bool condition, const char* what, int cycle) {
    if (!condition) {
        std::fprintf(stderr, "pipeline_stress: cycle %d: %s\n", cycle, what);
    }
    return condition;
}

// Stops the run of `cycle`; the failures found: a run still going, or its end not reported once.
int StopAndCheck(CPipeline& pipeline, const CCountingReports& reports, int stoppedBefore, Progress& progress,
                 int cycle) {
    progress.At("Stop", cycle);
    (void)pipeline.Stop();
    int failures = 0;
    failures +=
        Check(!pipeline.IsRecording() && !pipeline.IsPlaying(), "still running after Stop", cycle) ? 0 : 1;
    failures +=
        Check(reports.stopped.load() == stoppedBefore + 1, "the end of the run was not reported once", cycle)
            ? 0
            : 1;
    return failures;
}

int RecordCycles(int cycles, std::uint32_t seed, const std::string& folder, Progress& progress) {
    std::mt19937 rng(seed);
    CVirtualAudioBackend backend({.pacing = Pacing::RealTime});
    CCountingReports reports;
    CPipeline pipeline(reports, backend);
    const std::string path = folder + "/stress.tmp";
    int failures = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        progress.At("StartRecording", cycle);
        const int stoppedBefore = reports.stopped.load();
        const int opensBefore = backend.CallCount(AudioDirection::Input, DeviceOperation::Open);
        if (!Check(pipeline.StartRecording(path), "StartRecording refused", cycle)) {
            ++failures;
            continue;
        }
        // Half the cycles wait for the input device to open first, the rest stop at once.
        if (rng() % 2 == 0) {
            (void)backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Open, opensBefore + 1, 5s);
        }
        Spin(rng, 20000);
        if (rng() % 4 == 0) {
            progress.At("TogglePause (recording)", cycle);
            (void)pipeline.TogglePause();
            Spin(rng, 20000);
        }
        failures += StopAndCheck(pipeline, reports, stoppedBefore, progress, cycle);
    }
    ::unlink(path.c_str());
    failures += Check(backend.OpenDevices() == 0, "a device was left open", cycles) ? 0 : 1;
    return failures;
}

int PlaybackCycles(int cycles, std::uint32_t seed, const std::string& folder, Progress& progress) {
    std::mt19937 rng(seed);
    // Two seconds of frames; their bits do not matter to the pipeline.
    const std::string path = folder + "/stress.prm";
    {
        std::vector<char> bytes(static_cast<std::size_t>(kPackedFrameBytes) * 66);
        for (char& b : bytes) {
            b = static_cast<char>(rng());
        }
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    CVirtualAudioBackend backend({.pacing = Pacing::RealTime});
    CCountingReports reports;
    CPipeline pipeline(reports, backend);
    int failures = 0;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        progress.At("StartPlayback", cycle);
        const int stoppedBefore = reports.stopped.load();
        // Starting near the end often: the end of the file is where pause and seek went wrong.
        const int from = rng() % 2 == 0 ? std::uniform_int_distribution<int>(80, 100)(rng)
                                        : std::uniform_int_distribution<int>(0, 100)(rng);
        if (!Check(pipeline.StartPlayback(path, from), "StartPlayback refused", cycle)) {
            ++failures;
            continue;
        }
        const int steps = std::uniform_int_distribution<int>(0, 4)(rng);
        for (int step = 0; step < steps; ++step) {
            Spin(rng, 20000);
            switch (rng() % 4) {
            case 0:
                progress.At("TogglePause (playback)", cycle);
                (void)pipeline.TogglePause();
                break;
            case 1:
                progress.At("Seek", cycle);
                pipeline.Seek(std::uniform_int_distribution<int>(0, 100)(rng));
                break;
            case 2:
                progress.At("Hold", cycle);
                pipeline.Hold(true);
                Spin(rng, 2000);
                pipeline.Seek(std::uniform_int_distribution<int>(0, 100)(rng));
                pipeline.Hold(false);
                break;
            default:
                // Let some runs play on a while, so that runs also end by themselves.
                progress.At("Playing", cycle);
                std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 50));
                break;
            }
        }
        failures += StopAndCheck(pipeline, reports, stoppedBefore, progress, cycle);
    }
    ::unlink(path.c_str());
    failures += Check(backend.OpenDevices() == 0, "a device was left open", cycles) ? 0 : 1;
    return failures;
}

int Main(int argc, char** argv) {
    int recordCycles = 20000;
    int playbackCycles = 5000;
    std::uint32_t seed = static_cast<std::uint32_t>(std::random_device{}());
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--record-cycles" && hasValue) {
            recordCycles = std::atoi(argv[++i]);
        } else if (arg == "--playback-cycles" && hasValue) {
            playbackCycles = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            seed = static_cast<std::uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            std::fprintf(
                stderr,
                "usage: pipeline_stress [--record-cycles N] [--playback-cycles N] [--seed S] [--quiet]\n"
                "Starts and stops recordings and playbacks at random instants on the real-time\n"
                "virtual sound card; fails on a hang (no progress for %lld s) or a lost report.\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kHangLimit).count()));
            return arg == "--help" ? 0 : 2;
        }
    }
    std::string folder = "/tmp/velmar-stress-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) {
        std::perror("pipeline_stress: mkdtemp");
        return 1;
    }
    std::printf("pipeline_stress: seed %u, %d recording and %d playback cycles\n", seed, recordCycles,
                playbackCycles);
    std::fflush(stdout);
    Progress progress;
    CWatchdog watchdog(progress);
    const auto started = std::chrono::steady_clock::now();
    int failures = RecordCycles(recordCycles, seed, folder, progress);
    if (!quiet) {
        std::printf("pipeline_stress: recording cycles done\n");
        std::fflush(stdout);
    }
    failures += PlaybackCycles(playbackCycles, seed + 1, folder, progress);
    ::rmdir(folder.c_str());
    const auto seconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count() /
        1000.0;
    std::printf("pipeline_stress: %d failures in %.1f s (seed %u)\n", failures, seconds, seed);
    return failures == 0 ? 0 : 1;
}

} // namespace
} // namespace velmar

int main(int argc, char** argv) {
    return velmar::Main(argc, argv);
}
