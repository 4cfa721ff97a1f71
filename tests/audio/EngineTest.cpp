// The capture and playback engines on the virtual sound card, each driven through a fake of the
// pipeline's side: buffer sizes, the order of device operations, pause, stop and every failure text.
#include "audio/Event.h"
#include "audio/VirtualAudioDevice.h"
#include "audio/WaveInEngine.h"
#include "audio/WaveOutEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace velmar {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeout = 20s;

// The error side both fakes share.
class CFakeErrors {
public:
    void Raise() { raised.store(true); }
    bool Raised() const { return raised.load(); }
    void Store(std::string_view value) {
        std::lock_guard lock(mutex);
        text = std::string(value);
        raised.store(true);
    }
    std::string Text() const {
        std::lock_guard lock(mutex);
        return text;
    }

private:
    std::atomic<bool> raised{false};
    mutable std::mutex mutex;
    std::string text;
};

class CFakePlaybackFeed final : public CPlaybackLink {
public:
    struct Block {
        int samples;
        bool endMark;
    };
    explicit CFakePlaybackFeed(std::vector<Block> feed)
        : blocks(feed.begin(), feed.end()) {}

    void RaiseError() override { errors.Raise(); }
    bool ErrorRaised() const override { return errors.Raised(); }
    void SetErrorText(std::string_view text) override { errors.Store(text); }
    void SetWaveOutError(const CAudioDevice& device, DeviceResult result) override {
        errors.Store(device.ErrorText(result));
    }
    CEvent& StopPlaybackEvent() override { return stop; }
    void MarkPlaying() override { playing.store(true); }
    bool TakeDecoded(std::span<std::int16_t, kPlaybackBufferSamples> destination, int& count, bool& endMark,
                     BlockPlace& place) override {
        std::lock_guard lock(mutex);
        if (blocks.empty()) {
            count = 0;
            return true;
        }
        const Block block = blocks.front();
        blocks.pop_front();
        place.position = ++taken; // blocks numbered from 1 as they are taken
        place.epoch = 0;
        for (int i = 0; i < block.samples; ++i) {
            destination[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(next++);
        }
        count = block.samples;
        endMark = block.endMark;
        endTaken = endTaken || block.endMark;
        return false;
    }
    void ReportHeard(const BlockPlace& place) override {
        std::lock_guard lock(mutex);
        heardPlaces.push_back(place.position);
        heardSamples.push_back(static_cast<int>(playedNow ? playedNow() : 0));
    }
    // Blocks listed after an end block stand for none: only a seek brings more after the end.
    bool HasDecoded() const override {
        std::lock_guard lock(mutex);
        return !blocks.empty() && !endTaken;
    }
    // The fake always has its blocks at hand, or has ended.
    void WaitPlayData() override {}
    bool FeedEnded() const override {
        std::lock_guard lock(mutex);
        return blocks.empty();
    }
    std::vector<int> Heard() const {
        std::lock_guard lock(mutex);
        return heardPlaces;
    }
    std::vector<int> SamplesPlayedWhenHeard() const {
        std::lock_guard lock(mutex);
        return heardSamples;
    }
    // Asked for the samples played so far whenever a block is reported heard.
    std::function<std::size_t()> playedNow;

    CFakeErrors errors;
    CEvent stop{EventReset::Manual};
    std::atomic<bool> playing{false};

private:
    mutable std::mutex mutex;
    std::deque<Block> blocks;
    int next = 0;
    int taken = 0;
    bool endTaken = false;
    std::vector<int> heardPlaces;
    std::vector<int> heardSamples;
};

class CFakeCaptureSink final : public CCaptureLink {
public:
    void RaiseError() override { errors.Raise(); }
    bool ErrorRaised() const override { return errors.Raised(); }
    void SetErrorText(std::string_view text) override { errors.Store(text); }
    void SetWaveInError(const CAudioDevice& device, DeviceResult result) override {
        errors.Store(device.ErrorText(result));
    }
    CEvent& StopCaptureEvent() override { return stop; }
    void MarkRecording() override { recording.store(true); }
    void ResetFramesEncoded() override { resets.fetch_add(1); }
    void PutCaptured(std::span<const std::int16_t> samples) override {
        std::lock_guard lock(mutex);
        captured.insert(captured.end(), samples.begin(), samples.end());
        ++blocks;
        changed.notify_all();
    }

    void ReportLevel(int peak) override {
        std::lock_guard lock(mutex);
        levels.push_back(peak);
    }
    std::vector<int> Levels() const {
        std::lock_guard lock(mutex);
        return levels;
    }

    bool WaitBlocks(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kTimeout, [&] { return blocks >= count; });
    }
    std::vector<std::int16_t> Captured() const {
        std::lock_guard lock(mutex);
        return captured;
    }

    CFakeErrors errors;
    CEvent stop{EventReset::Manual};
    std::atomic<bool> recording{false};
    std::atomic<int> resets{0};

private:
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::int16_t> captured;
    std::vector<int> levels;
    int blocks = 0;
};

std::vector<std::int16_t> Ramp(int count) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
    std::iota(samples.begin(), samples.end(), std::int16_t{0});
    return samples;
}

// --- Playback ---

TEST(WaveOutEngine, QueuesEachBlockWithItsOwnLengthAndPlaysItAll) {
    CVirtualAudioBackend backend;
    CFakePlaybackFeed feed({{2400, false}, {1200, false}, {2400, false}, {600, true}});
    CWaveOutEngine engine(backend);
    engine.Run(feed);
    EXPECT_TRUE(feed.playing.load());
    EXPECT_FALSE(feed.errors.Raised()) << feed.errors.Text();
    EXPECT_EQ(backend.PlayedSamples(), Ramp(2400 + 1200 + 2400 + 600));
    EXPECT_EQ(backend.CallCount(AudioDirection::Output, DeviceOperation::Queue), 4);
    EXPECT_EQ(backend.CallCount(AudioDirection::Output, DeviceOperation::Prepare), 2);
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveOutEngine, AnEmptyEndBlockEndsPlaybackWithoutAWrite) {
    CVirtualAudioBackend backend;
    CFakePlaybackFeed feed({{2400, false}, {0, true}, {2400, false}});
    CWaveOutEngine engine(backend);
    engine.Run(feed);
    EXPECT_EQ(backend.CallCount(AudioDirection::Output, DeviceOperation::Queue), 1);
    EXPECT_EQ(backend.PlayedSamples().size(), 2400u);
    EXPECT_FALSE(feed.errors.Raised());
}

TEST(WaveOutEngine, AFeedThatEndsWithoutAnEndBlockEndsPlayback) {
    CVirtualAudioBackend backend;
    CFakePlaybackFeed feed({{2400, false}, {2400, false}});
    CWaveOutEngine engine(backend);
    engine.Run(feed);
    EXPECT_EQ(backend.PlayedSamples().size(), 4800u);
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveOutEngine, ResetWhilePausedEndsTheLoop) {
    CVirtualAudioBackend backend({.playbackCredit = 1});
    CFakePlaybackFeed feed(std::vector<CFakePlaybackFeed::Block>(20, {2400, false}));
    CWaveOutEngine engine(backend);
    std::jthread player([&] { engine.Run(feed); });
    ASSERT_TRUE(backend.WaitForPlayed(2400, kTimeout));
    engine.Pause();
    EXPECT_TRUE(engine.IsPaused());
    engine.ResetDevice();
    player.join();
    EXPECT_FALSE(feed.errors.Raised());
    EXPECT_EQ(backend.OpenDevices(), 0);
    EXPECT_LT(backend.PlayedSamples().size(), 20u * 2400u);
}

TEST(WaveOutEngine, AnErrorOfTheRunEndsTheLoopAndStopsPlayback) {
    CVirtualAudioBackend backend({.playbackCredit = 1});
    CFakePlaybackFeed feed(std::vector<CFakePlaybackFeed::Block>(20, {2400, false}));
    CWaveOutEngine engine(backend);
    std::jthread player([&] { engine.Run(feed); });
    ASSERT_TRUE(backend.WaitForPlayed(2400, kTimeout));
    feed.RaiseError();
    backend.GrantPlayback(1); // the loop looks at the flag when a buffer comes back
    player.join();
    EXPECT_TRUE(feed.stop.IsSet());
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveOutEngine, WithoutAnOutputDeviceTheRunEndsAtOnce) {
    CVirtualAudioBackend backend({.outputDevices = 0});
    CFakePlaybackFeed feed({{2400, true}});
    CWaveOutEngine engine(backend);
    engine.Run(feed);
    EXPECT_TRUE(feed.errors.Raised());
    EXPECT_EQ(feed.errors.Text(), " Sound driver is not installed.");
    EXPECT_EQ(backend.CallCount(AudioDirection::Output, DeviceOperation::Open), 0);
    EXPECT_TRUE(backend.PlayedSamples().empty());
}

TEST(WaveOutEngine, MissingBufferMemoryIsReported) {
    CVirtualAudioBackend backend;
    backend.InjectFault({AudioDirection::Output, DeviceOperation::AllocateMemory, 2, DeviceResult::NoMemory});
    CFakePlaybackFeed feed({{2400, true}});
    CWaveOutEngine engine(backend);
    EXPECT_EQ(engine.Open(feed), DeviceResult::NoMemory);
    EXPECT_EQ(feed.errors.Text(), "Memory allocation error.");
}

// --- Capture ---

TEST(WaveInEngine, HandsOverEveryFilledBufferInOrder) {
    const std::vector<std::int16_t> source = Ramp(20 * kCaptureBufferSamples);
    CVirtualAudioBackend backend({.captureSource = source, .captureCredit = 12});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(12));
    engine.RequestStop(sink);
    capturer.join();
    EXPECT_TRUE(sink.recording.load());
    EXPECT_EQ(sink.resets.load(), 1);
    EXPECT_FALSE(sink.errors.Raised()) << sink.errors.Text();
    EXPECT_EQ(sink.Captured(),
              std::vector<std::int16_t>(source.begin(), source.begin() + 12 * kCaptureBufferSamples));
    // Four buffers queued at the start, each filled one queued again.
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Prepare), 4);
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Queue), 4 + 12);
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveInEngine, PauseAndResumeStartTheDeviceAgainWithAllFourBuffers) {
    CVirtualAudioBackend backend({.captureSource = Ramp(10 * kCaptureBufferSamples), .captureCredit = 2});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(2));
    engine.Pause();
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Reset, 1, kTimeout));
    EXPECT_TRUE(engine.IsPaused());
    engine.Resume();
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Start, 2, kTimeout));
    backend.GrantCapture(2);
    ASSERT_TRUE(sink.WaitBlocks(4));
    engine.RequestStop(sink);
    capturer.join();
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Prepare), 8);
    EXPECT_EQ(sink.resets.load(), 1) << "a pause does not restart the elapsed time";
    EXPECT_FALSE(sink.errors.Raised());
}

TEST(WaveInEngine, StopWhilePausedEndsTheRun) {
    CVirtualAudioBackend backend({.captureCredit = 1});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(1));
    engine.Pause();
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Reset, 1, kTimeout));
    engine.RequestStop(sink);
    capturer.join();
    EXPECT_FALSE(engine.IsPaused());
    EXPECT_TRUE(sink.stop.IsSet());
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveInEngine, StopReachesALoopWhoseDeviceHandsNothingBack) {
    // No credit granted at all: the device never fills a buffer.
    CVirtualAudioBackend backend({.captureCredit = 1});
    backend.InjectFault({AudioDirection::Input, DeviceOperation::AllocateMemory, 5, DeviceResult::NoMemory});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(1));
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Queue, 5, kTimeout));
    engine.RequestStop(sink);
    capturer.join();
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(WaveInEngine, OnlyCompletelyFilledBuffersAreHandedOver) {
    // In real time a stop finds a buffer partly filled; the device hands it back short. (Sound that
    // arrives while no buffer is queued is lost, as on a sound card, so blocks may skip ahead.)
    std::vector<std::int16_t> source = Ramp(8000);
    CVirtualAudioBackend backend({.pacing = Pacing::RealTime, .captureSource = source});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(1));
    engine.RequestStop(sink);
    capturer.join();
    const std::vector<std::int16_t> captured = sink.Captured();
    ASSERT_EQ(captured.size() % kCaptureBufferSamples, 0u);
    // Every block handed over is one unbroken stretch of the source, later than the one before.
    for (std::size_t i = 1; i < captured.size(); ++i) {
        if (i % kCaptureBufferSamples != 0) {
            ASSERT_EQ(captured[i], captured[i - 1] + 1) << "at sample " << i;
        } else {
            ASSERT_GT(captured[i], captured[i - 1]) << "at sample " << i;
        }
    }
}

TEST(WaveInEngine, WithoutAnInputDeviceTheRunEndsAtOnce) {
    CVirtualAudioBackend backend({.inputDevices = 0});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    EXPECT_EQ(engine.Open(sink), DeviceResult::Error);
    engine.Run(sink);
    EXPECT_EQ(sink.errors.Text(), " Sound driver is not installed.");
    EXPECT_TRUE(sink.stop.IsSet());
    EXPECT_TRUE(sink.Captured().empty());
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Open), 0);
}

TEST(WaveInEngine, AFailingStartClosesTheDeviceAndStoresItsText) {
    CVirtualAudioBackend backend;
    backend.InjectFault({AudioDirection::Input, DeviceOperation::Start, 1, DeviceResult::NotEnabled});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    engine.Run(sink);
    EXPECT_EQ(sink.errors.Text(), "The sound driver is not enabled.");
    EXPECT_TRUE(sink.stop.IsSet());
    EXPECT_EQ(backend.OpenDevices(), 0);
}

// --- A device that dies during a run, and requests made at awkward moments ---

struct StreamFaultCase {
    const char* name;
    AudioDirection direction;
    DeviceOperation operation;
    int failingCall;
    // Buffers that get through before the failure (accelerated: one transfer per buffer).
    int buffersBefore;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const StreamFaultCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceDiesMidRun : public ::testing::TestWithParam<StreamFaultCase> {};

// A failing stream used to be turned into silence (input) or skipped (output) and the run went on
// as if nothing had happened; now the run ends by itself with the device's text, and what got
// through before the failure is exactly what reaches the other side.
TEST_P(DeviceDiesMidRun, EndsTheRunWithTheDeviceTextAndInventsNoSound) {
    const StreamFaultCase& fault = GetParam();
    const std::vector<std::int16_t> source = Ramp(40 * kCaptureBufferSamples);
    CVirtualAudioBackend backend({.captureSource = source});
    backend.InjectFault({fault.direction, fault.operation, fault.failingCall, DeviceResult::NoDriver});
    const std::string text = DeviceResultText(DeviceResult::NoDriver);
    if (fault.direction == AudioDirection::Input) {
        CFakeCaptureSink sink;
        CWaveInEngine engine(backend);
        engine.Run(sink); // returns by itself: nobody asks it to stop
        EXPECT_EQ(sink.errors.Text(), text);
        EXPECT_TRUE(sink.stop.IsSet());
        EXPECT_EQ(sink.Captured(),
                  std::vector<std::int16_t>(source.begin(),
                                            source.begin() + fault.buffersBefore * kCaptureBufferSamples));
    } else {
        CFakePlaybackFeed feed(std::vector<CFakePlaybackFeed::Block>(40, {2400, false}));
        CWaveOutEngine engine(backend);
        engine.Run(feed);
        EXPECT_EQ(feed.errors.Text(), text);
        EXPECT_EQ(backend.PlayedSamples(), Ramp(fault.buffersBefore * 2400));
    }
    EXPECT_EQ(backend.OpenDevices(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStreamOperation, DeviceDiesMidRun,
    ::testing::Values(
        StreamFaultCase{"InputRead", AudioDirection::Input, DeviceOperation::Transfer, 7, 6},
        StreamFaultCase{"InputStart", AudioDirection::Input, DeviceOperation::StartStream, 1, 0},
        StreamFaultCase{"OutputWrite", AudioDirection::Output, DeviceOperation::Transfer, 4, 3},
        StreamFaultCase{"OutputStart", AudioDirection::Output, DeviceOperation::StartStream, 1, 0}),
    [](const ::testing::TestParamInfo<StreamFaultCase>& param) { return std::string(param.param.name); });

TEST(WaveInEngine, ReportsTheInputLevelAsThePeakOfWhatTheDeviceTookIn) {
    std::vector<std::int16_t> source(8 * kCaptureBufferSamples, 100);
    source[1000] = -32768; // full scale, negative: its magnitude is 32768
    source[3000] = 20000;
    CVirtualAudioBackend backend({.captureSource = source, .captureCredit = 8});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(sink.WaitBlocks(8));
    engine.RequestStop(sink);
    capturer.join();
    const std::vector<int> levels = sink.Levels();
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 32768);
    EXPECT_TRUE(
        std::all_of(levels.begin(), levels.end(), [](int peak) { return peak >= 100 && peak <= 32768; }));
}

TEST(WaveInEngine, APausePressedWhileTheDeviceOpensHoldsFromTheStart) {
    CVirtualAudioBackend backend({.captureSource = Ramp(4 * kCaptureBufferSamples)});
    CFakeCaptureSink sink;
    CWaveInEngine engine(backend);
    engine.Pause(); // before the loop ever looks
    std::jthread capturer([&] { engine.Run(sink); });
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Input, DeviceOperation::Open, 1, kTimeout));
    engine.RequestStop(sink);
    capturer.join();
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Start), 0);
    EXPECT_TRUE(sink.Captured().empty());
    EXPECT_FALSE(sink.errors.Raised());
}

TEST(WaveOutEngine, APausePressedWhileTheDeviceOpensHoldsFromTheStart) {
    CVirtualAudioBackend backend;
    CFakePlaybackFeed feed({{2400, false}, {2400, true}});
    CWaveOutEngine engine(backend);
    engine.Pause();
    std::jthread player([&] { engine.Run(feed); });
    // Open hands the pause to the device before the first buffer goes out.
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Output, DeviceOperation::Pause, 1, kTimeout));
    EXPECT_TRUE(backend.PlayedSamples().empty());
    EXPECT_TRUE(engine.IsPaused());
    engine.Restart();
    player.join();
    EXPECT_EQ(backend.PlayedSamples(), Ramp(4800));
}

TEST(WaveOutEngine, PausingWhileTheEndPlaysOutKeepsTheTail) {
    CVirtualAudioBackend backend({.playbackCredit = 1});
    CFakePlaybackFeed feed({{2400, false}, {2400, false}, {2400, true}});
    CWaveOutEngine engine(backend);
    std::jthread player([&] { engine.Run(feed); });
    ASSERT_TRUE(backend.WaitForPlayed(2400, kTimeout));
    engine.Pause();
    ASSERT_TRUE(backend.WaitForCalls(AudioDirection::Output, DeviceOperation::Pause, 1, kTimeout));
    // The end is queued while paused; the play-out allowance (600 ms + 200 ms) passes well within
    // this wait, and a paused end must not be reset away.
    EXPECT_FALSE(backend.WaitForCalls(AudioDirection::Output, DeviceOperation::Reset, 1, 1500ms));
    engine.Restart();
    backend.GrantPlayback(2);
    player.join();
    EXPECT_EQ(backend.PlayedSamples(), Ramp(7200));
    EXPECT_FALSE(feed.errors.Raised());
}

TEST(WaveOutEngine, ABlockIsReportedOnlyOnceTheDeviceHasPlayedIt) {
    CVirtualAudioBackend backend;
    CFakePlaybackFeed feed({{2400, false}, {2400, false}, {2400, false}, {2400, false}, {1200, true}});
    feed.playedNow = [&] { return backend.PlayedSamples().size(); };
    CWaveOutEngine engine(backend);
    engine.Run(feed);
    EXPECT_EQ(feed.Heard(), (std::vector<int>{1, 2, 3, 4, 5}));
    const std::vector<int> playedWhenHeard = feed.SamplesPlayedWhenHeard();
    ASSERT_EQ(playedWhenHeard.size(), 5u);
    for (std::size_t k = 0; k < playedWhenHeard.size(); ++k) {
        EXPECT_GE(playedWhenHeard[k], std::min<int>(static_cast<int>(k + 1) * 2400, 4 * 2400 + 1200))
            << "block " << k + 1 << " was reported before it was heard";
    }
}

} // namespace
} // namespace velmar
