// The position slider and the time display of the recorder window: the slider's notifications
// while idle, playing and paused, and the pipeline's reports as they reach the window.
#include "RecorderFixture.h"
#include "app/BitmapButton.h"

#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>
#include <thread>

namespace velmar::test {
namespace {

QString Text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// Drags the thumb of `slider` by `dx` pixels with the mouse and lets it go.
void DragThumb(QSlider& slider, int dx) {
    QStyleOptionSlider option;
    option.initFrom(&slider);
    option.orientation = slider.orientation();
    option.minimum = slider.minimum();
    option.maximum = slider.maximum();
    option.sliderPosition = slider.sliderPosition();
    option.sliderValue = slider.value();
    option.tickPosition = slider.tickPosition();
    const QPoint start =
        slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider).center();
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(&slider, start + QPoint(dx / 2, 0));
    QTest::mouseMove(&slider, start + QPoint(dx, 0));
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, start + QPoint(dx, 0));
}

class RecorderSliderTest : public RecorderTest {
protected:
    // Opens a file of one minute (600 tenths) and waits until it plays.
    void PlayMinuteFile() {
        script.openAnswers.push_back(Text(WriteFrameFile("minute.prm", 2000)));
        dialog->OnOpen();
        WaitUntilPlaying();
        ASSERT_TRUE(WaitFor([&] { return dialog->TotalTenths() == 600; }));
    }
};

TEST_F(RecorderSliderTest, BeforeAnyFileTheThumbReturnsToTheStartAndTheTimeStays) {
    Open();
    DragThumb(dialog->Slider(), 80);
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "00min 00sec");
}

TEST_F(RecorderSliderTest, DuringARecordingTheThumbReturnsToTheStartAndTheTimeStays) {
    Open();
    RecordBlocks(4);
    const QString shown = dialog->TimeDisplayText();
    DragThumb(dialog->Slider(), 80);
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_EQ(dialog->TimeDisplayText(), shown);
    dialog->Slider().setSliderPosition(60);
    dialog->OnHScroll(SliderCode::PageDown);
    EXPECT_EQ(dialog->TimeDisplayText(), shown) << "only the end of tracking does anything";
    StopRun();
}

TEST_F(RecorderSliderTest, AfterARecordingOfTenSecondsTheMiddleReadsFiveAndPlayStartsThere) {
    Open();
    RecordBlocks(112); // 336 frames: 100 tenths
    StopRun();
    ASSERT_EQ(dialog->TotalTenths(), 100);
    dialog->Slider().setSliderPosition(50);
    dialog->OnHScroll(SliderCode::ThumbPosition);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "5.0sec  / 10.0sec ");
    dialog->OnHScroll(SliderCode::EndTrack);
    EXPECT_EQ(dialog->SliderPos(), 50);

    dialog->OnPlay();
    ASSERT_TRUE(WaitForRunEnd());
    const std::size_t played = backend->PlayedSamples().size();
    EXPECT_GE(played, 168u * kFrameSamples) << "the second half";
    EXPECT_LT(played, 190u * kFrameSamples) << "and not the first";
}

TEST_F(RecorderSliderTest, WhileIdleEveryNotificationPreviewsThePosition) {
    Open();
    script.openAnswers.push_back(Text(WriteFrameFile("minute.prm", 2000)));
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    ASSERT_EQ(dialog->TotalTenths(), 600);
    for (const SliderCode code : {SliderCode::LineDown, SliderCode::PageUp, SliderCode::ThumbTrack,
                                  SliderCode::Bottom, SliderCode::EndTrack}) {
        dialog->Slider().setSliderPosition(25);
        dialog->OnHScroll(code);
        EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "15.0sec  / 1min 0.0sec ")
            << static_cast<int>(code);
    }
    EXPECT_EQ(dialog->Slider().value(), 25) << "the thumb stays where it was put";
}

TEST_F(RecorderSliderTest, ClickingTheTrackDuringPlaybackJumpsAndPlaysOnThere) {
    Open(RealTimePlayback());
    PlayMinuteFile();
    dialog->Slider().setSliderPosition(60);
    dialog->OnHScroll(SliderCode::PageDown);
    EXPECT_EQ(dialog->SliderPos(), 60);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "36.0sec  / 1min 0.0sec ") << "the preview";
    dialog->OnHScroll(SliderCode::EndTrack);
    // Positions reported from then on come from the new place.
    ASSERT_TRUE(WaitFor([&] { return dialog->PositionTenths() >= 360 && dialog->Slider().value() >= 60; }));
    EXPECT_TRUE(dialog->IsPlaying());
    EXPECT_LT(dialog->PositionTenths(), 420);
    StopRun();
}

TEST_F(RecorderSliderTest, DraggingTheThumbDuringPlaybackSeeksWhereItIsLetGo) {
    Open(RealTimePlayback());
    PlayMinuteFile();
    DragThumb(dialog->Slider(), 100);
    const int target = dialog->SliderPos();
    EXPECT_GT(target, 10);
    ASSERT_TRUE(WaitFor(
        [&] { return dialog->Slider().value() >= target && dialog->PositionTenths() >= target * 6; }));
    EXPECT_TRUE(dialog->IsPlaying());
    StopRun();
}

TEST_F(RecorderSliderTest, TrackingTheThumbHoldsTheReaderUntilItIsLetGo) {
    Open(RealTimePlayback());
    PlayMinuteFile();
    dialog->Slider().setSliderPosition(80);
    dialog->OnHScroll(SliderCode::ThumbTrack);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "48.0sec  / 1min 0.0sec ");
    dialog->OnHScroll(SliderCode::ThumbPosition);
    dialog->OnHScroll(SliderCode::EndTrack);
    ASSERT_TRUE(WaitFor([&] { return dialog->PositionTenths() >= 480; }));
    StopRun();
}

std::string SliderCodeName(SliderCode code) {
    const std::array<const char*, 9> names{"LineUp",     "LineDown", "PageUp", "PageDown", "ThumbPosition",
                                           "ThumbTrack", "Top",      "Bottom", "EndTrack"};
    return names[static_cast<std::size_t>(code)];
}

} // namespace
} // namespace velmar::test

namespace velmar {
// The test log names the code instead of dumping its bytes; beside the enumeration, where lookup
// finds it.
static void PrintTo(SliderCode code, std::ostream* os) {
    *os << test::SliderCodeName(code);
}
} // namespace velmar

namespace velmar::test {
namespace {

class RecorderSliderWhilePaused : public RecorderSliderTest,
                                  public ::testing::WithParamInterface<SliderCode> {};

TEST_P(RecorderSliderWhilePaused, EveryActionReturnsTheFocusToPause) {
    Open(RealTimePlayback());
    PlayMinuteFile();
    dialog->OnPause();
    ASSERT_TRUE(dialog->IsPaused());
    dialog->Slider().setFocus();
    dialog->Slider().setSliderPosition(40);
    dialog->OnHScroll(GetParam());
    EXPECT_EQ(FocusHolder(), &Button(ControlId::Pause));
    StopRun();
}

INSTANTIATE_TEST_SUITE_P(Recorder, RecorderSliderWhilePaused,
                         ::testing::Values(SliderCode::LineUp, SliderCode::LineDown, SliderCode::PageUp,
                                           SliderCode::PageDown, SliderCode::ThumbPosition,
                                           SliderCode::ThumbTrack, SliderCode::Top, SliderCode::Bottom,
                                           SliderCode::EndTrack),
                         [](const auto& testInfo) { return SliderCodeName(testInfo.param); });

TEST_F(RecorderSliderTest, WhilePlayingUnpausedTheFocusStaysOnTheSlider) {
    Open(RealTimePlayback());
    PlayMinuteFile();
    dialog->Slider().setFocus();
    dialog->Slider().setSliderPosition(40);
    dialog->OnHScroll(SliderCode::LineDown);
    EXPECT_EQ(FocusHolder(), &dialog->Slider());
    StopRun();
}

// ---- Reports ------------------------------------------------------------------------------------

TEST_F(RecorderSliderTest, ReportsFromAWorkerThreadApplyInTheOrderTheyWereMade) {
    Open();
    std::thread worker([&] {
        dialog->ShowDuration(600);
        for (int i = 0; i <= 99; ++i) {
            dialog->ShowElapsed(i);
            dialog->SetSliderPercent(i);
        }
    });
    worker.join();
    ASSERT_TRUE(WaitFor([&] { return dialog->PositionTenths() == 99; }));
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "9.9sec  / 1min 0.0sec ");
    EXPECT_EQ(dialog->Slider().value(), 99);
}

TEST_F(RecorderSliderTest, AReportDoesNotPullATheThumbTheUserHolds) {
    Open();
    dialog->Slider().setSliderDown(true);
    dialog->Slider().setSliderPosition(70);
    std::thread([&] { dialog->SetSliderPercent(20); }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->Slider().sliderPosition(), 70);
    dialog->Slider().setSliderDown(false);
    std::thread([&] { dialog->SetSliderPercent(20); }).join();
    ASSERT_TRUE(WaitFor([&] { return dialog->Slider().value() == 20; }));
}

TEST_F(RecorderSliderTest, ReportsArrivingAfterTheCloseBeganChangeNothing) {
    Open();
    dialog->close();
    const QString shown = dialog->TimeDisplayText();
    std::thread([&] {
        dialog->ShowDuration(600);
        dialog->ShowElapsed(300);
        dialog->SetSliderPercent(50);
        dialog->OnPipelineStopped();
    }).join();
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog->TimeDisplayText(), shown);
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_EQ(dialog->TotalTenths(), 0);
    ExpectButtons(kIdleButtons);
}

TEST_F(RecorderSliderTest, ReportsQueuedWhenTheWindowGoesAreDropped) {
    Open();
    std::thread([&] {
        for (int i = 0; i < 50; ++i) {
            dialog->ShowElapsed(i);
        }
        dialog->OnPipelineStopped();
    }).join();
    // The window goes before its thread has taken the reports; nothing may reach it afterwards.
    Close();
    QCoreApplication::processEvents();
    SUCCEED();
}

} // namespace
} // namespace velmar::test
