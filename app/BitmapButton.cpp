#include "app/BitmapButton.h"

#include <QPainter>
#include <QStyleOptionButton>

namespace velmar {

QString BitmapResource(int number) {
    return QStringLiteral(":/bitmaps/%1.png").arg(number);
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
    const QPixmap& face = FacePixmap(CurrentFace());
    if (!face.isNull()) {
        painter.drawPixmap(0, 0, face);
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
