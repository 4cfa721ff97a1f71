// Open, Save, the save prompt and the close request of the recorder window, with the prompt and
// the file dialogs answered by the test.
#include "RecorderFixture.h"
#include "app/BitmapButton.h"

#include <QDialog>
#include <QTest>
#include <gtest/gtest.h>

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
    EXPECT_FALSE(std::filesystem::exists(dialog->TempPath())) << "the temporary file is gone";
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

TEST_F(RecorderTest, ClosingDuringARecordingStopsItAndAsksTwiceWhenDeclined) {
    Open();
    RecordBlocks(3);
    // The recording has been stopped by the time the prompt shows.
    script.duringPrompt = [this] { EXPECT_FALSE(dialog->Pipeline().IsRecording()); };
    script.promptAnswers = {QDialog::Rejected, QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 2);
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

TEST_F(RecorderTest, ClosingDuringARecordingWithTheSaveCancelledOffersItAgain) {
    Open();
    RecordBlocks(3);
    script.promptAnswers = {QDialog::Accepted, QDialog::Accepted};
    script.saveAnswers = {std::nullopt, Text(InFolder("second.prm"))};
    dialog->close();
    EXPECT_EQ(script.prompts, 2);
    EXPECT_EQ(script.saveDialogs, 2);
    EXPECT_EQ(FileBytes(InFolder("second.prm")).size(), 3u * kEncodedBlockBytes);
}

TEST_F(RecorderTest, ClosingWhilePausedDuringARecordingStopsItToo) {
    Open();
    RecordBlocks(2);
    dialog->OnPause();
    script.promptAnswers = {QDialog::Rejected, QDialog::Rejected};
    dialog->close();
    EXPECT_EQ(script.prompts, 2);
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

} // namespace
} // namespace velmar::test
