// Turns the dialog templates into widgets: the dialog font, the conversion of dialog units to
// pixels for that font, and the creation of the templates' plain controls (texts, frames, push
// buttons), each tagged with its control id so it can be found again by id.
#pragma once

#include "app/DialogTemplate.h"

#include <QFont>
#include <QRect>

class QWidget;

namespace velmar {

// The 8-point dialog font; where the classic face is missing, the system's sans-serif stands in.
QFont DialogFont();

// `rect` in pixels for a dialog set in `font`: x and width scale by a quarter of the font's average
// character width (the mean width of the 52 Latin letters), y and height by an eighth of its
// height, rounded to the nearest pixel.
QRect DialogUnitsToPixels(const DialogUnitRect& rect, const QFont& font);

// Creates a static text, black frame or push button of a template as a child of `parent`, placed
// and tagged with its id. Bitmap buttons are not created here (they need their faces).
QWidget* CreateTemplateControl(QWidget& parent, const TemplateControl& control);

// Tags `widget` with `id`, and finds a child of `dialog` by its tag (the last one created wins, so
// a control laid over another with the same id is the one found); nullptr when there is none.
void SetControlId(QWidget& widget, ControlId id);
ControlId GetControlId(const QWidget& widget);
QWidget* FindControl(const QWidget& dialog, ControlId id);

} // namespace velmar
