#include "app/DialogLayout.h"

#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

namespace velmar {
namespace {

constexpr const char* kControlIdProperty = "controlId";
constexpr int kLetterCount = 52;

// a * b / c rounded to the nearest integer, for the non-negative values of a layout.
int ScaleRounded(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

Qt::Alignment ToQt(TextAlign align) {
    switch (align) {
    case TextAlign::Left:
        return Qt::AlignLeft | Qt::AlignVCenter;
    case TextAlign::Centre:
        return Qt::AlignHCenter | Qt::AlignTop;
    case TextAlign::Right:
        return Qt::AlignRight | Qt::AlignVCenter;
    }
    return Qt::AlignLeft | Qt::AlignVCenter;
}

} // namespace

QFont DialogFont() {
    QFont font(QString::fromLatin1(kDialogFontFamily), kDialogFontPoints);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

QRect DialogUnitsToPixels(const DialogUnitRect& rect, const QFont& font) {
    const QFontMetrics metrics(font);
    // The average character width as the classic dialog manager measures it: the mean advance of
    // the 52 Latin letters, rounded. It follows the text's real width, so labels fit their places
    // whatever face stands in for the dialog font.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int baseWidth = (metrics.horizontalAdvance(letters) + kLetterCount / 2) / kLetterCount;
    const int baseHeight = metrics.height();
    return QRect(ScaleRounded(rect.x, baseWidth, 4), ScaleRounded(rect.y, baseHeight, 8),
                 ScaleRounded(rect.width, baseWidth, 4), ScaleRounded(rect.height, baseHeight, 8));
}

QWidget* CreateTemplateControl(QWidget& parent, const TemplateControl& control) {
    const QString caption = QString::fromUtf8(control.caption);
    QWidget* widget = nullptr;
    switch (control.kind) {
    case ControlKind::StaticText: {
        auto* label = new QLabel(caption, &parent); // owned by parent
        label->setAlignment(ToQt(control.align));
        label->setWordWrap(control.align == TextAlign::Centre);
        if (control.sunken) {
            label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            label->setLineWidth(1);
        }
        widget = label;
        break;
    }
    case ControlKind::BlackFrame: {
        auto* frame = new QFrame(&parent); // owned by parent
        frame->setFrameStyle(QFrame::Box | QFrame::Plain);
        QPalette black = frame->palette();
        black.setColor(QPalette::WindowText, Qt::black);
        frame->setPalette(black);
        widget = frame;
        break;
    }
    case ControlKind::PushButton:
        widget = new QPushButton(caption, &parent); // owned by parent
        break;
    case ControlKind::BitmapButton:
        return nullptr;
    }
    widget->setGeometry(DialogUnitsToPixels(control.place, parent.font()));
    SetControlId(*widget, control.id);
    return widget;
}

void SetControlId(QWidget& widget, ControlId id) {
    widget.setProperty(kControlIdProperty, static_cast<int>(id));
}

ControlId GetControlId(const QWidget& widget) {
    const QVariant id = widget.property(kControlIdProperty);
    return id.isValid() ? static_cast<ControlId>(id.toInt()) : ControlId::None;
}

QWidget* FindControl(const QWidget& dialog, ControlId id) {
    QWidget* found = nullptr;
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (GetControlId(*child) == id) {
            found = child;
        }
    }
    return found;
}

} // namespace velmar
