// The capture and playback channels on their own: ring order, full and empty rings, the reports a
// block causes, the codec state's life, and the rings under concurrent producers, consumers and
// resets (run under ThreadSanitizer too).
#include "pipeline/Channels.h"

#include "ReportLog.h"
#include "SpeechSamples.h"
#include "audio/VirtualAudioDevice.h"
#include "pipeline/BlockRing.h"
#include "pipeline/Pipeline.h"
#include "pipeline/RunContext.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <vector>

namespace velmar {
namespace {

using test::CReportLog;

class ChannelTest : public ::testing::Test {
protected:
    ChannelTest() {
        capture.Allocate(kCaptureBlockSamples);
        playback.Allocate(kPlaybackBlockSamples);
    }

    static std::span<const std::int16_t, kCaptureBlockSamples> Block(const std::vector<std::int16_t>& samples,
                                                                     int index) {
        return std::span<const std::int16_t, kCaptureBlockSamples>(
            samples.data() + index * kCaptureBlockSamples, kCaptureBlockSamples);
    }

    bool Put(const std::vector<std::uint8_t>& bytes, int position, bool endMark = false) {
        return playback.DecodePut(bytes, position, static_cast<int>(bytes.size()), endMark);
    }

    // Takes a block as the playback engine does and, like a device that plays at once, reports it
    // heard; true when nothing was taken.
    bool Take(int& count, bool& endMark) {
        BlockPlace place;
        const bool nothing = playback.TakeDecoded(destination, count, endMark, place);
        if (!nothing) {
            playback.ReportHeard(place);
        }
        return nothing;
    }

    CReportLog reports;
    CRunContext run{reports};
    CCaptureChannel capture{run};
    CPlaybackChannel playback{run};
    std::array<std::int16_t, kPlaybackBlockSamples> destination{};
    std::array<std::uint8_t, kEncodedBlockBytes> frames{};
};

TEST_F(ChannelTest, AFreshPipelineHasNothingAllocatedAndNothingSignalled) {
    CVirtualAudioBackend backend;
    CPipeline fresh(reports, backend);
    EXPECT_FALSE(fresh.CaptureChannel().HasBuffers());
    EXPECT_FALSE(fresh.CaptureChannel().HasCodec());
    EXPECT_FALSE(fresh.PlaybackChannel().HasBuffers());
    EXPECT_FALSE(fresh.PlaybackChannel().HasCodec());
    EXPECT_FALSE(fresh.IsRecording() || fresh.IsPlaying() || fresh.HasError());
    EXPECT_FALSE(fresh.AnySignalled());
}

TEST_F(ChannelTest, CapturedBlocksAreEncodedInOrderAndAFullRingDropsTheRest) {
    const std::vector<std::int16_t> signal = test::SpeechLikeSignal(12 * kCaptureBlockSamples, 31);
    for (int i = 0; i < 12; ++i) {
        capture.PutCaptured(Block(signal, i));
    }
    EXPECT_EQ(capture.DroppedBlocks(), 2);
    EXPECT_FALSE(run.HasError()) << "a dropped block is no error";
    std::vector<std::uint8_t> encoded;
    while (capture.TakeEncoded(frames)) {
        encoded.insert(encoded.end(), frames.begin(), frames.end());
    }
    const std::vector<std::int16_t> firstTen(signal.begin(), signal.begin() + 10 * kCaptureBlockSamples);
    EXPECT_TRUE(encoded == test::EncodeSamples(firstTen));
    EXPECT_EQ(capture.FramesEncoded(), 30);
    // Room again once taken.
    capture.PutCaptured(Block(signal, 11));
    EXPECT_EQ(capture.DroppedBlocks(), 2);
    EXPECT_TRUE(capture.TakeEncoded(frames));
}

TEST_F(ChannelTest, EncodingReportsTheElapsedTime) {
    const std::vector<std::int16_t> signal(4 * kCaptureBlockSamples, 0);
    for (int i = 0; i < 4; ++i) {
        capture.PutCaptured(Block(signal, i));
        ASSERT_TRUE(capture.TakeEncoded(frames));
    }
    EXPECT_EQ(reports.Elapsed(), (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(ChannelTest, NothingIsEncodedFromAnEmptyOrReleasedRing) {
    EXPECT_FALSE(capture.TakeEncoded(frames));
    const std::vector<std::int16_t> signal(kCaptureBlockSamples, 100);
    capture.Release();
    capture.PutCaptured(Block(signal, 0)); // no buffers: dropped
    EXPECT_FALSE(capture.TakeEncoded(frames));
    EXPECT_TRUE(reports.Elapsed().empty());
}

TEST_F(ChannelTest, AChunkDecodesIntoOneBlockOfItsWholeFrames) {
    const std::vector<std::uint8_t> chunk = test::RandomFrameBytes(100, 32); // 5 frames and 10 bytes
    ASSERT_TRUE(Put(chunk, 5));
    int count = -1;
    bool endMark = false;
    EXPECT_FALSE(Take(count, endMark));
    ASSERT_EQ(count, 1200);
    EXPECT_FALSE(endMark);
    const std::vector<std::int16_t> expected = test::DecodeBytes(chunk);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), destination.begin()));
}

TEST_F(ChannelTest, AnEmptyEndChunkIsTakenWithItsEndMark) {
    ASSERT_TRUE(playback.DecodePut({}, 0, 0, true));
    // The reader stays for late seeks after the end, so the end block itself must wake the player.
    EXPECT_TRUE(run.PlayDataSignalled());
    int count = -1;
    bool endMark = false;
    EXPECT_FALSE(Take(count, endMark)) << "the block was taken";
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(endMark);
}

TEST_F(ChannelTest, TakingFromAnEmptyRingLeavesTheEndMarkAlone) {
    int count = -1;
    bool endMark = true;
    EXPECT_TRUE(Take(count, endMark));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(endMark);
    endMark = false;
    EXPECT_TRUE(Take(count, endMark));
    EXPECT_FALSE(endMark);
    EXPECT_FALSE(run.PlayDataSignalled());
}

TEST_F(ChannelTest, AFullPlaybackRingAsksTheReaderToWaitAndWakesThePlayer) {
    const std::vector<std::uint8_t> chunk = test::RandomFrameBytes(kReadChunkBytes, 33);
    run.SignalPlayRoom();
    EXPECT_TRUE(Put(chunk, 10));
    EXPECT_TRUE(Put(chunk, 20));
    EXPECT_FALSE(run.PlayDataSignalled()) << "the player is woken only by a full ring";
    EXPECT_FALSE(Put(chunk, 30));
    EXPECT_FALSE(run.PlayRoomSignalled());
    EXPECT_TRUE(run.PlayDataSignalled());
    int count = 0;
    bool endMark = false;
    EXPECT_FALSE(Take(count, endMark));
    EXPECT_TRUE(run.PlayRoomSignalled());
    EXPECT_TRUE(Put(chunk, 30));
}

TEST_F(ChannelTest, APlayedBlockReportsItsTimeAndSliderPosition) {
    playback.SetTotalFrames(1000);
    const std::vector<std::uint8_t> chunk = test::RandomFrameBytes(kReadChunkBytes, 34);
    int count = 0;
    bool endMark = false;
    for (const int position : {10, -1, 500}) {
        ASSERT_TRUE(Put(chunk, position));
        ASSERT_FALSE(Take(count, endMark));
    }
    EXPECT_EQ(reports.Elapsed(), (std::vector<int>{3, 150}));
    EXPECT_EQ(reports.Percents(), (std::vector<int>{1, 50}));
}

TEST_F(ChannelTest, ResetRingDiscardsDecodedBlocksNotYetPlayed) {
    const std::vector<std::uint8_t> chunk = test::RandomFrameBytes(kReadChunkBytes, 35);
    ASSERT_TRUE(Put(chunk, 10));
    ASSERT_TRUE(Put(chunk, 20));
    run.ClearPlayRoom();
    playback.ResetRing();
    EXPECT_TRUE(run.PlayRoomSignalled());
    int count = 0;
    bool endMark = false;
    EXPECT_TRUE(Take(count, endMark)) << "nothing left to take";
    ASSERT_TRUE(Put(chunk, 500));
    playback.SetTotalFrames(1000);
    EXPECT_FALSE(Take(count, endMark));
    EXPECT_EQ(count, kPlaybackBlockSamples);
    EXPECT_EQ(reports.Percents(), std::vector<int>{50});
    // A block taken before a seek and heard after it must not pull the slider back to its place.
    ASSERT_TRUE(Put(chunk, 600));
    BlockPlace place;
    ASSERT_FALSE(playback.TakeDecoded(destination, count, endMark, place));
    playback.ResetRing();
    playback.ReportHeard(place);
    EXPECT_EQ(reports.Percents(), std::vector<int>{50});
}

TEST_F(ChannelTest, EveryAllocateAfterReleaseStartsAFreshCodecState) {
    const std::vector<std::uint8_t> chunk = test::RandomFrameBytes(kReadChunkBytes, 36);
    const std::vector<std::int16_t> fresh = test::DecodeBytes(chunk);
    int count = 0;
    bool endMark = false;
    const auto decodeOnce = [&] {
        EXPECT_TRUE(Put(chunk, 0));
        EXPECT_FALSE(Take(count, endMark));
        return std::vector<std::int16_t>(destination.begin(), destination.begin() + count);
    };
    EXPECT_EQ(decodeOnce(), fresh);
    // Allocating again without a release keeps the state: the same frames now decode differently.
    playback.Allocate(kPlaybackBlockSamples);
    EXPECT_NE(decodeOnce(), fresh);
    playback.Release();
    EXPECT_FALSE(playback.HasCodec());
    EXPECT_FALSE(playback.HasBuffers());
    playback.Allocate(kPlaybackBlockSamples);
    EXPECT_EQ(decodeOnce(), fresh);
}

TEST_F(ChannelTest, ErrorTextsRaiseTheFlagsAndAreCutToTheirBuffer) {
    capture.SetErrorText("Input/output error: " + std::string(500, 'p'));
    EXPECT_TRUE(run.HasError());
    EXPECT_TRUE(capture.ErrorFlag());
    EXPECT_FALSE(playback.ErrorFlag());
    EXPECT_EQ(capture.ErrorText().size(), static_cast<std::size_t>(kErrorTextSize - 1));
    capture.Allocate(kCaptureBlockSamples);
    EXPECT_FALSE(capture.ErrorFlag());
    EXPECT_EQ(capture.ErrorText(), "");
}

// A producer and a consumer flat out on one ring: every item arrives, once, in order.
TEST(BlockRing, KeepsOrderWithAProducerAndAConsumerRunningFlatOut) {
    constexpr int kItems = 200'000;
    constexpr int kSlots = 10;
    CBlockRing<kSlots> ring;
    std::array<int, kSlots> slots{};
    std::vector<int> received;
    received.reserve(kItems);
    std::jthread producer([&] {
        for (int item = 0; item < kItems;) {
            if (!ring.Full()) {
                slots[static_cast<std::size_t>(ring.HeadSlot())] = item++;
                ring.Publish();
            } else {
                std::this_thread::yield();
            }
        }
    });
    while (static_cast<int>(received.size()) < kItems) {
        if (!ring.Empty()) {
            received.push_back(slots[static_cast<std::size_t>(ring.TailSlot())]);
            ring.Consume();
        } else {
            std::this_thread::yield();
        }
    }
    producer.join();
    for (int i = 0; i < kItems; ++i) {
        ASSERT_EQ(received[static_cast<std::size_t>(i)], i);
    }
}

// The reader, the player and a third thread resetting the ring all at once: blocks are discarded,
// never reordered or repeated, and nobody waits for ever.
TEST_F(ChannelTest, ResetsFromAnotherThreadNeverReorderOrRepeatBlocks) {
    constexpr int kPositions = 100;
    constexpr int kRounds = 20;
    playback.SetTotalFrames(kPositions);
    const std::vector<std::uint8_t> frame = test::RandomFrameBytes(kPackedFrameBytes, 37);
    std::atomic<bool> producing{true};
    std::jthread reader([&] {
        for (int round = 0; round < kRounds; ++round) {
            for (int position = 0; position < kPositions; ++position) {
                while (!Put(frame, position)) {
                    run.AwaitPlayRoom();
                }
            }
        }
        producing.store(false);
        playback.EndFeed();
    });
    std::jthread resetter([&] {
        int resets = 0;
        while (producing.load() && resets < 2000) {
            playback.ResetRing();
            ++resets;
            std::this_thread::yield();
        }
    });
    int count = 0;
    bool endMark = false;
    for (;;) {
        if (!Take(count, endMark)) {
            continue;
        }
        if (playback.FeedEnded() && Take(count, endMark)) {
            break;
        }
        playback.WaitPlayData();
    }
    reader.join();
    resetter.join();
    // Within each round positions rise; a fall starts the next round.
    const std::vector<int> percents = reports.Percents();
    int rounds = percents.empty() ? 0 : 1;
    for (std::size_t i = 1; i < percents.size(); ++i) {
        ASSERT_NE(percents[i], percents[i - 1]) << "a block came twice at " << i;
        if (percents[i] < percents[i - 1]) {
            ++rounds;
        }
    }
    EXPECT_LE(rounds, kRounds);
}

} // namespace
} // namespace velmar
