// The faces of the recorder's buttons drawn from shapes and text for a screen with more device
// pixels than pixels (a scale factor above 1), where the pictures would show their pixels: the same
// classic raised look, symbol and caption as the pictures, laid out on the same 61 x 30 pixel face,
// but every line, shape and letter is drawn at the screen's own resolution.
#pragma once

#include "app/BitmapButton.h"
#include "app/DialogTemplate.h"

#include <QPixmap>
#include <QString>

namespace velmar {

// `face` of the button `id` with `caption`, for `ratio` device pixels per pixel; a null pixmap for a
// control that has no drawn face (the pictures then serve).
QPixmap DrawButtonFace(ControlId id, const QString& caption, CBitmapButton::Face face, qreal ratio);

} // namespace velmar
