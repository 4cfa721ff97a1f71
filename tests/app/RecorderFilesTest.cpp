// Open, Save, the save prompt and the close request of the recorder window, with the prompt and
// the file dialogs answered by the test.
#include "RecorderFixture.h"
#include "app/BitmapButton.h"
#include "pipeline/Conversions.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

namespace velmar::test {
namespace {

QString Text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// ---- Open ---------------------------------------------------------------------------------------

TEST_F(RecorderTest, OpenPlaysTheChosenFileAtOnceFromItsStart) {
    Open();
    const auto path = WriteFrameFile("speech.prm", 200);
    dialog->Slider().setValue(70);
    script.openAnswers.push_back(Text(path));
    dialog->OnOpen();
    EXPECT_EQ(script.openDialogs, 1);
    EXPECT_EQ(script.prompts, 0) << "nothing to save";
    EXPECT_TRUE(dialog->IsPlaying());
    EXPECT_EQ(dialog->FileNameText().toStdString(), "speech.prm") << "the name with its extension";
    EXPECT_EQ(dialog->SliderPos(), 0) << "Open starts at the beginning whatever the slider showed";
    ExpectButtons(kRunningButtons);
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_GE(backend->PlayedSamples().size(), 200u * kFrameSamples) << "the whole file was played";
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "6.0sec ") << "the total alone after the end";
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Play));
}

TEST_F(RecorderTest, OpenCancelledChangesNothingButTheSlider) {
    Open();
    dialog->Slider().setValue(40);
    script.openAnswers.push_back(std::nullopt);
    dialog->OnOpen();
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_FALSE(dialog->IsPlaying());
    ExpectButtons(kIdleButtons);
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
}

TEST_F(RecorderTest, OpenWithAnUnsavedRecordingAnsweredYesSavesAndOpensNothing) {
    Open();
    RecordBlocks(4);
    StopRun();
    script.promptAnswers.push_back(QDialog::Accepted);
    script.saveAnswers.push_back(Text(InFolder("kept.prm")));
    dialog->OnOpen();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_EQ(script.saveDialogs, 1);
    EXPECT_EQ(script.openDialogs, 0) << "the user presses Open again";
    EXPECT_EQ(FileBytes(InFolder("kept.prm")).size(), 4u * kEncodedBlockBytes);
    EXPECT_FALSE(dialog->HasRecording());
    ExpectButtons(kStoppedFileButtons);
}

TEST_F(RecorderTest, OpenWithAnUnsavedRecordingAnsweredYesButSaveCancelledOpensNothing) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.promptAnswers.push_back(QDialog::Accepted);
    script.saveAnswers.push_back(std::nullopt);
    dialog->OnOpen();
    EXPECT_EQ(script.saveDialogs, 1);
    EXPECT_EQ(script.openDialogs, 0);
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
}

TEST_F(RecorderTest, OpenWithAnUnsavedRecordingAnsweredNoPlaysTheFileAndGivesTheRecordingUp) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.promptAnswers.push_back(QDialog::Rejected);
    script.openAnswers.push_back(Text(WriteFrameFile("other.prm", 100)));
    dialog->OnOpen();
    EXPECT_TRUE(dialog->IsPlaying());
    EXPECT_FALSE(dialog->HasRecording());
    EXPECT_EQ(dialog->FileNameText().toStdString(), "other.prm");
    ASSERT_TRUE(WaitForRunEnd());
    // Save stays disabled after this playback.
    ExpectButtons(kStoppedFileButtons);
    // The recording is no longer offered, not even when the window closes.
    dialog->close();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, OpenWithAnUnsavedRecordingAnsweredNoThenCancelledKeepsIt) {
    Open();
    RecordBlocks(2);
    StopRun();
    dialog->Slider().setValue(30);
    script.promptAnswers.push_back(QDialog::Rejected);
    script.openAnswers.push_back(std::nullopt);
    dialog->OnOpen();
    EXPECT_TRUE(dialog->HasRecording());
    EXPECT_EQ(dialog->Slider().value(), 0);
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_TRUE(std::filesystem::exists(dialog->TempPath()));
}

// What Open must not hand to the player, each refused with a message and nothing played; an unsaved
// recording stays unsaved.
TEST_F(RecorderTest, OpenRefusesWhatIsNotARecordingAndKeepsTheWindowAsItWas) {
    Open();
    RecordBlocks(2);
    StopRun();
    std::vector<std::uint8_t> wav = {'R', 'I', 'F', 'F', 0x24, 0x10, 0, 0, 'W', 'A', 'V', 'E'};
    wav.resize(4000, 0x40);
    WriteBytes(InFolder("speech.wav"), wav);
    std::vector<std::uint8_t> noise(3600);
    Rng rng(kDefaultSeed);
    for (std::uint8_t& byte : noise) {
        byte = static_cast<std::uint8_t>(rng());
    }
    WriteBytes(InFolder("noise.prm"), noise);
    WriteBytes(InFolder("short.prm"), std::vector<std::uint8_t>(17, 0));
    ASSERT_EQ(::mkfifo(InFolder("fifo.prm").c_str(), 0600), 0);
    const struct {
        const char* name;
        const char* reason;
    } cases[] = {
        {"speech.wav", "it is a WAV (RIFF) file, not a recording"},
        {"noise.prm", "frames are invalid: it is not a recording"},
        {"short.prm", "it holds no whole frame"},
        {"fifo.prm", "it is not a regular file"},
        {"missing.prm", "No such file or directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script.messages.clear();
        script.promptAnswers.push_back(QDialog::Rejected);
        script.openAnswers.push_back(Text(InFolder(c.name)));
        dialog->OnOpen();
        ASSERT_EQ(script.messages.size(), 1u);
        EXPECT_EQ(script.messages[0].title.toStdString(), "Not played");
        EXPECT_TRUE(script.messages[0].text.contains(QString::fromUtf8(c.name)))
            << script.messages[0].text.toStdString();
        EXPECT_TRUE(script.messages[0].text.contains(QString::fromUtf8(c.reason)))
            << script.messages[0].text.toStdString();
        EXPECT_FALSE(dialog->IsPlaying());
        EXPECT_FALSE(dialog->Pipeline().IsPlaying());
        EXPECT_TRUE(dialog->HasRecording());
        EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
        ExpectButtons(kStoppedUnsavedButtons);
    }
    EXPECT_TRUE(backend->PlayedSamples().empty());
}

// ---- Save ---------------------------------------------------------------------------------------

TEST_F(RecorderTest, SaveCopiesTheRecordingAndThenPlayPlaysTheSavedFile) {
    Open();
    RecordBlocks(5);
    StopRun();
    const std::vector<std::uint8_t> recorded = FileBytes(dialog->TempPath());
    ASSERT_EQ(recorded.size(), 5u * kEncodedBlockBytes);
    script.saveAnswers.push_back(Text(InFolder("memo.prm")));
    dialog->OnSave();
    EXPECT_EQ(FileBytes(InFolder("memo.prm")), recorded) << "a byte-for-byte copy";
    EXPECT_TRUE(FileBytes(dialog->TempPath()).empty()) << "the recording has left the working file";
    EXPECT_FALSE(dialog->HasRecording());
    EXPECT_EQ(dialog->FileNameText().toStdString(), "memo.prm");
    EXPECT_EQ(std::filesystem::path(dialog->FilePath()), InFolder("memo.prm"));
    ExpectButtons(kStoppedFileButtons);
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
    EXPECT_TRUE(script.messages.empty());

    dialog->OnPlay();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_GE(backend->PlayedSamples().size(), 15u * kFrameSamples) << "the saved file was played";
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(RecorderTest, SaveCancelledChangesNothing) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.saveAnswers.push_back(std::nullopt);
    dialog->OnSave();
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_TRUE(std::filesystem::exists(dialog->TempPath()));
}

TEST_F(RecorderTest, SavingOntoTheRecordingItselfIsRefusedAndLosesNothing) {
    Open();
    RecordBlocks(3);
    StopRun();
    const std::vector<std::uint8_t> recorded = FileBytes(dialog->TempPath());
    script.saveAnswers.push_back(QString::fromStdString(dialog->TempPath()));
    dialog->OnSave();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].kind, MessageKind::Warning);
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_EQ(FileBytes(dialog->TempPath()), recorded);
}

TEST_F(RecorderTest, ASaveIntoAMissingFolderTellsTheUserAndKeepsTheRecording) {
    Open();
    RecordBlocks(3);
    StopRun();
    script.saveAnswers.push_back(Text(InFolder("missing") / "memo.prm"));
    dialog->OnSave();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("memo.prm")));
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("could not be created")))
        << script.messages[0].text.toStdString();
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_EQ(FileBytes(dialog->TempPath()).size(), 3u * kEncodedBlockBytes);
}

TEST_F(RecorderTest, AFailedWriteRemovesThePartialCopyAndKeepsTheRecording) {
    Open();
    RecordBlocks(30); // 1620 bytes
    StopRun();
    const std::vector<std::uint8_t> recorded = FileBytes(dialog->TempPath());
    script.saveAnswers.push_back(Text(InFolder("memo.prm")));
    {
        // Writes past 1000 bytes fail, as on a full disk.
        const CFileSizeLimit limit(1000);
        dialog->OnSave();
    }
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("writing the file failed")))
        << script.messages[0].text.toStdString();
    EXPECT_FALSE(std::filesystem::exists(InFolder("memo.prm"))) << "no partial copy";
    EXPECT_EQ(FileBytes(dialog->TempPath()), recorded);
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    // The recording can still be saved elsewhere.
    script.saveAnswers.push_back(Text(InFolder("memo2.prm")));
    dialog->OnSave();
    EXPECT_EQ(FileBytes(InFolder("memo2.prm")), recorded);
    EXPECT_FALSE(dialog->HasRecording());
}

TEST_F(RecorderTest, AFailedSaveOverAnExistingFileKeepsThatFile) {
    Open();
    RecordBlocks(30); // 1620 bytes
    StopRun();
    const std::vector<std::uint8_t> older(900, 0x5A);
    WriteBytes(InFolder("memo.prm"), older);
    script.saveAnswers.push_back(Text(InFolder("memo.prm")));
    {
        // Writes past 1000 bytes fail, as on a full disk.
        const CFileSizeLimit limit(1000);
        dialog->OnSave();
    }
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(FileBytes(InFolder("memo.prm")), older) << "the file the user chose to replace is untouched";
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"memo.prm", "prm.tmp"})) << "no partial copy";
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
}

TEST_F(RecorderTest, ARecordingThatVanishedBeforeSaveIsReported) {
    Open();
    RecordBlocks(2);
    StopRun();
    std::filesystem::remove(dialog->TempPath());
    script.saveAnswers.push_back(Text(InFolder("memo.prm")));
    dialog->OnSave();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("could not be opened")));
    EXPECT_TRUE(dialog->HasRecording()) << "nothing was saved";
    ExpectButtons(kStoppedUnsavedButtons);
}

TEST_F(RecorderTest, AFileNamedNonameIsStillAFile) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.saveAnswers.push_back(Text(InFolder("Noname.prm")));
    dialog->OnSave();
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
    EXPECT_FALSE(dialog->HasRecording());
    ExpectButtons(kStoppedFileButtons);
}

// ---- The close request --------------------------------------------------------------------------

TEST_F(RecorderTest, ClosingDuringARecordingStopsItAndAsksOnce) {
    Open();
    RecordBlocks(3);
    // The recording has been stopped by the time the prompt shows.
    script.duringPrompt = [this] { EXPECT_FALSE(dialog->Pipeline().IsRecording()); };
    script.promptAnswers = {QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_EQ(script.saveDialogs, 0);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_TRUE(std::filesystem::exists(dialog->TempPath())) << "kept until teardown";
    Close();
    EXPECT_FALSE(std::filesystem::exists(InFolder("prm.tmp"))) << "teardown deletes the temporary file";
}

TEST_F(RecorderTest, ClosingDuringARecordingAnsweredYesSavesIt) {
    Open();
    RecordBlocks(3);
    script.promptAnswers = {QDialog::Accepted};
    script.saveAnswers.push_back(Text(InFolder("last.prm")));
    dialog->close();
    EXPECT_EQ(script.prompts, 1) << "saved, so not offered again";
    EXPECT_EQ(FileBytes(InFolder("last.prm")).size(), 3u * kEncodedBlockBytes);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, ClosingDuringARecordingWithTheSaveCancelledKeepsTheWindowAndTheRecording) {
    Open();
    RecordBlocks(3);
    script.promptAnswers = {QDialog::Accepted};
    script.saveAnswers = {std::nullopt};
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->IsRecording());
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_EQ(FileBytes(dialog->TempPath()).size(), 3u * kEncodedBlockBytes);
    EXPECT_EQ(dialog->TotalTenths(), FramesToTenths(3 * kFramesPerCaptureBlock)) << "its length, as after Stop";
    // The next close request asks again.
    script.promptAnswers = {QDialog::Accepted};
    script.saveAnswers = {Text(InFolder("second.prm"))};
    dialog->close();
    EXPECT_EQ(script.prompts, 2);
    EXPECT_EQ(FileBytes(InFolder("second.prm")).size(), 3u * kEncodedBlockBytes);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, ClosingWithAFailedSaveKeepsTheWindowAndTheRecording) {
    Open();
    RecordBlocks(30); // 1620 bytes
    StopRun();
    script.promptAnswers = {QDialog::Accepted};
    script.saveAnswers = {Text(InFolder("memo.prm"))};
    {
        const CFileSizeLimit limit(1000);
        dialog->close();
    }
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->HasRecording());
    EXPECT_EQ(FileBytes(dialog->TempPath()).size(), 30u * kEncodedBlockBytes);
}

TEST_F(RecorderTest, ClosingWhilePausedDuringARecordingStopsItToo) {
    Open();
    RecordBlocks(2);
    dialog->OnPause();
    script.promptAnswers = {QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_FALSE(dialog->Pipeline().IsRecording());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, ClosingDuringPlaybackStopsItAndWaitsBeforeTheWindowGoes) {
    Open(RealTimePlayback());
    script.openAnswers.push_back(Text(WriteFrameFile("long.prm", 2000)));
    dialog->OnOpen();
    WaitUntilPlaying();
    dialog->close();
    EXPECT_FALSE(dialog->Pipeline().IsPlaying());
    EXPECT_EQ(script.prompts, 0);
    EXPECT_FALSE(dialog->isVisible());
    // The close handling left the controls alone: the buttons still show the running state.
    ExpectButtons(kRunningButtons);
}

TEST_F(RecorderTest, ClosingWithAnUnsavedRecordingAsksOnce) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.promptAnswers = {QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, ClosingWithNothingToSaveAsksNothing) {
    Open();
    dialog->close();
    EXPECT_EQ(script.prompts, 0);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

TEST_F(RecorderTest, ASecondCloseRequestWhileThePromptIsOpenIsIgnored) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.duringPrompt = [this] {
        if (script.prompts == 1) {
            dialog->close();
        }
    };
    script.promptAnswers = {QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 1);
    EXPECT_FALSE(dialog->isVisible());
}

// ---- The working file ---------------------------------------------------------------------------

// A second window over its own virtual sound card, in the same folder as the fixture's.
struct SecondWindow {
    explicit SecondWindow(VirtualAudioConfig config)
        : backend(new CVirtualAudioBackend(std::move(config)))
        , dialog(std::unique_ptr<CAudioBackend>(backend), script.Make()) {
        dialog.show();
    }
    CScriptedDialogs script;
    CVirtualAudioBackend* backend; // owned by the dialog
    CRecorderDlg dialog;
};

// Two launches from the desktop start in the same folder: neither may record into, save from or
// delete the other's recording.
TEST_F(RecorderTest, TwoWindowsInOneFolderEachSaveTheirOwnRecording) {
    Open();
    VirtualAudioConfig otherConfig = CaptureOnRequest();
    // A different sound, so the two recordings differ.
    for (std::size_t i = 0; i < otherConfig.captureSource.size(); ++i) {
        otherConfig.captureSource[i] =
            static_cast<std::int16_t>(otherConfig.captureSource[i] / 3 + (i % 40) * 50);
    }
    SecondWindow second(std::move(otherConfig));
    EXPECT_EQ(std::filesystem::path(dialog->TempPath()), InFolder("prm.tmp"));
    EXPECT_EQ(std::filesystem::path(second.dialog.TempPath()), InFolder("prm-2.tmp"));

    RecordBlocks(4);
    StopRun();
    second.dialog.OnRecord();
    second.backend->GrantCapture(5);
    ASSERT_TRUE(
        WaitFor([&] { return FileBytes(second.dialog.TempPath()).size() == 6u * kEncodedBlockBytes; }));
    second.dialog.OnStop();
    ASSERT_TRUE(WaitFor([&] { return !second.dialog.IsRecording(); }));

    const std::vector<std::uint8_t> first = FileBytes(dialog->TempPath());
    const std::vector<std::uint8_t> other = FileBytes(second.dialog.TempPath());
    ASSERT_EQ(first.size(), 4u * kEncodedBlockBytes);
    ASSERT_NE(first,
              std::vector<std::uint8_t>(other.begin(), other.begin() + static_cast<long>(first.size())));

    script.saveAnswers.push_back(Text(InFolder("first.prm")));
    dialog->OnSave();
    EXPECT_EQ(FileBytes(InFolder("first.prm")), first);
    EXPECT_EQ(FileBytes(second.dialog.TempPath()), other) << "the other window's recording is untouched";
    Close();
    EXPECT_EQ(FileBytes(second.dialog.TempPath()), other) << "also by the first window's teardown";
    // A window started now takes the free name, not the one still held.
    Open();
    EXPECT_EQ(std::filesystem::path(dialog->TempPath()), InFolder("prm.tmp"));
    EXPECT_EQ(script.prompts, 0);

    second.script.saveAnswers.push_back(Text(InFolder("second.prm")));
    second.dialog.OnSave();
    EXPECT_EQ(FileBytes(InFolder("second.prm")), other);
    EXPECT_TRUE(second.script.messages.empty());
}

class RecorderLeftover;

// A recording left in the working file by a run that never reached its teardown, and what the
// user answers when the new window offers it.
struct LeftoverCase {
    const char* name;
    int promptAnswer;
    bool saveConfirmed;
    bool keptUnsaved; // the window holds it as its unsaved recording
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const LeftoverCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderLeftover : public RecorderTest, public ::testing::WithParamInterface<LeftoverCase> {};

TEST_P(RecorderLeftover, IsOfferedOnceTheWindowShowsAndNeverDiscardedUnasked) {
    const std::filesystem::path leftover = WriteFrameFile("prm.tmp", 200);
    const std::vector<std::uint8_t> recorded = FileBytes(leftover);
    script.promptAnswers.push_back(GetParam().promptAnswer);
    if (GetParam().promptAnswer == QDialog::Accepted) {
        script.saveAnswers.push_back(
            GetParam().saveConfirmed ? std::optional<QString>(Text(InFolder("found.prm"))) : std::nullopt);
    }
    Open();
    ASSERT_TRUE(WaitFor([&] { return script.prompts == 1; })) << "the leftover was not offered";
    ASSERT_TRUE(WaitFor([&] { return script.promptAnswers.empty() && script.saveAnswers.empty(); }));
    QTest::qWait(20);
    EXPECT_EQ(script.prompts, 1);
    EXPECT_EQ(std::filesystem::path(dialog->TempPath()), InFolder("prm.tmp"));
    if (GetParam().saveConfirmed) {
        EXPECT_EQ(FileBytes(InFolder("found.prm")), recorded);
        EXPECT_EQ(dialog->FileNameText().toStdString(), "found.prm");
        ExpectButtons(kStoppedFileButtons);
    }
    EXPECT_EQ(dialog->HasRecording(), GetParam().keptUnsaved);
    if (GetParam().keptUnsaved) {
        EXPECT_EQ(FileBytes(dialog->TempPath()), recorded);
        EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "6.0sec ") << "its length";
        ExpectButtons(kStoppedUnsavedButtons);
    } else {
        EXPECT_TRUE(FileBytes(dialog->TempPath()).empty());
    }
    if (GetParam().promptAnswer == QDialog::Rejected) {
        ExpectButtons(kIdleButtons);
        EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "00min 00sec");
    }
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderLeftover,
                         ::testing::Values(LeftoverCase{"Saved", QDialog::Accepted, true, false},
                                           LeftoverCase{"SaveCancelled", QDialog::Accepted, false, true},
                                           LeftoverCase{"Declined", QDialog::Rejected, false, false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

} // namespace
} // namespace velmar::test
