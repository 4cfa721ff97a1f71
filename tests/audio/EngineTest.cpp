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
    bool TakeDecoded(std::span<std::int16_t, kPlaybackBufferSamples> destination, int& count,
                     bool& endMark) override {
        std::lock_guard lock(mutex);
        if (blocks.empty()) {
            count = 0;
            return true;
        }
        const Block block = blocks.front();
        blocks.pop_front();
        for (int i = 0; i < block.samples; ++i) {
            destination[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(next++);
        }
        count = block.samples;
        endMark = block.endMark;
        return false;
    }
    // The fake always has its blocks at hand, or has ended.
    void WaitPlayData() override {}
    bool FeedEnded() const override {
        std::lock_guard lock(mutex);
        return blocks.empty();
    }

    CFakeErrors errors;
    CEvent stop{EventReset::Manual};
    std::atomic<bool> playing{false};

private:
    mutable std::mutex mutex;
    std::deque<Block> blocks;
    int next = 0;
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
    void PutCaptured(std::span<const std::int16_t, kCaptureBufferSamples> samples) override {
        std::lock_guard lock(mutex);
        captured.insert(captured.end(), samples.begin(), samples.end());
        ++blocks;
        changed.notify_all();
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

} // namespace
} // namespace velmar
