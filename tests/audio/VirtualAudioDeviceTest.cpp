// The device service as the virtual sound card implements it: the wave-device rules for buffers and
// the notification event, capture from a source, playback into a sink, and injected failures.
#include "audio/VirtualAudioDevice.h"

#include "audio/Event.h"

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <vector>

namespace velmar {
namespace {

using namespace std::chrono_literals;
constexpr auto kTimeout = 20s;

// One device buffer with its own memory.
struct TestBuffer {
    explicit TestBuffer(int samples)
        : memory(static_cast<std::size_t>(samples)) {
        header.data = memory.data();
        header.bufferLength = samples * 2;
    }
    bool Done() const { return (header.flags.load(std::memory_order_acquire) & kBufferDone) != 0; }
    std::vector<std::int16_t> memory;
    DeviceBuffer header;
};

// Waits until `buffer` is handed back, on the device's notification event.
bool AwaitDone(CEvent& event, const TestBuffer& buffer) {
    while (!buffer.Done()) {
        if (!event.WaitFor(kTimeout)) {
            return false;
        }
    }
    return true;
}

TEST(VirtualAudioDevice, RefusesWhatAWaveDeviceRefuses) {
    CVirtualAudioBackend backend;
    auto device = backend.CreateDevice(AudioDirection::Output);
    CEvent event(EventReset::Manual);
    TestBuffer buffer(100);
    EXPECT_EQ(device->Prepare(buffer.header), DeviceResult::InvalidHandle);
    EXPECT_EQ(device->Queue(buffer.header), DeviceResult::InvalidHandle);
    EXPECT_EQ(device->Reset(), DeviceResult::InvalidHandle);
    EXPECT_EQ(device->Close(), DeviceResult::InvalidHandle);
    EXPECT_EQ(device->Open(PcmFormat{.samplesPerSec = 44100}, event), DeviceResult::BadFormat);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    EXPECT_TRUE(event.IsSet()) << "opening signals the event";
    EXPECT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Allocated);
    EXPECT_EQ(device->Queue(buffer.header), DeviceResult::Unprepared);
    EXPECT_EQ(device->Start(), DeviceResult::NotSupported) << "output devices do not start";
    TestBuffer empty(0);
    EXPECT_EQ(device->Prepare(empty.header), DeviceResult::InvalidParameter);
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
    EXPECT_EQ(backend.OpenDevices(), 0);
}

TEST(VirtualAudioDevice, PlaysQueuedBuffersInOrderAndHandsThemBack) {
    CVirtualAudioBackend backend;
    auto device = backend.CreateDevice(AudioDirection::Output);
    CEvent event(EventReset::Manual);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    TestBuffer first(300);
    TestBuffer second(200);
    std::iota(first.memory.begin(), first.memory.end(), std::int16_t{0});
    std::iota(second.memory.begin(), second.memory.end(), std::int16_t{300});
    for (TestBuffer* buffer : {&first, &second}) {
        ASSERT_EQ(device->Prepare(buffer->header), DeviceResult::Ok);
        ASSERT_EQ(device->Queue(buffer->header), DeviceResult::Ok);
    }
    ASSERT_TRUE(AwaitDone(event, second));
    EXPECT_TRUE(first.Done());
    std::vector<std::int16_t> expected(500);
    std::iota(expected.begin(), expected.end(), std::int16_t{0});
    EXPECT_EQ(backend.PlayedSamples(), expected);
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
}

TEST(VirtualAudioDevice, ABufferStillQueuedCannotBeQueuedAgain) {
    CVirtualAudioBackend backend({.playbackCredit = 1});
    auto device = backend.CreateDevice(AudioDirection::Output);
    CEvent event(EventReset::Manual);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    TestBuffer first(100);
    TestBuffer second(100);
    ASSERT_EQ(device->Prepare(first.header), DeviceResult::Ok);
    ASSERT_EQ(device->Prepare(second.header), DeviceResult::Ok);
    ASSERT_EQ(device->Queue(first.header), DeviceResult::Ok);
    ASSERT_EQ(device->Queue(second.header), DeviceResult::Ok);
    ASSERT_TRUE(AwaitDone(event, first));
    EXPECT_EQ(device->Queue(second.header), DeviceResult::StillPlaying);
    // Closing hands back what the device still holds.
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
    EXPECT_TRUE(second.Done());
    EXPECT_EQ(backend.PlayedSamples().size(), 100u);
}

TEST(VirtualAudioDevice, PauseHoldsPlaybackUntilRestart) {
    CVirtualAudioBackend backend({.playbackCredit = 1});
    auto device = backend.CreateDevice(AudioDirection::Output);
    CEvent event(EventReset::Manual);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    std::array<TestBuffer, 3> buffers{TestBuffer(50), TestBuffer(50), TestBuffer(50)};
    for (TestBuffer& buffer : buffers) {
        ASSERT_EQ(device->Prepare(buffer.header), DeviceResult::Ok);
        ASSERT_EQ(device->Queue(buffer.header), DeviceResult::Ok);
    }
    ASSERT_TRUE(AwaitDone(event, buffers[0]));
    ASSERT_EQ(device->Pause(), DeviceResult::Ok);
    ASSERT_EQ(device->Restart(), DeviceResult::Ok);
    backend.GrantPlayback(2);
    ASSERT_TRUE(AwaitDone(event, buffers[2]));
    EXPECT_EQ(backend.PlayedSamples().size(), 150u);
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
}

TEST(VirtualAudioDevice, CapturesTheSourceInOrderThenSilence) {
    std::vector<std::int16_t> source(150);
    std::iota(source.begin(), source.end(), std::int16_t{1});
    CVirtualAudioBackend backend({.captureSource = source});
    auto device = backend.CreateDevice(AudioDirection::Input);
    CEvent event(EventReset::Auto);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    TestBuffer first(100);
    TestBuffer second(100);
    for (TestBuffer* buffer : {&first, &second}) {
        ASSERT_EQ(device->Prepare(buffer->header), DeviceResult::Ok);
        ASSERT_EQ(device->Queue(buffer->header), DeviceResult::Ok);
    }
    ASSERT_EQ(device->Start(), DeviceResult::Ok);
    ASSERT_TRUE(AwaitDone(event, second));
    EXPECT_EQ(first.header.bytesRecorded.load(), 200);
    EXPECT_EQ(second.header.bytesRecorded.load(), 200);
    EXPECT_EQ(first.memory, std::vector<std::int16_t>(source.begin(), source.begin() + 100));
    std::vector<std::int16_t> expected(source.begin() + 100, source.end());
    expected.resize(100, 0);
    EXPECT_EQ(second.memory, expected);
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
}

TEST(VirtualAudioDevice, ResetHandsBackABufferPartlyFilled) {
    CVirtualAudioBackend backend(
        {.pacing = Pacing::RealTime, .captureSource = std::vector<std::int16_t>(8000, 5)});
    auto device = backend.CreateDevice(AudioDirection::Input);
    CEvent event(EventReset::Auto);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    TestBuffer buffer(4000); // half a second: a reset comes long before it is full
    ASSERT_EQ(device->Prepare(buffer.header), DeviceResult::Ok);
    ASSERT_EQ(device->Queue(buffer.header), DeviceResult::Ok);
    ASSERT_EQ(device->Start(), DeviceResult::Ok);
    // Two chunks captured: the first one is then surely counted in the buffer.
    ASSERT_TRUE(backend.WaitForCaptured(320, kTimeout));
    ASSERT_EQ(device->Reset(), DeviceResult::Ok);
    EXPECT_TRUE(buffer.Done());
    const int recorded = buffer.header.bytesRecorded.load();
    EXPECT_GE(recorded, 320);
    EXPECT_LT(recorded, 8000);
    EXPECT_EQ(recorded % 320, 0) << "whole 20 ms chunks";
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
}

TEST(VirtualAudioDevice, AnInjectedFaultFailsExactlyTheChosenCall) {
    CVirtualAudioBackend backend;
    backend.InjectFault({AudioDirection::Output, DeviceOperation::Prepare, 2, DeviceResult::NoMemory});
    auto device = backend.CreateDevice(AudioDirection::Output);
    CEvent event(EventReset::Manual);
    ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
    TestBuffer buffer(10);
    EXPECT_EQ(device->Prepare(buffer.header), DeviceResult::Ok);
    EXPECT_EQ(device->Prepare(buffer.header), DeviceResult::NoMemory);
    EXPECT_EQ(device->Prepare(buffer.header), DeviceResult::Ok);
    EXPECT_EQ(backend.CallCount(AudioDirection::Output, DeviceOperation::Prepare), 3);
    EXPECT_EQ(backend.CallCount(AudioDirection::Input, DeviceOperation::Prepare), 0);
    EXPECT_EQ(device->ErrorText(DeviceResult::NoMemory), "There is not enough memory for the sound device.");
    EXPECT_EQ(device->Close(), DeviceResult::Ok);
}

TEST(VirtualAudioDevice, ADeviceLeftOpenIsClosedWithItsObject) {
    CVirtualAudioBackend backend;
    backend.InjectFault({AudioDirection::Input, DeviceOperation::Close, 1, DeviceResult::Error});
    {
        auto device = backend.CreateDevice(AudioDirection::Input);
        CEvent event(EventReset::Auto);
        ASSERT_EQ(device->Open(PcmFormat{}, event), DeviceResult::Ok);
        EXPECT_EQ(device->Close(), DeviceResult::Error);
        EXPECT_EQ(backend.OpenDevices(), 1);
        device.reset();
    }
    EXPECT_EQ(backend.OpenDevices(), 0);
    EXPECT_EQ(backend.LiveDevices(), 0);
}

TEST(VirtualAudioDevice, CountsNoDevicesWhenConfiguredWithout) {
    CVirtualAudioBackend backend({.inputDevices = 0, .outputDevices = 2});
    EXPECT_EQ(backend.CreateDevice(AudioDirection::Input)->DeviceCount(), 0);
    EXPECT_EQ(backend.CreateDevice(AudioDirection::Output)->DeviceCount(), 2);
}

} // namespace
} // namespace velmar
