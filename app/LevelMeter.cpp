#include "app/LevelMeter.h"

#include "pipeline/Conversions.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmar {
namespace {

// Where the bar turns from green to yellow and from yellow to red.
constexpr double kWarmDbfs = -12.0;
constexpr double kHotDbfs = -3.0;

} // namespace

CLevelMeter::CLevelMeter(QWidget* parent)
    : QWidget(parent)
    , peakDbfs(-std::numeric_limits<double>::infinity()) {
    setAccessibleName(tr("Input level"));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CLevelMeter::ShowPeak(int peak) {
    peakDbfs = PeakToDbfs(peak);
    if (PeakClips(peak)) {
        clipUntil = std::chrono::steady_clock::now() + kClipHold;
    }
    setAccessibleDescription(LevelText());
    update();
}

void CLevelMeter::Reset() {
    peakDbfs = -std::numeric_limits<double>::infinity();
    clipUntil = {};
    update();
}

bool CLevelMeter::ClipShown() const {
    return std::chrono::steady_clock::now() < clipUntil;
}

QString CLevelMeter::LevelText() const {
    if (!std::isfinite(peakDbfs)) {
        return QStringLiteral("-inf dBFS");
    }
    return QStringLiteral("%1 dBFS").arg(peakDbfs, 0, 'f', 1);
}

double CLevelMeter::BarFraction() const {
    if (!std::isfinite(peakDbfs)) {
        return 0.0;
    }
    return std::clamp((peakDbfs - kFloorDbfs) / -kFloorDbfs, 0.0, 1.0);
}

void CLevelMeter::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));

    const QFontMetrics metrics(font());
    const int clipWidth = metrics.horizontalAdvance(QStringLiteral("CLIP")) + 6;
    const int textWidth = metrics.horizontalAdvance(QStringLiteral("-60.0 dBFS")) + 6;
    const QRect clipBox(width() - clipWidth, 0, clipWidth, height());
    const QRect textBox(clipBox.left() - textWidth, 0, textWidth, height());
    const QRect track(0, 0, textBox.left() - 4, height());

    // The track, sunken as the displays are.
    painter.fillRect(track, Qt::black);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(track.topLeft(), track.topRight());
    painter.drawLine(track.topLeft(), track.bottomLeft());
    painter.setPen(Qt::white);
    painter.drawLine(track.bottomLeft(), track.bottomRight());
    painter.drawLine(track.topRight(), track.bottomRight());

    const QRect inside = track.adjusted(1, 1, -1, -1);
    const auto xAt = [&](double dbfs) {
        return inside.left() +
               static_cast<int>(std::lround((dbfs - kFloorDbfs) / -kFloorDbfs * inside.width()));
    };
    const int lit = inside.left() + static_cast<int>(std::lround(BarFraction() * inside.width()));
    const struct {
        double from, to;
        QColor colour;
    } zones[] = {{kFloorDbfs, kWarmDbfs, QColor(0, 192, 0)},
                 {kWarmDbfs, kHotDbfs, QColor(224, 224, 0)},
                 {kHotDbfs, 0.0, QColor(255, 0, 0)}};
    for (const auto& zone : zones) {
        const int left = xAt(zone.from);
        const int right = std::min(xAt(zone.to), lit);
        if (right > left) {
            painter.fillRect(QRect(left, inside.top(), right - left, inside.height()), zone.colour);
        }
    }

    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(textBox, Qt::AlignRight | Qt::AlignVCenter, LevelText());

    const bool clipped = ClipShown();
    painter.fillRect(clipBox.adjusted(2, 0, 0, 0), clipped ? QColor(255, 0, 0) : QColor(128, 128, 128));
    painter.setPen(clipped ? Qt::white : palette().color(QPalette::Window));
    painter.drawText(clipBox.adjusted(2, 0, 0, 0), Qt::AlignCenter, QStringLiteral("CLIP"));
}

} // namespace velmar
