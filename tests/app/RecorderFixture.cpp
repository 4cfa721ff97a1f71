#include "RecorderFixture.h"

#include "app/BitmapButton.h"
#include "codec/CodecConstants.h"
#include "codec/FrameFormat.h"
#include "pipeline/Conversions.h"
#include "pipeline/PipelineConstants.h"

#include <QDialog>
#include <QSettings>
#include <QTest>

#include <cmath>
#include <csignal>
#include <fstream>
#include <iterator>
#include <utility>

namespace velmar::test {

namespace {

// The next scripted file-dialog answer (the caller checks there is one).
std::optional<QString> TakeAnswer(std::deque<std::optional<QString>>& answers) {
    const bool confirmed = answers.front().has_value();
    const QString path = confirmed ? *answers.front() : QString();
    answers.pop_front();
    if (!confirmed) {
        return std::nullopt;
    }
    return path;
}

} // namespace

ModalDialogs CScriptedDialogs::Make() {
    ModalDialogs dialogs;
    dialogs.runSavePrompt = [this](QWidget&) {
        ++prompts;
        if (duringPrompt) {
            duringPrompt();
        }
        if (promptAnswers.empty()) {
            ADD_FAILURE() << "an unexpected save prompt";
            return static_cast<int>(QDialog::Rejected);
        }
        const int answer = promptAnswers.front();
        promptAnswers.pop_front();
        return answer;
    };
    dialogs.chooseOpenFile = [this](QWidget&) -> std::optional<QString> {
        ++openDialogs;
        if (openAnswers.empty()) {
            ADD_FAILURE() << "an unexpected open dialog";
            return std::nullopt;
        }
        return TakeAnswer(openAnswers);
    };
    dialogs.chooseSaveFile = [this](QWidget&) -> std::optional<QString> {
        ++saveDialogs;
        if (saveAnswers.empty()) {
            ADD_FAILURE() << "an unexpected save dialog";
            return std::nullopt;
        }
        return TakeAnswer(saveAnswers);
    };
    dialogs.showMessage = [this](QWidget&, MessageKind kind, const QString& title, const QString& text) {
        messages.push_back({kind, title, text});
    };
    return dialogs;
}

RecorderTest::RecorderTest()
    : previousFolder(std::filesystem::current_path()) {
    // The window keeps its temporary recording in the current folder.
    std::filesystem::current_path(folder.Path());
    // Every test starts from the defaults (the test program's own settings, never the user's).
    QSettings().clear();
}

RecorderTest::~RecorderTest() {
    dialog.reset();
    std::filesystem::current_path(previousFolder);
}

VirtualAudioConfig RecorderTest::CaptureOnRequest() {
    VirtualAudioConfig config;
    config.pacing = Pacing::Accelerated;
    config.captureCredit = 1; // one buffer at the start; RecordBlocks grants the rest
    // A 400 Hz tone at a speaking level, so the recording holds sound rather than silence.
    config.captureSource.resize(kSampleRate * 10);
    for (std::size_t i = 0; i < config.captureSource.size(); ++i) {
        config.captureSource[i] = static_cast<std::int16_t>(
            6000.0 * std::sin(2.0 * 3.14159265358979 * 400.0 * static_cast<double>(i) / kSampleRate));
    }
    return config;
}

VirtualAudioConfig RecorderTest::RealTimePlayback() {
    VirtualAudioConfig config = CaptureOnRequest();
    config.pacing = Pacing::RealTime;
    // Capture runs as a sound card's would, without credit.
    config.captureCredit = 0;
    return config;
}

void RecorderTest::Open(VirtualAudioConfig config) {
    initialCredit = config.captureCredit;
    captureOnRequest = config.captureCredit > 0;
    auto virtualBackend = std::make_unique<CVirtualAudioBackend>(std::move(config));
    backend = virtualBackend.get();
    dialog = std::make_unique<CRecorderDlg>(std::move(virtualBackend), script.Make());
    dialog->show();
}

void RecorderTest::Close() {
    dialog.reset();
    backend = nullptr;
}

bool RecorderTest::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    return QTest::qWaitFor(done, static_cast<int>(timeout.count()));
}

void RecorderTest::RecordBlocks(int blocks) {
    // The buffers granted at the start go to the first recording.
    recordingBlocks = std::exchange(initialCredit, 0);
    dialog->OnRecord();
    CaptureMore(blocks - recordingBlocks);
}

void RecorderTest::CaptureMore(int blocks) {
    if (!captureOnRequest) {
        // Real time: the recording goes on by itself; wait until it holds at least this much.
        recordingBlocks += blocks;
        const auto bytes = static_cast<std::uintmax_t>(recordingBlocks) * kEncodedBlockBytes;
        const int tenths = FramesToTenths(recordingBlocks * kFramesPerCaptureBlock);
        ASSERT_TRUE(WaitFor([&] {
            std::error_code error;
            return std::filesystem::file_size(dialog->TempPath(), error) >= bytes &&
                   dialog->PositionTenths() >= tenths;
        })) << "recording did not reach "
            << recordingBlocks << " blocks";
        return;
    }
    // A few blocks at a time, each batch encoded before the next, so the capture ring never overflows.
    constexpr int kBatch = 6;
    int remaining = blocks;
    do {
        const int batch = std::min(kBatch, remaining);
        backend->GrantCapture(batch);
        recordingBlocks += batch;
        remaining -= batch;
        const auto bytes = static_cast<std::uintmax_t>(recordingBlocks) * kEncodedBlockBytes;
        const int tenths = FramesToTenths(recordingBlocks * kFramesPerCaptureBlock);
        ASSERT_TRUE(WaitFor([&] {
            std::error_code error;
            return std::filesystem::file_size(dialog->TempPath(), error) == bytes &&
                   dialog->PositionTenths() == tenths;
        })) << "recording did not reach "
            << recordingBlocks << " blocks";
    } while (remaining > 0);
}

void RecorderTest::StopRun() {
    dialog->OnStop();
    ASSERT_TRUE(WaitFor([&] { return !dialog->IsPlaying() && !dialog->IsRecording(); }));
}

bool RecorderTest::WaitForRunEnd() {
    return WaitFor([&] { return !dialog->IsPlaying() && !dialog->IsRecording(); });
}

void RecorderTest::WaitUntilPlaying() {
    ASSERT_TRUE(WaitFor([&] { return dialog->Pipeline().IsPlaying(); })) << "the playback did not start";
}

std::filesystem::path RecorderTest::WriteFrameFile(const std::string& name, int frames) {
    // Valid frames whose every field changes from frame to frame, as in a recording: the window
    // refuses to play a file with many invalid frames.
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * kPackedFrameBytes);
    for (int i = 0; i < frames; ++i) {
        FrameParams params;
        params.lspIndex = (i * 40503 + 11) & 0xFFFFFF;
        params.pitchLag = {kMinPitchLag + (i * 7) % (kMaxPitchLagCode + 1),
                           kMinPitchLag + (i * 13 + 5) % (kMaxPitchLagCode + 1)};
        for (int k = 0; k < kSubframes; ++k) {
            SubframeParams& sub = params.sub[k];
            sub.lagDelta = k % 2 == 1 ? (i + k) % 4 : 1;
            sub.pitchGainIndex = (i * 5 + k) % kPitchGainRows;
            sub.pulseGainIndex = (i * 3 + k) % kPulseGainLevels;
            sub.pulseSigns = (i + k) % 16;
            sub.pulsePositions = (i * 97 + k * 31) % 2048;
        }
        PackFrame(params,
                  std::span<std::uint8_t, kPackedFrameBytes>(
                      bytes.data() + static_cast<std::size_t>(i) * kPackedFrameBytes, kPackedFrameBytes));
    }
    const std::filesystem::path path = InFolder(name);
    WriteBytes(path, bytes);
    return path;
}

void RecorderTest::ExpectButtons(const ExpectedButtons& expected) const {
    EXPECT_EQ(Button(ControlId::Play).isEnabled(), expected.play) << "Play";
    EXPECT_EQ(Button(ControlId::Record).isEnabled(), expected.record) << "Record";
    EXPECT_EQ(Button(ControlId::Pause).isEnabled(), expected.pause) << "Pause";
    EXPECT_EQ(Button(ControlId::Stop).isEnabled(), expected.stop) << "Stop";
    EXPECT_EQ(Button(ControlId::Open).isEnabled(), expected.open) << "Open";
    EXPECT_EQ(Button(ControlId::Save).isEnabled(), expected.save) << "Save";
    EXPECT_EQ(Button(ControlId::About).isEnabled(), expected.about) << "About";
}

CFileSizeLimit::CFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved);
    // Past the limit a write fails; without this the process would also be sent SIGXFSZ and end.
    previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limited = saved;
    limited.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limited);
}

CFileSizeLimit::~CFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);
}

std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace velmar::test
