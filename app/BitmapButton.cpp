#include "app/BitmapButton.h"

#include "app/ButtonFaceDrawing.h"
#include "app/DialogLayout.h"

#include <QImage>
#include <QPainter>
#include <QStyleOptionButton>

#include <cmath>

namespace velmar {

QString BitmapResource(int number) {
    return QStringLiteral(":/bitmaps/%1.png").arg(number);
}

QPixmap FaceForRatio(const QPixmap& face, qreal ratio) {
    if (face.isNull() || ratio <= 1.0) {
        return face;
    }
    const int whole = static_cast<int>(std::ceil(ratio));
    QImage grown = face.toImage().scaled(face.size() * whole, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    const QSize device(static_cast<int>(std::lround(face.width() * ratio)),
                       static_cast<int>(std::lround(face.height() * ratio)));
    if (grown.size() != device) {
        grown = grown.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    QPixmap drawn = QPixmap::fromImage(grown);
    drawn.setDevicePixelRatio(ratio);
    return drawn;
}

CBitmapButton::CBitmapButton(QWidget* parent)
    : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
}

bool CBitmapButton::LoadBitmaps(const ButtonFaces& numbers) {
    const std::array<int, 4> resources{numbers.normal, numbers.selected, numbers.focused, numbers.disabled};
    bool loaded = true;
    for (std::size_t i = 0; i < faces.size(); ++i) {
        loaded = faces[i].load(BitmapResource(resources[i])) && loaded;
        screenFaces[i] = QPixmap();
    }
    update();
    return loaded;
}

void CBitmapButton::SizeToContent() {
    resize(sizeHint());
}

CBitmapButton::Face CBitmapButton::CurrentFace() const {
    if (isDown()) {
        return Face::Selected;
    }
    if (hasFocus() || focusMark) {
        return Face::Focused;
    }
    return isEnabled() ? Face::Normal : Face::Disabled;
}

const QPixmap& CBitmapButton::FacePixmap(Face face) const {
    return faces[static_cast<std::size_t>(face)];
}

void CBitmapButton::SetFocusMark(bool marked) {
    if (focusMark != marked) {
        focusMark = marked;
        update();
    }
}

QSize CBitmapButton::sizeHint() const {
    const QPixmap& normal = FacePixmap(Face::Normal);
    return normal.isNull() ? QSize(kButtonFaceWidth, kButtonFaceHeight) : normal.size();
}

void CBitmapButton::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    const auto index = static_cast<std::size_t>(CurrentFace());
    const QPixmap& face = faces[index];
    if (!face.isNull()) {
        const qreal ratio = devicePixelRatioF();
        if (ratio != screenRatio) {
            // Moved to a screen of another scale: the faces are made again for it.
            screenFaces = {};
            screenRatio = ratio;
        }
        if (screenFaces[index].isNull() && ratio > 1.0) {
            // Drawn anew at the screen's resolution; the picture grown to it where there is no drawing.
            screenFaces[index] = DrawButtonFace(GetControlId(*this), text(), CurrentFace(), ratio);
        }
        if (screenFaces[index].isNull()) {
            screenFaces[index] = FaceForRatio(face, ratio);
        }
        painter.drawPixmap(0, 0, screenFaces[index]);
        return;
    }
    // Without its pictures the button still says what it is.
    QStyleOptionButton option;
    option.initFrom(this);
    option.text = text();
    if (isDown()) {
        option.state |= QStyle::State_Sunken;
    }
    style()->drawControl(QStyle::CE_PushButton, &option, &painter, this);
}

} // namespace velmar
