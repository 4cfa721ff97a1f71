// Whole runs of the pipeline on the accelerated virtual sound card: a recording and a playback of
// ten seconds of speech each, with all four threads at work. Reports the CPU time of the whole
// process per second of speech, the figure that tells how much of a machine the recorder takes.
#include "audio/Event.h"
#include "audio/VirtualAudioDevice.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PipelineReports.h"

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace velmar {
namespace {

constexpr int kSpeechSeconds = 10;
constexpr int kSpeechSamples = kSpeechSeconds * 8000;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Ends a run for the benchmark and paces a recording: every encoded block lets the virtual card
// capture one more, so the ring never overflows and no block is lost.
class CBenchReports final : public CPipelineReports {
public:
    void OnPipelineStopped() override { stopped.Set(); }
    void ShowDuration(int) override {}
    void ShowElapsed(int) override {
        if (backend != nullptr) {
            backend->GrantCapture(1);
        }
    }
    void SetSliderPercent(int) override {}

    CVirtualAudioBackend* backend = nullptr;
    CEvent stopped{EventReset::Manual};
};

std::vector<std::int16_t> Speechlike() {
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 300.0);
    std::vector<std::int16_t> samples(kSpeechSamples);
    for (int n = 0; n < kSpeechSamples; ++n) {
        const double t = n / 8000.0;
        const double value = 5000.0 * std::sin(2.0 * 3.141592653589793 * 140.0 * t) *
                                 (0.6 + 0.4 * std::sin(2.0 * 3.141592653589793 * 3.0 * t)) +
                             noise(rng);
        samples[static_cast<std::size_t>(n)] = static_cast<std::int16_t>(value);
    }
    return samples;
}

std::filesystem::path BenchFile(const char* name) {
    return std::filesystem::temp_directory_path() /
           (std::string("velmar-bench-") + std::to_string(::getpid()) + name);
}

void SetCpuCounter(benchmark::State& state, double cpuSeconds) {
    state.counters["cpu_ms_per_speech_s"] =
        cpuSeconds * 1000.0 / (static_cast<double>(state.iterations()) * kSpeechSeconds);
}

void BM_RecordingRun(benchmark::State& state) {
    const std::vector<std::int16_t> speech = Speechlike();
    const auto path = BenchFile("-record.prm");
    double cpu = 0.0;
    for (auto _ : state) {
        CBenchReports reports;
        CVirtualAudioBackend backend({.captureSource = speech, .captureCredit = 6});
        reports.backend = &backend;
        CPipeline pipeline(reports, backend);
        const double start = ProcessCpuSeconds();
        if (!pipeline.StartRecording(path.string()) ||
            !backend.WaitForCaptured(kSpeechSamples, std::chrono::minutes(2))) {
            state.SkipWithError("the recording did not run");
            break;
        }
        pipeline.Stop();
        cpu += ProcessCpuSeconds() - start;
        reports.backend = nullptr;
    }
    std::filesystem::remove(path);
    SetCpuCounter(state, cpu);
}
BENCHMARK(BM_RecordingRun)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PlaybackRun(benchmark::State& state) {
    const auto path = BenchFile("-play.prm");
    {
        // Any bytes decode; ten seconds of frames.
        std::mt19937 rng(5);
        std::ofstream out(path, std::ios::binary);
        for (int i = 0; i < kSpeechSeconds * 100 * 18; ++i) {
            out.put(static_cast<char>(rng()));
        }
    }
    double cpu = 0.0;
    for (auto _ : state) {
        CBenchReports reports;
        CVirtualAudioBackend backend;
        CPipeline pipeline(reports, backend);
        const double start = ProcessCpuSeconds();
        if (!pipeline.StartPlayback(path.string(), 0) || !reports.stopped.WaitFor(std::chrono::minutes(2))) {
            state.SkipWithError("the playback did not run");
            break;
        }
        pipeline.Stop();
        cpu += ProcessCpuSeconds() - start;
    }
    std::filesystem::remove(path);
    SetCpuCounter(state, cpu);
}
BENCHMARK(BM_PlaybackRun)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace
} // namespace velmar
