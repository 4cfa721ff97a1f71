// The recorder window over the real pipeline on the virtual device: start-up, layout, the states
// table and the moves between its rows, Pause and the focus, the OK and cancel commands, and runs
// that end through an error.
#include "RecorderFixture.h"
#include "app/BitmapButton.h"
#include "app/DialogLayout.h"
#include "app/LevelMeter.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>

namespace velmar::test {
namespace {

// ---- Start-up and layout ------------------------------------------------------------------------

TEST_F(RecorderTest, StartEmptiesAWorkingFileLeftWithoutAWholeFrameAndAsksNothing) {
    WriteBytes(InFolder("prm.tmp"), {1, 2, 3});
    Open();
    QTest::qWait(50); // the time a leftover recording would be offered in
    EXPECT_EQ(std::filesystem::path(dialog->TempPath()), InFolder("prm.tmp"));
    EXPECT_TRUE(FileBytes(InFolder("prm.tmp")).empty());
    EXPECT_EQ(script.prompts, 0);
    EXPECT_FALSE(dialog->HasRecording());
    ExpectButtons(kIdleButtons);
    Close();
    EXPECT_FALSE(std::filesystem::exists(InFolder("prm.tmp"))) << "teardown deletes it";
}

TEST_F(RecorderTest, OpensIdleWithItsTitleTextsAndFocusOnOpen) {
    Open();
    EXPECT_EQ(dialog->windowTitle().toStdString(), "Velmar Voice Recorder/Player");
    ExpectButtons(kIdleButtons);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "00min 00sec");
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Open));
    EXPECT_FALSE(dialog->IsPlaying() || dialog->IsRecording() || dialog->HasRecording() ||
                 dialog->IsPaused());
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_FALSE(dialog->Icon().isNull());
    EXPECT_FALSE(dialog->windowIcon().isNull());
}

TEST_F(RecorderTest, ControlsSitWhereTheTemplatePutsThemInDialogUnits) {
    Open();
    const QFont font = dialog->font();
    // The template's 213 x 100 units, and below them the level strip, which moves no control.
    EXPECT_EQ(dialog->size(), DialogUnitsToPixels({0, 0, 213, 109}, font).size());
    EXPECT_EQ(dialog->LevelMeter().geometry(), DialogUnitsToPixels({7, 99, 199, 7}, font));
    for (const QWidget* control : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (control != &dialog->LevelMeter()) {
            EXPECT_LT(control->geometry().bottom(), dialog->LevelMeter().y()) << "below every control";
        }
    }
    struct Place {
        ControlId id;
        DialogUnitRect rect;
    };
    // Buttons: only the top-left corner counts, the size is the face's.
    for (const Place& button :
         {Place{ControlId::Play, {7, 79, 0, 0}}, Place{ControlId::Record, {49, 79, 0, 0}},
          Place{ControlId::Stop, {133, 79, 0, 0}}, Place{ControlId::Open, {176, 29, 0, 0}},
          Place{ControlId::Save, {175, 55, 0, 0}}, Place{ControlId::Pause, {91, 79, 0, 0}},
          Place{ControlId::About, {175, 80, 0, 0}}}) {
        SCOPED_TRACE(static_cast<int>(button.id));
        const CBitmapButton& widget = Button(button.id);
        EXPECT_EQ(widget.pos(), DialogUnitsToPixels(button.rect, font).topLeft());
        EXPECT_EQ(widget.size(), QSize(61, 30));
        for (const auto face : {CBitmapButton::Face::Normal, CBitmapButton::Face::Selected,
                                CBitmapButton::Face::Focused, CBitmapButton::Face::Disabled}) {
            EXPECT_EQ(widget.FacePixmap(face).size(), QSize(61, 30));
        }
        EXPECT_NE(widget.FacePixmap(CBitmapButton::Face::Normal).toImage(),
                  widget.FacePixmap(CBitmapButton::Face::Disabled).toImage());
    }
    for (const Place& text :
         {Place{ControlId::TimeDisplay, {52, 59, 107, 10}}, Place{ControlId::FileName, {41, 7, 165, 11}}}) {
        EXPECT_EQ(FindControl(*dialog, text.id)->geometry(), DialogUnitsToPixels(text.rect, font));
    }
    auto* time = qobject_cast<QLabel*>(FindControl(*dialog, ControlId::TimeDisplay));
    EXPECT_TRUE(time->alignment() & Qt::AlignRight);
    EXPECT_EQ(time->frameShadow(), QFrame::Sunken);
    // The slider covers the frame 1009 and takes its id.
    EXPECT_EQ(FindControl(*dialog, ControlId::SliderFrame), &dialog->Slider());
    EXPECT_EQ(dialog->Slider().geometry(), DialogUnitsToPixels({7, 29, 156, 23}, font));
    EXPECT_EQ(dialog->Slider().minimum(), 0);
    EXPECT_EQ(dialog->Slider().maximum(), 100);
    EXPECT_EQ(dialog->Slider().pageStep(), 10);
    EXPECT_EQ(dialog->Slider().tickInterval(), 10);
    EXPECT_EQ(dialog->Slider().tickPosition(), QSlider::TicksBothSides);
    EXPECT_EQ(dialog->Slider().focusPolicy(), Qt::ClickFocus) << "not a tab stop";
    QStringList labels;
    for (const QLabel* label : dialog->findChildren<QLabel*>()) {
        labels << label->text();
    }
    EXPECT_TRUE(labels.contains(QStringLiteral("File Name:")));
    EXPECT_TRUE(labels.contains(QStringLiteral("Time:")));
}

TEST_F(RecorderTest, TabOrderIsTheTemplatesOrder) {
    Open();
    // Enable every button so that each is a tab stop.
    for (const ControlId id : {ControlId::Play, ControlId::Record, ControlId::Stop, ControlId::Open,
                               ControlId::Save, ControlId::Pause, ControlId::About}) {
        Button(id).setEnabled(true);
    }
    std::vector<QWidget*> order;
    QWidget* widget = &Button(ControlId::Play);
    do {
        if (widget->focusPolicy() & Qt::TabFocus) {
            order.push_back(widget);
        }
        widget = widget->nextInFocusChain();
    } while (widget != &Button(ControlId::Play));
    EXPECT_EQ(order, (std::vector<QWidget*>{&Button(ControlId::Play), &Button(ControlId::Record),
                                            &Button(ControlId::Stop), &Button(ControlId::Open),
                                            &Button(ControlId::Save), &Button(ControlId::Pause),
                                            &Button(ControlId::About)}));
}

// ---- The states table ---------------------------------------------------------------------------

class RecorderStates;

struct StateRow {
    const char* name;
    std::function<void(RecorderStates&)> reach;
    bool playing;
    bool recording;
    bool hasRecording;
    bool paused;
    ExpectedButtons buttons;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const StateRow& c, std::ostream* os) {
    *os << c.name;
}

class RecorderStates : public RecorderTest, public ::testing::WithParamInterface<StateRow> {
public:
    void RecordTwoBlocks() { RecordBlocks(2); }
    void Stop() { StopRun(); }
    void Pause() { dialog->OnPause(); }
    void OpenLongFile() {
        script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("long.prm", 2000).string()));
        dialog->OnOpen();
        WaitUntilPlaying();
    }
    void SaveAs(const char* name) {
        script.saveAnswers.push_back(QString::fromStdString(InFolder(name).string()));
        dialog->OnSave();
    }
};

TEST_P(RecorderStates, EachRowHasItsFlagsAndEnablesExactlyItsButtons) {
    // Playback takes real time here, so a playback is still going when its row is checked.
    Open(RealTimePlayback());
    GetParam().reach(*this);
    EXPECT_EQ(dialog->IsPlaying(), GetParam().playing);
    EXPECT_EQ(dialog->IsRecording(), GetParam().recording);
    EXPECT_EQ(dialog->HasRecording(), GetParam().hasRecording);
    EXPECT_EQ(dialog->IsPaused(), GetParam().paused);
    ExpectButtons(GetParam().buttons);
    EXPECT_TRUE(script.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderStates,
                         ::testing::Values(StateRow{"IdleAtStart", [](auto&) {}, false, false, false, false,
                                                    kIdleButtons},
                                           StateRow{"Recording", [](auto& s) { s.RecordTwoBlocks(); }, false,
                                                    true, true, false, kRunningButtons},
                                           StateRow{"RecordingPaused",
                                                    [](auto& s) {
                                                        s.RecordTwoBlocks();
                                                        s.Pause();
                                                    },
                                                    false, true, true, true, kRunningButtons},
                                           StateRow{"Playing", [](auto& s) { s.OpenLongFile(); }, true, false,
                                                    false, false, kRunningButtons},
                                           StateRow{"PlayingPaused",
                                                    [](auto& s) {
                                                        s.OpenLongFile();
                                                        s.Pause();
                                                    },
                                                    true, false, false, true, kRunningButtons},
                                           StateRow{"StoppedRecordingNotSaved",
                                                    [](auto& s) {
                                                        s.RecordTwoBlocks();
                                                        s.Stop();
                                                    },
                                                    false, false, true, false, kStoppedUnsavedButtons},
                                           StateRow{"StoppedFilePresent",
                                                    [](auto& s) {
                                                        s.RecordTwoBlocks();
                                                        s.Stop();
                                                        s.SaveAs("kept.prm");
                                                    },
                                                    false, false, false, false, kStoppedFileButtons},
                                           StateRow{"StoppedAfterPlayingAFile",
                                                    [](auto& s) {
                                                        s.OpenLongFile();
                                                        s.Stop();
                                                    },
                                                    false, false, false, false, kStoppedFileButtons}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(RecorderTest, TransitionsBetweenTheRows) {
    Open(RealTimePlayback());
    // Idle -> Recording.
    RecordBlocks(3);
    ExpectButtons(kRunningButtons);
    // Pause and resume change no button.
    dialog->OnPause();
    EXPECT_TRUE(dialog->IsPaused());
    ExpectButtons(kRunningButtons);
    dialog->OnPause();
    EXPECT_FALSE(dialog->IsPaused());
    ExpectButtons(kRunningButtons);
    // Stop shows the stopped state at once; the run flag waits for the end-of-run report.
    dialog->OnStop();
    ExpectButtons(kStoppedUnsavedButtons);
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Play)) << "the end of the run moves the focus to Play";
    EXPECT_EQ(dialog->Slider().value(), 0);
    // Stopped with a recording -> Playing (the temporary file) -> Stop: still unsaved.
    dialog->OnPlay();
    EXPECT_TRUE(dialog->IsPlaying());
    ExpectButtons(kRunningButtons);
    StopRun();
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_TRUE(dialog->HasRecording());
    // Record again overwrites the unsaved recording without a question.
    RecordBlocks(2);
    EXPECT_EQ(script.prompts, 0);
    StopRun();
    const std::size_t recorded = FileBytes(dialog->TempPath()).size();
    EXPECT_GE(recorded, 2u * kEncodedBlockBytes);
    EXPECT_EQ(recorded % kEncodedBlockBytes, 0u) << "whole blocks only";
    // Save -> stopped with a file.
    script.saveAnswers.push_back(QString::fromStdString(InFolder("kept.prm").string()));
    dialog->OnSave();
    ExpectButtons(kStoppedFileButtons);
    EXPECT_FALSE(dialog->HasRecording());
    // Play the saved file to its end: the run ends by itself into the same row.
    dialog->OnPlay();
    ExpectButtons(kRunningButtons);
    ASSERT_TRUE(WaitForRunEnd());
    ExpectButtons(kStoppedFileButtons);
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Play));
    // Open -> Playing -> Stop.
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("long.prm", 2000).string()));
    dialog->OnOpen();
    ExpectButtons(kRunningButtons);
    StopRun();
    ExpectButtons(kStoppedFileButtons);
    // Stopped with a file -> Recording.
    RecordBlocks(1);
    ExpectButtons(kRunningButtons);
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
    StopRun();
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(RecorderTest, AfterARecordingEndsSaveIsEnabledAndTheLengthShown) {
    Open();
    RecordBlocks(12); // 36 frames: 1.08 s
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "1.0sec ") << "the elapsed time alone";
    StopRun();
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "1.0sec ");
    EXPECT_EQ(dialog->TotalTenths(), 10);
}

TEST_F(RecorderTest, PlayStartsAtTheSlidersPercentage) {
    Open();
    const auto path = WriteFrameFile("ten.prm", 1000);
    script.openAnswers.push_back(QString::fromStdString(path.string()));
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    const std::size_t whole = backend->PlayedSamples().size();
    ASSERT_GE(whole, 1000u * kFrameSamples);
    // From the middle of the file, half of it is played.
    dialog->Slider().setValue(50);
    dialog->OnPlay();
    EXPECT_EQ(dialog->SliderPos(), 50);
    ASSERT_TRUE(WaitForRunEnd());
    const std::size_t second = backend->PlayedSamples().size() - whole;
    EXPECT_GE(second, 500u * kFrameSamples);
    EXPECT_LT(second, 520u * kFrameSamples);
}

// ---- Pause and the keyboard focus ---------------------------------------------------------------

TEST_F(RecorderTest, PausingARecordingFocusesRecordAndResumingTheSlider) {
    Open();
    RecordBlocks(2);
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
    dialog->OnPause();
    EXPECT_TRUE(dialog->IsPaused());
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Record));
    EXPECT_FALSE(Button(ControlId::Record).isEnabled());
    EXPECT_EQ(Button(ControlId::Record).CurrentFace(), CBitmapButton::Face::Focused);
    dialog->OnPause();
    EXPECT_FALSE(dialog->IsPaused());
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
    EXPECT_EQ(Button(ControlId::Record).CurrentFace(), CBitmapButton::Face::Disabled);
    // Resumed, it goes on once the device runs again: a buffer granted while the pause is still
    // being carried out would be cut short by the device's reset and dropped.
    ASSERT_TRUE(
        backend->WaitForCalls(AudioDirection::Input, DeviceOperation::Start, 2, std::chrono::seconds(30)));
    CaptureMore(2);
}

TEST_F(RecorderTest, PausingAPlaybackStartedWithPlayFocusesPlay) {
    Open(RealTimePlayback());
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("long.prm", 2000).string()));
    dialog->OnOpen();
    StopRun(); // clears the run kinds
    dialog->OnPlay();
    WaitUntilPlaying();
    dialog->OnPause();
    EXPECT_TRUE(dialog->IsPaused());
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Play));
    EXPECT_EQ(Button(ControlId::Play).CurrentFace(), CBitmapButton::Face::Focused);
    dialog->OnPause();
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
}

TEST_F(RecorderTest, PausingAnOpenedFileLeavesTheFocusOnTheSlider) {
    Open(RealTimePlayback());
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("long.prm", 2000).string()));
    dialog->OnOpen();
    WaitUntilPlaying();
    dialog->OnPause();
    EXPECT_TRUE(dialog->IsPaused());
    EXPECT_EQ(FocusHolder(), &dialog->Slider()) << "Open sets no run kind, so Pause moves nothing";
}

TEST_F(RecorderTest, ARecordingWithHolesSaysHowMuchSoundIsMissing) {
    // Accelerated input without credit captures far faster than the encoder stores: blocks are lost.
    Open(VirtualAudioConfig{});
    dialog->OnRecord();
    ASSERT_TRUE(backend->WaitForCaptured(300 * kCaptureBlockSamples, kGuiTimeout));
    dialog->OnStop();
    ASSERT_TRUE(WaitFor([&] { return !script.messages.empty(); }));
    EXPECT_EQ(script.messages[0].title.toStdString(), "Sound missing");
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral(" s of audio could not be stored in time and is missing")))
        << script.messages[0].text.toStdString();
    EXPECT_TRUE(dialog->HasRecording()) << "the recording with its holes is kept";
}

TEST_F(RecorderTest, AfterARecordingFailedAndAPlayBothKindsAreSetAndPlayWins) {
    Open(RealTimePlayback());
    RecordBlocks(10);
    {
        // The disk fills up a second later: the recording ends by itself, with an error.
        const CFileSizeLimit limit(static_cast<rlim_t>(FileBytes(dialog->TempPath()).size()) + 600);
        ASSERT_TRUE(WaitForRunEnd());
    }
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "Recording stopped");
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("File too large")))
        << script.messages[0].text.toStdString();
    EXPECT_TRUE(dialog->ButtonStates().RecordStarted()) << "a run that ends by itself keeps its kind";
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_GE(FileBytes(dialog->TempPath()).size(), 10u * kEncodedBlockBytes) << "what was written is kept";
    // Play the recording: both kinds are set, and Pause gives the focus to Play.
    dialog->OnPlay();
    WaitUntilPlaying();
    dialog->OnPause();
    EXPECT_TRUE(dialog->IsPaused());
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Play));
}

// ---- OK and cancel ------------------------------------------------------------------------------

TEST_F(RecorderTest, EnterDuringARunDoesNothing) {
    Open();
    RecordBlocks(1);
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->IsRecording());
    StopRun();
}

TEST_F(RecorderTest, EnterWithNothingUnsavedClosesWithoutThePrompt) {
    Open();
    RecordBlocks(1);
    StopRun();
    script.saveAnswers.push_back(QString::fromStdString(InFolder("kept.prm").string()));
    dialog->OnSave();
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(script.prompts, 0);
}

class RecorderKeys;

// Enter, Escape and the close box with and without a recording that would be lost.
struct KeyCase {
    const char* name;
    std::function<void(RecorderKeys&)> reach;
    std::function<void(RecorderKeys&)> press;
    int prompts; // answered No: the window closes and teardown deletes the working file
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.name;
}

class RecorderKeys : public RecorderTest, public ::testing::WithParamInterface<KeyCase> {
public:
    void RecordOne() { RecordBlocks(1); }
    void StopNow() { StopRun(); }
    void PauseNow() { dialog->OnPause(); }
    void Key(Qt::Key key) { QTest::keyClick(dialog.get(), key); }
    void CloseBox() { dialog->close(); }
};

TEST_P(RecorderKeys, AskOnceBeforeALossAndCloseTheWindow) {
    Open(RealTimePlayback());
    GetParam().reach(*this);
    script.promptAnswers = {QDialog::Rejected};
    GetParam().press(*this);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(script.prompts, GetParam().prompts);
    script.promptAnswers.clear();
    // Teardown stops whatever still runs; no report touches the window afterwards.
    Close();
    EXPECT_FALSE(std::filesystem::exists(InFolder("prm.tmp")));
}

const auto kNothing = [](RecorderKeys&) {};
const auto kRecording = [](RecorderKeys& k) { k.RecordOne(); };
const auto kStoppedUnsaved = [](RecorderKeys& k) {
    k.RecordOne();
    k.StopNow();
};
const auto kRecordingPaused = [](RecorderKeys& k) {
    k.RecordOne();
    k.PauseNow();
};
const auto kEscape = [](RecorderKeys& k) { k.Key(Qt::Key_Escape); };
const auto kEnter = [](RecorderKeys& k) { k.Key(Qt::Key_Return); };
const auto kCloseBox = [](RecorderKeys& k) { k.CloseBox(); };

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderKeys,
                         ::testing::Values(KeyCase{"EscapeIdle", kNothing, kEscape, 0},
                                           KeyCase{"EscapeRecording", kRecording, kEscape, 1},
                                           KeyCase{"EscapeStoppedUnsaved", kStoppedUnsaved, kEscape, 1},
                                           KeyCase{"EscapeRecordingPaused", kRecordingPaused, kEscape, 1},
                                           KeyCase{"EnterStoppedUnsaved", kStoppedUnsaved, kEnter, 1},
                                           KeyCase{"CloseBoxIdle", kNothing, kCloseBox, 0},
                                           KeyCase{"CloseBoxRecording", kRecording, kCloseBox, 1},
                                           KeyCase{"CloseBoxStoppedUnsaved", kStoppedUnsaved, kCloseBox, 1}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

// Yes followed by a cancelled save dialog: the user wants the recording, so nothing may end it.
TEST_F(RecorderTest, EnterAndEscapeAnsweredYesWithTheSaveCancelledKeepTheWindowAndTheRecording) {
    Open();
    RecordBlocks(2);
    StopRun();
    const std::vector<std::uint8_t> recorded = FileBytes(dialog->TempPath());
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        script.promptAnswers = {QDialog::Accepted};
        script.saveAnswers = {std::nullopt};
        QTest::keyClick(dialog.get(), key);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_TRUE(dialog->HasRecording());
        EXPECT_FALSE(dialog->IsClosing());
        ExpectButtons(kStoppedUnsavedButtons);
        EXPECT_EQ(FileBytes(dialog->TempPath()), recorded);
    }
    EXPECT_EQ(script.prompts, 2);
}

TEST_F(RecorderTest, EscapeDuringPlaybackThenTeardownStopsIt) {
    Open(RealTimePlayback());
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("long.prm", 2000).string()));
    dialog->OnOpen();
    WaitUntilPlaying();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(script.prompts, 0);
    // Teardown stops the playback; its reports, still on their way, find no window.
    Close();
}

// ---- Runs that end through an error -------------------------------------------------------------

// A recording whose device never opens captured nothing: the window must not offer to play or save
// it, and shows again what it showed before Record.
TEST_F(RecorderTest, ARecordingThatCapturedNothingLeavesTheWindowAsItWasAndSaysWhy) {
    for (const bool withFile : {false, true}) {
        SCOPED_TRACE(withFile ? "after a file was opened" : "at start");
        VirtualAudioConfig config = CaptureOnRequest();
        config.inputDevices = 0;
        Open(std::move(config));
        script.messages.clear();
        if (withFile) {
            script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("some.prm", 100).string()));
            dialog->OnOpen();
            ASSERT_TRUE(WaitForRunEnd());
        }
        const QString timeBefore = dialog->TimeDisplayText();
        dialog->OnRecord();
        ASSERT_TRUE(WaitForRunEnd());
        ASSERT_EQ(script.messages.size(), 1u);
        EXPECT_EQ(script.messages[0].kind, MessageKind::Warning);
        EXPECT_EQ(script.messages[0].title.toStdString(), "Recording stopped");
        EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("Sound driver is not installed.")))
            << script.messages[0].text.toStdString();
        EXPECT_FALSE(dialog->HasRecording());
        ExpectButtons(withFile ? kStoppedFileButtons : kIdleButtons);
        EXPECT_EQ(dialog->FileNameText().toStdString(), withFile ? "some.prm" : "Noname.prm");
        EXPECT_EQ(dialog->TimeDisplayText(), timeBefore);
        // Nothing to offer when the window closes.
        dialog->close();
        EXPECT_EQ(script.prompts, 0);
        EXPECT_FALSE(dialog->isVisible());
        Close();
    }
}

// The new recording overwrote the unsaved one and captured nothing: there is nothing left to play,
// save or offer.
TEST_F(RecorderTest, ARecordingThatCapturedNothingAfterAnUnsavedOneLeavesNothingToSave) {
    Open();
    RecordBlocks(2);
    StopRun();
    backend->InjectFault({AudioDirection::Input, DeviceOperation::Open, 2, DeviceResult::NoDriver});
    dialog->OnRecord();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_FALSE(dialog->HasRecording());
    ExpectButtons(kIdleButtons);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "00min 00sec");
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(script.prompts, 0);
}

TEST_F(RecorderTest, PlayOfAFileThatVanishedIsRefusedAndTheWindowStaysStopped) {
    Open();
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("gone.prm", 100).string()));
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    std::filesystem::remove(InFolder("gone.prm"));
    dialog->OnPlay();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "Not played");
    EXPECT_TRUE(script.messages[0].text.contains(QStringLiteral("gone.prm")))
        << script.messages[0].text.toStdString();
    EXPECT_FALSE(dialog->IsPlaying());
    ExpectButtons(kStoppedFileButtons);
    // Not believed to play: Enter closes the window.
    QTest::keyClick(dialog.get(), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(RecorderTest, AnOutputDeviceFailureDuringPlaybackSaysWhy) {
    Open();
    backend->InjectFault({AudioDirection::Output, DeviceOperation::Queue, 3, DeviceResult::NoMemory});
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("some.prm", 300).string()));
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "Playback stopped");
    EXPECT_FALSE(script.messages[0].text.trimmed().endsWith(QStringLiteral(":"))) << "with a reason";
}

TEST_F(RecorderTest, StoppingARunCleanlyShowsNoMessage) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.openAnswers.push_back(QString::fromStdString(WriteFrameFile("some.prm", 100).string()));
    script.promptAnswers.push_back(QDialog::Rejected);
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(RecorderTest, AboutShowsTheCreditBox) {
    Open();
    dialog->OnAbout();
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].kind, MessageKind::Plain);
    EXPECT_EQ(script.messages[0].title.toStdString(), "About");
    EXPECT_FALSE(script.messages[0].text.isEmpty());
    EXPECT_FALSE(script.messages[0].text.contains(QLatin1Char('\n'))) << "one line";
}

} // namespace
} // namespace velmar::test
