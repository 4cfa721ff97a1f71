#include "app/PositionSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

namespace velmar {
namespace {

bool IsNavigationKey(int key) {
    switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        return true;
    default:
        return false;
    }
}

} // namespace

CPositionSlider::CPositionSlider(QWidget* parent)
    : QSlider(Qt::Horizontal, parent) {
    connect(this, &QAbstractSlider::actionTriggered, this, &CPositionSlider::OnAction);
    connect(this, &QAbstractSlider::sliderReleased, this, &CPositionSlider::OnReleased);
}

void CPositionSlider::OnAction(int action) {
    switch (static_cast<SliderAction>(action)) {
    case SliderSingleStepSub:
        emit Notified(SliderCode::LineUp);
        break;
    case SliderSingleStepAdd:
        emit Notified(SliderCode::LineDown);
        break;
    case SliderPageStepSub:
        emit Notified(SliderCode::PageUp);
        break;
    case SliderPageStepAdd:
        emit Notified(SliderCode::PageDown);
        break;
    case SliderToMinimum:
        emit Notified(SliderCode::Top);
        break;
    case SliderToMaximum:
        emit Notified(SliderCode::Bottom);
        break;
    case SliderMove:
        if (wheeling) {
            emit Notified(sliderPosition() < positionBeforeWheel ? SliderCode::LineUp : SliderCode::LineDown);
        } else if (isSliderDown()) {
            emit Notified(SliderCode::ThumbTrack);
        }
        break;
    case SliderNoAction:
        break;
    }
}

void CPositionSlider::OnReleased() {
    emit Notified(SliderCode::ThumbPosition);
    emit Notified(SliderCode::EndTrack);
}

void CPositionSlider::mousePressEvent(QMouseEvent* event) {
    mouseHeld = true;
    QSlider::mousePressEvent(event);
}

void CPositionSlider::mouseReleaseEvent(QMouseEvent* event) {
    // A drag of the thumb ends through sliderReleased; a click on the track ends here.
    const bool thumbWasDown = isSliderDown();
    QSlider::mouseReleaseEvent(event);
    if (mouseHeld && event->buttons() == Qt::NoButton) {
        mouseHeld = false;
        if (!thumbWasDown) {
            emit Notified(SliderCode::EndTrack);
        }
    }
}

void CPositionSlider::keyReleaseEvent(QKeyEvent* event) {
    if (IsNavigationKey(event->key()) && !event->isAutoRepeat()) {
        emit Notified(SliderCode::EndTrack);
        event->accept();
        return;
    }
    QSlider::keyReleaseEvent(event);
}

void CPositionSlider::wheelEvent(QWheelEvent* event) {
    wheeling = true;
    positionBeforeWheel = sliderPosition();
    QSlider::wheelEvent(event);
    wheeling = false;
    if (sliderPosition() != positionBeforeWheel) {
        emit Notified(SliderCode::EndTrack);
    }
}

} // namespace velmar
