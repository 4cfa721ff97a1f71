// The slider turns mouse, key and wheel input into the classic trackbar notifications.
#include "app/PositionSlider.h"

#include <QKeySequence>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <ostream>
#include <vector>

namespace velmar {
namespace {

class PositionSliderTest : public ::testing::Test {
protected:
    PositionSliderTest() {
        slider.setGeometry(0, 0, 240, 40);
        slider.setRange(0, 100);
        slider.setPageStep(10);
        slider.setTickPosition(QSlider::TicksBothSides);
        slider.setValue(50);
        slider.show();
        QObject::connect(&slider, &CPositionSlider::Notified,
                         [this](SliderCode code) { codes.push_back(code); });
    }

    QRect Handle() {
        QStyleOptionSlider option;
        option.initFrom(&slider);
        option.orientation = slider.orientation();
        option.minimum = slider.minimum();
        option.maximum = slider.maximum();
        option.sliderPosition = slider.sliderPosition();
        option.sliderValue = slider.value();
        option.tickPosition = slider.tickPosition();
        return slider.style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, &slider);
    }

    CPositionSlider slider;
    std::vector<SliderCode> codes;
};

TEST_F(PositionSliderTest, DraggingTheThumbTracksThenReportsItsPlaceAndTheEnd) {
    const QPoint start = Handle().center();
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, start);
    QTest::mouseMove(&slider, start + QPoint(30, 0));
    QTest::mouseMove(&slider, start + QPoint(60, 0));
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, start + QPoint(60, 0));

    ASSERT_GE(codes.size(), 3u);
    for (std::size_t i = 0; i + 2 < codes.size(); ++i) {
        EXPECT_EQ(codes[i], SliderCode::ThumbTrack) << i;
    }
    EXPECT_EQ(codes[codes.size() - 2], SliderCode::ThumbPosition);
    EXPECT_EQ(codes.back(), SliderCode::EndTrack);
    EXPECT_GT(slider.sliderPosition(), 50);
}

TEST_F(PositionSliderTest, AClickOnTheTrackPagesAndEndsOnRelease) {
    const QPoint right(Handle().right() + 40, Handle().center().y());
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, right);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, right);
    EXPECT_EQ(codes, (std::vector{SliderCode::PageDown, SliderCode::EndTrack}));
    EXPECT_EQ(slider.sliderPosition(), 60);

    codes.clear();
    const QPoint left(Handle().left() - 40, Handle().center().y());
    QTest::mousePress(&slider, Qt::LeftButton, Qt::NoModifier, left);
    QTest::mouseRelease(&slider, Qt::LeftButton, Qt::NoModifier, left);
    EXPECT_EQ(codes, (std::vector{SliderCode::PageUp, SliderCode::EndTrack}));
    EXPECT_EQ(slider.sliderPosition(), 50);
}

struct KeyCase {
    Qt::Key key;
    SliderCode code;
    int position;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << "key 0x" << std::hex << static_cast<int>(c.key) << std::dec << ", code "
        << static_cast<int>(c.code) << ", position " << c.position;
}

class PositionSliderKeys : public PositionSliderTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(PositionSliderKeys, MoveOnPressAndEndOnRelease) {
    QTest::keyPress(&slider, GetParam().key);
    QTest::keyRelease(&slider, GetParam().key);
    EXPECT_EQ(codes, (std::vector{GetParam().code, SliderCode::EndTrack}));
    EXPECT_EQ(slider.sliderPosition(), GetParam().position);
}

INSTANTIATE_TEST_SUITE_P(PositionSlider, PositionSliderKeys,
                         ::testing::Values(KeyCase{Qt::Key_Left, SliderCode::LineUp, 49},
                                           KeyCase{Qt::Key_Right, SliderCode::LineDown, 51},
                                           KeyCase{Qt::Key_Home, SliderCode::Top, 0},
                                           KeyCase{Qt::Key_End, SliderCode::Bottom, 100}),
                         [](const auto& testInfo) {
                             return QKeySequence(testInfo.param.key).toString().toStdString();
                         });

TEST_F(PositionSliderTest, AWheelTurnIsALineMoveWithItsEnd) {
    const QPoint at = Handle().center();
    QWheelEvent wheel(at, slider.mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(&slider, &wheel);
    ASSERT_EQ(codes.size(), 2u);
    EXPECT_TRUE(codes[0] == SliderCode::LineUp || codes[0] == SliderCode::LineDown);
    EXPECT_EQ(codes[1], SliderCode::EndTrack);
}

TEST_F(PositionSliderTest, MovesMadeByTheProgramNotifyNothing) {
    slider.setValue(20);
    slider.setSliderPosition(30);
    EXPECT_TRUE(codes.empty());
}

} // namespace
} // namespace velmar
