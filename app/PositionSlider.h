// The position slider of the recorder window: a horizontal track from 0 to 100 percent that reports
// what the user does with it as the classic trackbar notifications, so the window handles a drag,
// a click on the track, a key or the wheel the same way (see CRecorderDlg::OnHScroll).
#pragma once

#include <QSlider>

namespace velmar {

// Trackbar notification codes, with the numbers the classic control sends.
enum class SliderCode : int {
    LineUp = 0,
    LineDown = 1,
    PageUp = 2,
    PageDown = 3,
    ThumbPosition = 4, // the thumb was let go at its final place
    ThumbTrack = 5,    // the thumb is being dragged
    Top = 6,
    Bottom = 7,
    EndTrack = 8, // the mouse button or key that moved the slider was released
};

class CPositionSlider : public QSlider {
    Q_OBJECT

public:
    explicit CPositionSlider(QWidget* parent = nullptr);

signals:
    // One notification; the slider's sliderPosition() is already the new position.
    void Notified(velmar::SliderCode code);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void OnAction(int action);
    void OnReleased();

    bool mouseHeld = false; // a mouse button went down on the slider and is not yet up
    bool wheeling = false;  // inside a wheel turn: its move is a line step, not a drag
    int positionBeforeWheel = 0;
};

} // namespace velmar
