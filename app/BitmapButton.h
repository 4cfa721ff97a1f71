// A push button drawn from four pictures, as the recorder's buttons are: its selected face while it
// is pressed, otherwise its focused face while it holds the keyboard focus, otherwise its disabled
// or normal face. A disabled button can still hold the recorder's focus (see CButtonStates): it then
// carries a focus mark and shows its focused face, as the classic controls did. On a screen with a
// scale factor the faces are drawn anew at its resolution (see ButtonFaceDrawing.h).
#pragma once

#include "app/DialogTemplate.h"

#include <QAbstractButton>
#include <QPixmap>

#include <array>

namespace velmar {

class CBitmapButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Face { Normal, Selected, Focused, Disabled };

    explicit CBitmapButton(QWidget* parent = nullptr);

    // Loads the four faces from the numbered bitmap resources; false when one is missing (the button
    // then draws its caption on a plain face instead).
    bool LoadBitmaps(const ButtonFaces& numbers);
    // Gives the button the size of its normal face.
    void SizeToContent();

    // The face the button shows now.
    Face CurrentFace() const;
    const QPixmap& FacePixmap(Face face) const;

    void SetFocusMark(bool marked);
    bool HasFocusMark() const { return focusMark; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<QPixmap, 4> faces;
    // The faces as drawn on the screen the button is on, made when its ratio is first seen.
    std::array<QPixmap, 4> screenFaces;
    qreal screenRatio = 1.0;
    bool focusMark = false;
};

// `face` for a screen of `ratio` device pixels per pixel: every pixel of the picture is grown into a
// square block of whole device pixels (never blurred), and for a fractional ratio the result is
// brought down smoothly to the exact device size, so that the face stays crisp at any scale.
QPixmap FaceForRatio(const QPixmap& face, qreal ratio);

// Resource path of a numbered bitmap.
QString BitmapResource(int number);

} // namespace velmar
