#include "app/ButtonFaceDrawing.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

#include <cmath>
#include <optional>

namespace velmar {
namespace {

// The colours of the pictures (the classic 16-colour set).
const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
const QColor kSilver(192, 192, 192);
const QColor kGrey(128, 128, 128);
const QColor kMaroon(128, 0, 0);
const QColor kRed(255, 0, 0);
const QColor kGreen(0, 128, 0);
const QColor kLime(0, 255, 0);
const QColor kNavy(0, 0, 128);
const QColor kBlue(0, 0, 255);
const QColor kOlive(128, 128, 0);
const QColor kYellow(255, 255, 0);

constexpr int kSymbolSize = 9;
constexpr int kSymbolGap = 4;
// The caption's letters are as tall as the pictures' (7 pixels to the baseline).
constexpr qreal kCaptionPixelSize = 10;

// One pixel of the face's grid, at the screen's resolution.
void Dot(QPainter& painter, int x, int y, const QColor& colour) {
    painter.fillRect(QRectF(x, y, 1, 1), colour);
}

void HLine(QPainter& painter, int x0, int x1, int y, const QColor& colour) {
    painter.fillRect(QRectF(x0, y, x1 - x0 + 1, 1), colour);
}

void VLine(QPainter& painter, int x, int y0, int y1, const QColor& colour) {
    painter.fillRect(QRectF(x, y0, 1, y1 - y0 + 1), colour);
}

void Frame(QPainter& painter, int inset, const QColor& colour) {
    const int x1 = kButtonFaceWidth - 1 - inset;
    const int y1 = kButtonFaceHeight - 1 - inset;
    HLine(painter, inset, x1, inset, colour);
    HLine(painter, inset, x1, y1, colour);
    VLine(painter, inset, inset, y1, colour);
    VLine(painter, x1, inset, y1, colour);
}

void Raised(QPainter& painter, int inset) {
    const int x1 = kButtonFaceWidth - 1 - inset;
    const int y1 = kButtonFaceHeight - 1 - inset;
    HLine(painter, inset, x1, inset, kWhite);
    VLine(painter, inset, inset, y1, kWhite);
    HLine(painter, inset, x1, y1, kBlack);
    VLine(painter, x1, inset, y1, kBlack);
    HLine(painter, inset + 1, x1 - 1, y1 - 1, kGrey);
    VLine(painter, x1 - 1, inset + 1, y1 - 1, kGrey);
}

// Dotted, every other pixel, as keyboard focus is drawn on classic controls.
void FocusRect(QPainter& painter, int inset) {
    const int x1 = kButtonFaceWidth - 1 - inset;
    const int y1 = kButtonFaceHeight - 1 - inset;
    for (int x = inset; x <= x1; ++x) {
        if ((x + inset) % 2 == 0) {
            Dot(painter, x, inset, kBlack);
        }
        if ((x + y1) % 2 == 0) {
            Dot(painter, x, y1, kBlack);
        }
    }
    for (int y = inset; y <= y1; ++y) {
        if ((inset + y) % 2 == 0) {
            Dot(painter, inset, y, kBlack);
        }
        if ((x1 + y) % 2 == 0) {
            Dot(painter, x1, y, kBlack);
        }
    }
}

// The symbol in the 9 x 9 box at (x, y); `only`, when given, paints every part in that one colour
// (the etched look of a disabled face).
bool Symbol(QPainter& painter, ControlId id, qreal x, qreal y, std::optional<QColor> only) {
    const auto pick = [&](const QColor& colour) { return only ? *only : colour; };
    const auto shape = [&](const QPainterPath& path, const QColor& outline, const QColor& fill) {
        painter.setPen(QPen(pick(outline), 1.0));
        painter.setBrush(pick(fill));
        painter.drawPath(path);
    };
    QPainterPath path;
    switch (id) {
    case ControlId::Play:
        path.addPolygon(QPolygonF({{x + 1.5, y + 0.5}, {x + 6.5, y + 5.0}, {x + 1.5, y + 9.5}}));
        path.closeSubpath();
        shape(path, kGreen, kLime);
        return true;
    case ControlId::Record:
        path.addEllipse(QRectF(x + 0.5, y + 0.5, 8, 8));
        shape(path, kMaroon, kRed);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pick(kWhite));
        painter.drawEllipse(QRectF(x + 2, y + 2.2, 1.4, 2.6));
        return true;
    case ControlId::Pause:
        path.addRect(QRectF(x + 0.5, y + 0.5, 2, 8));
        path.addRect(QRectF(x + 6.5, y + 0.5, 2, 8));
        shape(path, kNavy, kBlue);
        return true;
    case ControlId::Stop:
        path.addRect(QRectF(x + 1.5, y + 1.5, 6, 6));
        shape(path, kBlack, kGrey);
        return true;
    case ControlId::Open:
        path.moveTo(x + 0.5, y + 8.5);
        path.lineTo(x + 0.5, y + 2.5);
        path.lineTo(x + 1.5, y + 1.5);
        path.lineTo(x + 3.5, y + 1.5);
        path.lineTo(x + 4.5, y + 3.5);
        path.lineTo(x + 8.5, y + 3.5);
        path.lineTo(x + 8.5, y + 8.5);
        path.closeSubpath();
        shape(path, kOlive, kYellow);
        painter.setPen(QPen(pick(kOlive), 1.0));
        painter.drawLine(QPointF(x + 0.5, y + 3.5), QPointF(x + 4.5, y + 3.5));
        return true;
    case ControlId::Save:
        path.moveTo(x + 0.5, y + 0.5);
        path.lineTo(x + 7.5, y + 0.5);
        path.lineTo(x + 8.5, y + 1.5);
        path.lineTo(x + 8.5, y + 8.5);
        path.lineTo(x + 0.5, y + 8.5);
        path.closeSubpath();
        shape(path, kNavy, kBlue);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pick(kWhite));
        painter.drawRect(QRectF(x + 1, y + 1, 6, 2));
        painter.setBrush(pick(kSilver));
        painter.drawRect(QRectF(x + 3, y + 5, 3, 3));
        return true;
    case ControlId::About:
        path.addEllipse(QRectF(x + 0.5, y + 0.5, 8, 8));
        shape(path, kNavy, kBlue);
        painter.setPen(Qt::NoPen);
        painter.setBrush(pick(kWhite));
        painter.drawEllipse(QRectF(x + 3.6, y + 1.3, 1.8, 1.8));
        painter.drawRect(QRectF(x + 3.8, y + 3.6, 1.4, 3.4));
        painter.drawRect(QRectF(x + 3, y + 6.2, 3, 0.9));
        return true;
    default:
        return false;
    }
}

} // namespace

QPixmap DrawButtonFace(ControlId id, const QString& caption, CBitmapButton::Face face, qreal ratio) {
    const QSize device(static_cast<int>(std::lround(kButtonFaceWidth * ratio)),
                       static_cast<int>(std::lround(kButtonFaceHeight * ratio)));
    QImage image(device, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(kSilver);
    QPainter painter(&image);

    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(static_cast<int>(std::lround(kCaptionPixelSize)));
    painter.setFont(font);
    const QFontMetricsF metrics(font, &image);
    const qreal textWidth = metrics.horizontalAdvance(caption);

    const bool selected = face == CBitmapButton::Face::Selected;
    const bool disabled = face == CBitmapButton::Face::Disabled;
    switch (face) {
    case CBitmapButton::Face::Normal:
    case CBitmapButton::Face::Disabled:
        Raised(painter, 0);
        break;
    case CBitmapButton::Face::Focused:
        Frame(painter, 0, kBlack);
        Raised(painter, 1);
        break;
    case CBitmapButton::Face::Selected:
        Frame(painter, 0, kBlack);
        Frame(painter, 1, kGrey);
        break;
    }

    const int offset = selected ? 1 : 0;
    const qreal x = std::floor((kButtonFaceWidth - (kSymbolSize + kSymbolGap + textWidth)) / 2) + offset;
    const qreal symbolY = (kButtonFaceHeight - kSymbolSize) / 2 + offset;
    const qreal baseline = symbolY + 8;
    const qreal textX = x + kSymbolSize + kSymbolGap;
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    if (disabled) {
        // Etched: a white copy one pixel down and right under a grey one.
        if (!Symbol(painter, id, x + 1, symbolY + 1, kWhite)) {
            return QPixmap();
        }
        painter.setPen(kWhite);
        painter.drawText(QPointF(textX + 1, baseline + 1), caption);
        Symbol(painter, id, x, symbolY, kGrey);
        painter.setPen(kGrey);
        painter.drawText(QPointF(textX, baseline), caption);
    } else {
        if (!Symbol(painter, id, x, symbolY, std::nullopt)) {
            return QPixmap();
        }
        painter.setPen(kBlack);
        painter.drawText(QPointF(textX, baseline), caption);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (face == CBitmapButton::Face::Focused) {
        FocusRect(painter, 4);
    } else if (selected) {
        FocusRect(painter, 5);
    }
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace velmar
