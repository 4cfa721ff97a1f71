// Whole runs of the pipeline on the virtual sound card: what is recorded and played, the reports the
// owner gets, pause, seek and hold, every failure a run can meet, and many runs in a row.
#include "pipeline/Pipeline.h"

#include "ReportLog.h"
#include "SpeechSamples.h"
#include "audio/VirtualAudioDevice.h"
#include "pipeline/Conversions.h"
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>

namespace velmar {
namespace {

using test::CReportLog;
using test::kGenerousTimeout;
using namespace std::chrono_literals;

constexpr std::int64_t kBlock = kCaptureBlockSamples;

class PipelineRun : public ::testing::Test {
protected:
    void Make(VirtualAudioConfig config = {}) {
        pipeline.reset();
        backend.emplace(std::move(config));
        pipeline.emplace(reports, *backend);
    }

    // Records with capture held to the encoder's pace, so the ring never overflows.
    void PaceCaptureByEncoder() {
        reports.OnElapsed([this] { backend->GrantCapture(1); });
    }

    std::filesystem::path WritePrm(const std::vector<std::uint8_t>& bytes, const char* name = "in.prm") {
        const auto path = dir.Path() / name;
        test::WriteBytes(path, bytes);
        return path;
    }

    void ExpectNoDeviceLeft() {
        EXPECT_EQ(backend->OpenDevices(), 0);
        EXPECT_EQ(backend->LiveDevices(), 0);
    }

    test::CTempDir dir;
    CReportLog reports;
    // Destroyed in reverse: the pipeline before the backend it uses.
    std::optional<CVirtualAudioBackend> backend;
    std::optional<CPipeline> pipeline;
};

TEST_F(PipelineRun, RecordingHoldsExactlyTheFramesTheEncoderMakesOfTheCapturedSamples) {
    constexpr int kBlocks = 40;
    SCOPED_TRACE(testing::Message() << "seed " << test::kDefaultSeed);
    const std::vector<std::int16_t> signal = test::SpeechLikeSignal(kBlocks * kBlock, test::kDefaultSeed);
    Make({.captureSource = signal, .captureCredit = 6});
    PaceCaptureByEncoder();
    const auto path = dir.Path() / "rec.prm";

    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    // One block more than the signal: every block of the signal has then been handed back whole.
    ASSERT_TRUE(backend->WaitForCaptured((kBlocks + 1) * kBlock, kGenerousTimeout));
    EXPECT_TRUE(pipeline->Stop());

    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(pipeline->HasError()) << pipeline->CaptureErrorText();
    EXPECT_FALSE(pipeline->IsRecording());
    EXPECT_EQ(pipeline->CaptureChannel().DroppedBlocks(), 0);
    const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size() % kEncodedBlockBytes, 0u);
    const std::size_t blocksWritten = bytes.size() / kEncodedBlockBytes;
    ASSERT_GE(blocksWritten, static_cast<std::size_t>(kBlocks));
    // Silence follows the signal on the virtual card.
    std::vector<std::int16_t> captured = signal;
    captured.resize(blocksWritten * kBlock, 0);
    EXPECT_TRUE(bytes == test::EncodeSamples(captured)) << "the file differs from the encoded capture";
    EXPECT_FALSE(bytes == test::EncodeSamples(captured, 1)) << "the effort-1 encoder would choose otherwise";

    const std::vector<int> elapsed = reports.Elapsed();
    ASSERT_EQ(elapsed.size(), blocksWritten);
    EXPECT_TRUE(std::is_sorted(elapsed.begin(), elapsed.end()));
    EXPECT_EQ(elapsed.back(), FramesToTenths(static_cast<int>(blocksWritten) * kFramesPerCaptureBlock));
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, ARecordingAtAnEffortHoldsWhatThatEncoderMakes) {
    constexpr int kBlocks = 8;
    const std::vector<std::int16_t> signal = test::SpeechLikeSignal(kBlocks * kBlock, test::kDefaultSeed + 2);
    Make({.captureSource = signal, .captureCredit = 4});
    PaceCaptureByEncoder();
    const auto path = dir.Path() / "better.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string(), 1));
    ASSERT_TRUE(backend->WaitForCaptured((kBlocks + 1) * kBlock, kGenerousTimeout));
    pipeline->Stop();
    const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_GE(bytes.size(), static_cast<std::size_t>(kBlocks) * kEncodedBlockBytes);
    std::vector<std::int16_t> captured = signal;
    captured.resize(bytes.size() / kPackedFrameBytes * kFrameSamples, 0);
    EXPECT_TRUE(bytes == test::EncodeSamples(captured, 1)) << "not what the effort-1 encoder makes";
}

TEST_F(PipelineRun, ASecondRecordingStartsFromAFreshEncoderStateAndKeepsEveryBlock) {
    const std::vector<std::int16_t> signal = test::SpeechLikeSignal(20 * kBlock, test::kDefaultSeed + 1);
    Make({.captureSource = signal, .captureCredit = 6});
    PaceCaptureByEncoder();
    const auto first = dir.Path() / "first.prm";
    const auto second = dir.Path() / "second.prm";
    ASSERT_TRUE(pipeline->StartRecording(first.string()));
    ASSERT_TRUE(backend->WaitForCaptured(6 * kBlock, kGenerousTimeout));
    pipeline->Stop();
    const std::int64_t capturedBefore = backend->CapturedSamples();
    ASSERT_TRUE(pipeline->StartRecording(second.string()));
    ASSERT_TRUE(backend->WaitForCaptured(capturedBefore + 6 * kBlock, kGenerousTimeout));
    pipeline->Stop();

    // The second file is the encoding, from a fresh state, of samples that follow the first run's.
    const std::vector<std::uint8_t> bytes = test::ReadBytes(second);
    ASSERT_GE(bytes.size(), static_cast<std::size_t>(kEncodedBlockBytes));
    const std::vector<std::uint8_t> firstBytes = test::ReadBytes(first);
    const std::size_t firstSamples = firstBytes.size() / kPackedFrameBytes * kFrameSamples;
    std::vector<std::int16_t> stream = signal;
    stream.resize(static_cast<std::size_t>(capturedBefore) +
                      bytes.size() / kPackedFrameBytes * kFrameSamples + 4 * kBlock,
                  0);
    // A block cut short by the first stop lies between the two files; the second file must begin
    // with the very first sample its own run captured.
    std::optional<std::size_t> found;
    for (std::size_t start = firstSamples; start <= static_cast<std::size_t>(capturedBefore) && !found;
         start += kBlock) {
        const std::vector<std::int16_t> part(
            stream.begin() + static_cast<std::ptrdiff_t>(start),
            stream.begin() + static_cast<std::ptrdiff_t>(start) +
                static_cast<std::ptrdiff_t>(bytes.size() / kPackedFrameBytes * kFrameSamples));
        if (test::EncodeSamples(part) == bytes) {
            found = start;
        }
    }
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(*found, static_cast<std::size_t>(capturedBefore)) << "the second run lost its first blocks";
    EXPECT_EQ(pipeline->CaptureChannel().DroppedBlocks(), 0);
    EXPECT_TRUE(pipeline->CaptureLossText().empty());
    EXPECT_EQ(reports.Stopped(), 2);
}

struct FileCase {
    const char* name;
    int bytes;
    int durationTenths;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name << " (" << c.bytes << " bytes)";
}

class PlaybackOfFile : public PipelineRun, public ::testing::WithParamInterface<FileCase> {};

TEST_P(PlaybackOfFile, PlaysEveryWholeFrameAndReportsItsTimes) {
    const FileCase& file = GetParam();
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(file.bytes, test::kDefaultSeed);
    Make();
    const auto path = WritePrm(bytes);
    ASSERT_TRUE(pipeline->StartPlayback(path.string(), 0));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();

    EXPECT_FALSE(pipeline->HasError()) << pipeline->PlaybackErrorText();
    EXPECT_TRUE(backend->PlayedSamples() == test::DecodeBytes(bytes)) << "played samples differ";
    EXPECT_EQ(reports.Durations(), std::vector<int>{file.durationTenths});
    const int frames = file.bytes / kPackedFrameBytes;
    const std::vector<int> elapsed = reports.Elapsed();
    const std::vector<int> percents = reports.Percents();
    if (frames == 0) {
        EXPECT_TRUE(percents.empty() || percents.back() == 0);
    } else {
        ASSERT_FALSE(elapsed.empty());
        EXPECT_EQ(elapsed.back(), FramesToTenths(frames));
        EXPECT_EQ(percents.back(), 100);
        EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    }
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(pipeline->IsPlaying());
    ExpectNoDeviceLeft();
}

INSTANTIATE_TEST_SUITE_P(Sizes, PlaybackOfFile,
                         ::testing::Values(FileCase{"Empty", 0, 0}, FileCase{"LessThanAFrame", 17, 0},
                                           FileCase{"TenFramesAndTenBytes", 190, 3},
                                           FileCase{"HundredFrames", 1800, 30},
                                           FileCase{"NotAMultipleOf18", 18 * 37 + 11, 11},
                                           FileCase{"ThreeHundredFrames", 5400, 90}),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// At the real pace of a sound card the last two buffers of a file (up to 600 ms) are still playing
// when the end block has been queued; they must play out before the device is reset.
TEST_F(PipelineRun, AtRealTimeTheEndOfTheFilePlaysOutInFull) {
    for (int frames : {102, 110}) {
        SCOPED_TRACE(frames);
        const std::vector<std::uint8_t> bytes =
            test::RandomFrameBytes(frames * kPackedFrameBytes, test::kDefaultSeed);
        VirtualAudioConfig config;
        config.pacing = Pacing::RealTime;
        Make(config);
        reports.Clear();
        const auto path = WritePrm(bytes);
        ASSERT_TRUE(pipeline->StartPlayback(path.string(), 0));
        ASSERT_TRUE(reports.WaitStopped(1));
        pipeline->Stop();
        EXPECT_FALSE(pipeline->HasError()) << pipeline->PlaybackErrorText();
        EXPECT_EQ(backend->PlayedSamples().size(), static_cast<std::size_t>(frames) * kFrameSamples);
        EXPECT_TRUE(backend->PlayedSamples() == test::DecodeBytes(bytes)) << "played samples differ";
    }
}

TEST_F(PipelineRun, EnhancedPlaybackPlaysThePostFilteredDecoding) {
    const std::vector<std::uint8_t> bytes = test::ReadBytes(VELMAR_SAMPLE_PRM);
    Make();
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0, DecodeMode::Enhanced));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    const std::vector<std::int16_t> played = backend->PlayedSamples();
    EXPECT_TRUE(played == test::DecodeBytes(bytes, DecodeMode::Enhanced)) << "not the enhanced decoding";
    EXPECT_FALSE(played == test::DecodeBytes(bytes, DecodeMode::Plain));
}

TEST_F(PipelineRun, PlaybackFromHalfwayStartsAtThatFrame) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(1000 * kPackedFrameBytes, 7);
    Make();
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 50));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    // Frame 500, byte 9000: decoded from there with a fresh state.
    const std::vector<std::uint8_t> tail(bytes.begin() + 9000, bytes.end());
    EXPECT_TRUE(backend->PlayedSamples() == test::DecodeBytes(tail));
    const std::vector<int> percents = reports.Percents();
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.front(), 51); // the first block reaches frame 510
    EXPECT_EQ(reports.Elapsed().front(), 153);
}

TEST_F(PipelineRun, PauseAndResumeOfPlaybackLoseNothing) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(100 * kPackedFrameBytes, 11);
    Make({.playbackCredit = 2});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    ASSERT_TRUE(backend->WaitForPlayed(2 * kPlaybackBlockSamples, kGenerousTimeout));
    EXPECT_TRUE(pipeline->TogglePause());
    ASSERT_TRUE(backend->WaitForCalls(AudioDirection::Output, DeviceOperation::Pause, 1, kGenerousTimeout));
    EXPECT_FALSE(pipeline->TogglePause());
    EXPECT_EQ(backend->CallCount(AudioDirection::Output, DeviceOperation::Restart), 1);
    backend->GrantPlayback(100);
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_FALSE(pipeline->HasError());
    EXPECT_TRUE(backend->PlayedSamples() == test::DecodeBytes(bytes));
}

TEST_F(PipelineRun, StopWhilePlaybackIsPausedEndsTheRun) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(200 * kPackedFrameBytes, 12);
    Make({.playbackCredit = 1});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    ASSERT_TRUE(backend->WaitForPlayed(kPlaybackBlockSamples, kGenerousTimeout));
    EXPECT_TRUE(pipeline->TogglePause());
    EXPECT_TRUE(pipeline->Stop());
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(pipeline->HasError());
    EXPECT_FALSE(pipeline->IsPlaying());
    EXPECT_FALSE(pipeline->TogglePause());
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, PauseAndResumeOfRecordingRestartTheDeviceAndKeepCounting) {
    Make({.captureSource = test::SpeechLikeSignal(100 * kBlock, 3), .captureCredit = 6});
    PaceCaptureByEncoder();
    const auto path = dir.Path() / "rec.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    ASSERT_TRUE(reports.WaitElapsedReports(5));
    EXPECT_TRUE(pipeline->TogglePause());
    ASSERT_TRUE(backend->WaitForCalls(AudioDirection::Input, DeviceOperation::Reset, 1, kGenerousTimeout));
    // While paused the device is not started, so nothing is captured.
    const std::int64_t capturedWhilePaused = backend->CapturedSamples();
    EXPECT_EQ(backend->CallCount(AudioDirection::Input, DeviceOperation::Start), 1);
    EXPECT_EQ(backend->CapturedSamples(), capturedWhilePaused);
    const std::size_t reportsBefore = reports.Elapsed().size();
    EXPECT_FALSE(pipeline->TogglePause());
    ASSERT_TRUE(backend->WaitForCaptured(capturedWhilePaused + 5 * kBlock, kGenerousTimeout));
    ASSERT_TRUE(reports.WaitElapsedReports(reportsBefore + 3));
    pipeline->Stop();

    EXPECT_FALSE(pipeline->HasError());
    EXPECT_EQ(backend->CallCount(AudioDirection::Input, DeviceOperation::Start), 2);
    EXPECT_EQ(backend->CallCount(AudioDirection::Input, DeviceOperation::Prepare), 8);
    // The elapsed time goes on from where the pause left it.
    const std::vector<int> elapsed = reports.Elapsed();
    EXPECT_TRUE(std::is_sorted(elapsed.begin(), elapsed.end()));
    const std::size_t blocks = test::ReadBytes(path).size() / kEncodedBlockBytes;
    EXPECT_EQ(elapsed.size(), blocks);
    EXPECT_EQ(elapsed.back(), FramesToTenths(static_cast<int>(blocks) * kFramesPerCaptureBlock));
}

TEST_F(PipelineRun, StopWhileRecordingIsPausedEndsTheRunAndKeepsTheFile) {
    Make({.captureSource = test::SpeechLikeSignal(40 * kBlock, 4), .captureCredit = 6});
    PaceCaptureByEncoder();
    const auto path = dir.Path() / "rec.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    ASSERT_TRUE(reports.WaitElapsedReports(3));
    EXPECT_TRUE(pipeline->TogglePause());
    ASSERT_TRUE(backend->WaitForCalls(AudioDirection::Input, DeviceOperation::Reset, 1, kGenerousTimeout));
    EXPECT_TRUE(pipeline->Stop());
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(pipeline->HasError());
    EXPECT_GE(test::ReadBytes(path).size(), 3u * kEncodedBlockBytes);
    ExpectNoDeviceLeft();
}

// True when the last samples played are the file from `frame` to its end, as the decoder makes them
// after some whole chunks decoded before the seek (which chunks the reader got to is timing; the
// decoder state carries over the jump, so those chunks are part of the expectation).
bool PlaysOnFromFrame(const std::vector<std::int16_t>& played, const std::vector<std::uint8_t>& bytes,
                      int frame) {
    const std::size_t tailSamples =
        bytes.size() / kPackedFrameBytes * kFrameSamples - static_cast<std::size_t>(frame) * kFrameSamples;
    if (played.size() < tailSamples) {
        return false;
    }
    const std::vector<std::int16_t> heard(played.end() - static_cast<std::ptrdiff_t>(tailSamples),
                                          played.end());
    const std::size_t chunks = bytes.size() / kReadChunkBytes + 1;
    for (std::size_t before = 0; before <= chunks; ++before) {
        for (std::size_t from = 0; from < before; ++from) {
            std::vector<std::uint8_t> fed;
            const auto chunkAt = [&](std::size_t chunk) {
                const std::size_t begin = std::min(bytes.size(), chunk * kReadChunkBytes);
                const std::size_t end = std::min(bytes.size(), begin + kReadChunkBytes);
                fed.insert(fed.end(), bytes.begin() + static_cast<std::ptrdiff_t>(begin),
                           bytes.begin() + static_cast<std::ptrdiff_t>(end));
            };
            for (std::size_t chunk = from; chunk < before; ++chunk) {
                chunkAt(chunk);
            }
            fed.insert(fed.end(), bytes.begin() + frame * kPackedFrameBytes, bytes.end());
            const std::vector<std::int16_t> decoded = test::DecodeBytes(fed);
            if (std::equal(heard.begin(), heard.end(),
                           decoded.end() - static_cast<std::ptrdiff_t>(tailSamples))) {
                return true;
            }
        }
    }
    return false;
}

TEST_F(PipelineRun, SeekAndHoldMoveThePlaybackAndItsReports) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(1000 * kPackedFrameBytes, 21);
    Make({.playbackCredit = 2});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    ASSERT_TRUE(backend->WaitForPlayed(2 * kPlaybackBlockSamples, kGenerousTimeout));
    pipeline->Hold(true);
    pipeline->Seek(50);
    pipeline->Hold(false);
    backend->GrantPlayback(1000);
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_FALSE(pipeline->HasError());

    const std::vector<int> percents = reports.Percents();
    const auto jump = std::find_if(percents.begin(), percents.end(), [](int p) { return p >= 50; });
    ASSERT_NE(jump, percents.end());
    EXPECT_TRUE(std::all_of(percents.begin(), jump, [](int p) { return p < 10; }));
    // The chunk read while the seek is applied carries no position; the next one reaches frame 520.
    EXPECT_EQ(*jump, 52);
    EXPECT_TRUE(std::is_sorted(jump, percents.end()));
    EXPECT_EQ(percents.back(), 100);
    const std::vector<int> elapsed = reports.Elapsed();
    EXPECT_EQ(elapsed[static_cast<std::size_t>(jump - percents.begin())], 156);
    // Roughly the second half was played, not the whole file, and it is the file from frame 500.
    EXPECT_LT(backend->PlayedSamples().size(), test::DecodeBytes(bytes).size() * 6 / 10);
    EXPECT_TRUE(PlaysOnFromFrame(backend->PlayedSamples(), bytes, 500));
}

TEST_F(PipelineRun, SeekWithoutHoldIsAppliedOnTheReadersNextPass) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(1000 * kPackedFrameBytes, 22);
    Make({.playbackCredit = 1});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    ASSERT_TRUE(backend->WaitForPlayed(kPlaybackBlockSamples, kGenerousTimeout));
    pipeline->Seek(90);
    backend->GrantPlayback(1000);
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    const std::vector<int> percents = reports.Percents();
    EXPECT_TRUE(std::find(percents.begin(), percents.end(), 92) != percents.end());
    EXPECT_TRUE(std::none_of(percents.begin(), percents.end(), [](int p) { return p > 10 && p < 90; }));
    EXPECT_EQ(percents.back(), 100);
    EXPECT_TRUE(PlaysOnFromFrame(backend->PlayedSamples(), bytes, 900));
}

// Once the reader had handed over the end of the file it used to end, and a seek made while the last
// blocks were still being heard did nothing. At the sound card's pace the seek lands right then.
TEST_F(PipelineRun, ASeekWhileTheEndPlaysOutStillMovesPlayback) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(40 * kPackedFrameBytes, 24);
    Make({.pacing = Pacing::RealTime});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 50));
    // The first block (frames 20 to 29) has been heard: the reader is long at the end.
    ASSERT_TRUE(reports.WaitElapsedReports(1));
    pipeline->Seek(0);
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_FALSE(pipeline->HasError()) << pipeline->PlaybackErrorText();
    const std::vector<std::int16_t> played = backend->PlayedSamples();
    EXPECT_GE(played.size(), static_cast<std::size_t>(40 + 10) * kFrameSamples);
    EXPECT_TRUE(PlaysOnFromFrame(played, bytes, 0)) << "the file was not played again from its start";
    EXPECT_EQ(reports.Percents().back(), 100);
}

TEST_F(PipelineRun, PauseRightAfterStartHoldsPlaybackFromItsFirstSample) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(100 * kPackedFrameBytes, 25);
    Make();
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    // Accelerated, the whole file would play at once; the pause must reach the engine however early.
    EXPECT_TRUE(pipeline->TogglePause());
    EXPECT_FALSE(backend->WaitForPlayed(1, 300ms));
    EXPECT_FALSE(pipeline->TogglePause());
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(backend->PlayedSamples() == test::DecodeBytes(bytes));
}

TEST_F(PipelineRun, HoldGatesTheReaderUntilReleased) {
    const std::vector<std::uint8_t> bytes = test::RandomFrameBytes(300 * kPackedFrameBytes, 23);
    Make({.playbackCredit = 1});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(bytes).string(), 0));
    ASSERT_TRUE(backend->WaitForPlayed(kPlaybackBlockSamples, kGenerousTimeout));
    pipeline->Hold(true);
    // Stop while held: the gated reader must still end.
    EXPECT_TRUE(pipeline->Stop());
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(pipeline->HasError());
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, AMissingFileEndsPlaybackWithItsName) {
    Make();
    const auto path = dir.Path() / "missing.prm";
    ASSERT_TRUE(pipeline->StartPlayback(path.string(), 0));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->PlaybackErrorText(), "No such file or directory: " + path.string());
    EXPECT_TRUE(backend->PlayedSamples().empty());
    EXPECT_EQ(reports.Durations(), std::vector<int>{0});
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, AnUnreadableFileEndsPlaybackWithTheReadError) {
    Make();
    const auto path = dir.Path() / "folder.prm";
    std::filesystem::create_directory(path);
    ASSERT_TRUE(pipeline->StartPlayback(path.string(), 0));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->PlaybackErrorText(), "Is a directory: " + path.string());
    EXPECT_TRUE(backend->PlayedSamples().empty());
}

TEST_F(PipelineRun, ARecordingFileThatCannotBeCreatedEndsTheRunBeforeTheDevice) {
    Make();
    const auto path = dir.Path() / "no-such-folder" / "rec.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->CaptureErrorText(), "No such file or directory: " + path.string());
    EXPECT_EQ(backend->CallCount(AudioDirection::Input, DeviceOperation::Open), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(PipelineRun, AFullDiskEndsTheRecording) {
    // No credit: like a sound card, the device goes on delivering, so the capture loop sees the
    // error at its next buffer.
    Make({.captureSource = test::SpeechLikeSignal(20 * kBlock, 5)});
    ASSERT_TRUE(pipeline->StartRecording("/dev/full"));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->CaptureErrorText(), "No space left on device: /dev/full");
    ExpectNoDeviceLeft();
}

// The disk fills in the middle of a recording: a file size limit lets the first blocks in and
// cuts the next one short. Run in a child process, whose limit cannot touch the other tests.
TEST_F(PipelineRun, ARecordingCutShortByAFullDiskKeepsItsWholeBlocksReadable) {
    constexpr int kBlocksThatFit = 5;
    const auto path = dir.Path() / "rec.prm";
    const std::vector<std::int16_t> signal = test::SpeechLikeSignal(40 * kBlock, 6);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kBlocksThatFit * kEncodedBlockBytes + 20,
                           kBlocksThatFit * kEncodedBlockBytes + 20};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CReportLog childReports;
        // No credit: a held-back device would never wake the capture loop to see the error. The
        // first ten blocks always fit the ring, so the file still begins with the signal.
        CVirtualAudioBackend childBackend({.captureSource = signal});
        int status = 0;
        {
            CPipeline childPipeline(childReports, childBackend);
            if (!childPipeline.StartRecording(path.string()) || !childReports.WaitStopped(1)) {
                status = 10;
            } else if (!childPipeline.HasError() ||
                       childPipeline.CaptureErrorText().find(path.string()) == std::string::npos) {
                status = 11;
            }
        }
        ::_exit(status);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    const std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), static_cast<std::size_t>(kBlocksThatFit * kEncodedBlockBytes));
    std::vector<std::int16_t> head(signal.begin(), signal.begin() + kBlocksThatFit * kBlock);
    EXPECT_TRUE(bytes == test::EncodeSamples(head));
}

TEST_F(PipelineRun, WithoutAnInputDeviceTheRecordingEndsAtOnce) {
    Make({.inputDevices = 0});
    ASSERT_TRUE(pipeline->StartRecording((dir.Path() / "rec.prm").string()));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->CaptureErrorText(), " Sound driver is not installed.");
    EXPECT_TRUE(test::ReadBytes(dir.Path() / "rec.prm").empty());
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, WithoutAnOutputDevicePlaybackEndsAtOnce) {
    Make({.outputDevices = 0});
    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(test::RandomFrameBytes(1800, 1)).string(), 0));
    ASSERT_TRUE(reports.WaitStopped(1));
    pipeline->Stop();
    EXPECT_TRUE(pipeline->HasError());
    EXPECT_EQ(pipeline->PlaybackErrorText(), " Sound driver is not installed.");
    EXPECT_TRUE(backend->PlayedSamples().empty());
    ExpectNoDeviceLeft();
}

struct FaultCase {
    const char* name;
    AudioDirection direction;
    DeviceOperation operation;
    int failingCall;
    // What the direction's error text must be; empty: the device's text for the fault's result.
    const char* text;
    // The fault ends a recording by itself; otherwise it strikes when the recording is stopped.
    bool endsRecording = true;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << c.name;
}

class DeviceFailure : public PipelineRun, public ::testing::WithParamInterface<FaultCase> {};

// Every failure of the device ends the run through the ordinary end report, raises the error flag,
// stores its text and leaves no device open, whether it strikes at the start, in the middle or at
// the end of the run.
TEST_P(DeviceFailure, EndsTheRunWithTheDevicesText) {
    const FaultCase& fault = GetParam();
    constexpr DeviceResult kResult = DeviceResult::NotEnabled;
    Make({.captureSource = test::SpeechLikeSignal(20 * kBlock, 8)});
    backend->InjectFault({fault.direction, fault.operation, fault.failingCall, kResult});
    if (fault.direction == AudioDirection::Input) {
        ASSERT_TRUE(pipeline->StartRecording((dir.Path() / "rec.prm").string()));
        if (fault.endsRecording) {
            ASSERT_TRUE(reports.WaitStopped(1));
        } else {
            ASSERT_TRUE(backend->WaitForCaptured(12 * kBlock, kGenerousTimeout));
        }
        pipeline->Stop();
    } else {
        ASSERT_TRUE(pipeline->StartPlayback(WritePrm(test::RandomFrameBytes(1800, 9)).string(), 0));
        ASSERT_TRUE(reports.WaitStopped(1));
        pipeline->Stop();
    }
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_TRUE(pipeline->HasError());
    const std::string expected = fault.text[0] != '\0' ? fault.text : DeviceResultText(kResult);
    EXPECT_EQ(fault.direction == AudioDirection::Input ? pipeline->CaptureErrorText()
                                                       : pipeline->PlaybackErrorText(),
              expected);
    ExpectNoDeviceLeft();
}

INSTANTIATE_TEST_SUITE_P(
    EachOperation, DeviceFailure,
    ::testing::Values(FaultCase{"InputCaps", AudioDirection::Input, DeviceOperation::GetCaps, 1, ""},
                      FaultCase{"InputOpen", AudioDirection::Input, DeviceOperation::Open, 1, ""},
                      FaultCase{"InputFirstMemory", AudioDirection::Input, DeviceOperation::AllocateMemory, 1,
                                "Memory allocation error."},
                      FaultCase{"InputLastMemory", AudioDirection::Input, DeviceOperation::AllocateMemory, 4,
                                "Memory allocation error."},
                      FaultCase{"InputStart", AudioDirection::Input, DeviceOperation::Start, 1, ""},
                      FaultCase{"InputFirstPrepare", AudioDirection::Input, DeviceOperation::Prepare, 1, ""},
                      FaultCase{"InputLastPrepare", AudioDirection::Input, DeviceOperation::Prepare, 4, ""},
                      FaultCase{"InputFirstQueue", AudioDirection::Input, DeviceOperation::Queue, 1, ""},
                      FaultCase{"InputLastQueue", AudioDirection::Input, DeviceOperation::Queue, 4, ""},
                      FaultCase{"InputReset", AudioDirection::Input, DeviceOperation::Reset, 1, "", false},
                      FaultCase{"InputClose", AudioDirection::Input, DeviceOperation::Close, 1, "", false},
                      FaultCase{"OutputCaps", AudioDirection::Output, DeviceOperation::GetCaps, 1, ""},
                      FaultCase{"OutputOpen", AudioDirection::Output, DeviceOperation::Open, 1, ""},
                      FaultCase{"OutputFirstMemory", AudioDirection::Output, DeviceOperation::AllocateMemory,
                                1, "Memory allocation error."},
                      FaultCase{"OutputLastMemory", AudioDirection::Output, DeviceOperation::AllocateMemory,
                                2, "Memory allocation error."},
                      FaultCase{"OutputFirstPrepare", AudioDirection::Output, DeviceOperation::Prepare, 1,
                                ""},
                      FaultCase{"OutputLastPrepare", AudioDirection::Output, DeviceOperation::Prepare, 2, ""},
                      FaultCase{"OutputFirstQueue", AudioDirection::Output, DeviceOperation::Queue, 1, ""},
                      FaultCase{"OutputLaterQueue", AudioDirection::Output, DeviceOperation::Queue, 4, ""},
                      FaultCase{"OutputReset", AudioDirection::Output, DeviceOperation::Reset, 1, ""},
                      FaultCase{"OutputClose", AudioDirection::Output, DeviceOperation::Close, 1, ""}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(PipelineRun, AFullCaptureRingDropsBlocksAndTellsHowMuchIsMissing) {
    // No credit: the virtual card captures far faster than the encoder's polling takes blocks.
    Make({.captureSource = test::SpeechLikeSignal(10 * kBlock, 10)});
    const auto path = dir.Path() / "rec.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    ASSERT_TRUE(backend->WaitForCaptured(200 * kBlock, kGenerousTimeout));
    pipeline->Stop();
    EXPECT_FALSE(pipeline->HasError()) << pipeline->CaptureErrorText();
    const int dropped = pipeline->CaptureChannel().DroppedBlocks();
    EXPECT_GT(dropped, 0);
    // Blocks of 90 ms, told in tenths of a second rounded up.
    const int tenths = (dropped * 9 + 9) / 10;
    EXPECT_EQ(pipeline->CaptureLossText(), std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) +
                                               " s of audio could not be stored in time and is missing");
    const std::size_t size = test::ReadBytes(path).size();
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % kEncodedBlockBytes, 0u);
}

TEST_F(PipelineRun, StartingASecondRunWhileOneRunsStartsNothing) {
    Make({.captureSource = test::SpeechLikeSignal(10 * kBlock, 13), .captureCredit = 2});
    const auto path = dir.Path() / "rec.prm";
    ASSERT_TRUE(pipeline->StartRecording(path.string()));
    EXPECT_FALSE(pipeline->StartRecording((dir.Path() / "other.prm").string()));
    EXPECT_FALSE(pipeline->StartPlayback(path.string(), 0));
    pipeline->Stop();
    EXPECT_EQ(reports.Stopped(), 1);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "other.prm"));

    ASSERT_TRUE(pipeline->StartPlayback(WritePrm(test::RandomFrameBytes(18000, 2)).string(), 0));
    EXPECT_FALSE(pipeline->StartPlayback(path.string(), 0));
    EXPECT_FALSE(pipeline->StartRecording(path.string()));
    pipeline->Stop();
    EXPECT_EQ(reports.Stopped(), 2);
}

TEST_F(PipelineRun, WithNothingRunningStopAndPauseDoNothing) {
    Make();
    EXPECT_TRUE(pipeline->Stop());
    EXPECT_FALSE(pipeline->TogglePause());
    pipeline->Seek(50);
    pipeline->Hold(true);
    pipeline->Hold(false);
    EXPECT_EQ(reports.Stopped(), 0);
    EXPECT_FALSE(pipeline->IsRecording());
    EXPECT_FALSE(pipeline->IsPlaying());
    EXPECT_FALSE(pipeline->HasError());
}

TEST_F(PipelineRun, TooLongAFileNameIsRefused) {
    Make();
    EXPECT_FALSE(pipeline->StartPlayback(std::string(kPlayFileNameSize, 'x'), 0));
    EXPECT_EQ(reports.Stopped(), 0);
    EXPECT_FALSE(pipeline->IsPlaying());
}

TEST_F(PipelineRun, ManyRecordingsStartAndStopCleanly) {
    constexpr int kCycles = 200;
    Make({.captureSource = test::SpeechLikeSignal(4 * kBlock, 14)});
    const auto path = dir.Path() / "rec.prm";
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_TRUE(pipeline->StartRecording(path.string())) << "cycle " << cycle;
        if (cycle % 2 == 1) {
            // Every other run gets going before it is stopped; the rest stop at once.
            ASSERT_TRUE(backend->WaitForCalls(AudioDirection::Input, DeviceOperation::Start, (cycle + 1) / 2,
                                              kGenerousTimeout));
        }
        ASSERT_TRUE(pipeline->Stop());
        ASSERT_EQ(reports.Stopped(), cycle + 1);
        ASSERT_EQ(backend->OpenDevices(), 0);
    }
    EXPECT_FALSE(pipeline->HasError()) << pipeline->CaptureErrorText();
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, ManyPlaybacksStartAndStopCleanly) {
    constexpr int kCycles = 200;
    Make();
    const auto path = WritePrm(test::RandomFrameBytes(300 * kPackedFrameBytes, 15));
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        ASSERT_TRUE(pipeline->StartPlayback(path.string(), (cycle * 7) % 101)) << "cycle " << cycle;
        if (cycle % 2 == 1) {
            ASSERT_TRUE(
                backend->WaitForCalls(AudioDirection::Output, DeviceOperation::Queue, 1, kGenerousTimeout));
        }
        ASSERT_TRUE(pipeline->Stop());
        ASSERT_EQ(reports.Stopped(), cycle + 1);
        ASSERT_EQ(backend->OpenDevices(), 0);
    }
    EXPECT_FALSE(pipeline->HasError()) << pipeline->PlaybackErrorText();
    ExpectNoDeviceLeft();
}

TEST_F(PipelineRun, DestroyingARunningPipelineStopsItsRun) {
    Make({.captureSource = test::SpeechLikeSignal(4 * kBlock, 16)});
    ASSERT_TRUE(pipeline->StartRecording((dir.Path() / "rec.prm").string()));
    pipeline.reset();
    EXPECT_EQ(reports.Stopped(), 1);
    ExpectNoDeviceLeft();
}

} // namespace
} // namespace velmar
