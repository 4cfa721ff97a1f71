#include "app/TimeText.h"

#include "app/DialogTexts.h"

namespace velmar {

QString FormatTenths(int tenths) {
    const int t = tenths < 0 ? 0 : tenths;
    const int fraction = t % 10;
    int seconds = t / 10;
    int minutes = 0;
    int hours = 0;
    if (seconds >= 60) {
        minutes = seconds / 60;
        seconds %= 60;
        if (minutes >= 60) {
            hours = minutes / 60;
            minutes %= 60;
        }
    }
    const QString minutesUnit = QString::fromUtf8(texts::kMinutesUnit);
    const QString secondsPart =
        QString::number(seconds) + QString::fromUtf8(texts::kTenthsPoint) + QString::number(fraction);
    if (hours > 0) {
        return QString::number(hours) + QString::fromUtf8(texts::kHoursUnit) + QString::number(minutes) +
               minutesUnit + QString::number(seconds);
    }
    if (minutes > 0) {
        return QString::number(minutes) + minutesUnit + secondsPart + QString::fromUtf8(texts::kSecondsUnit);
    }
    return secondsPart + QString::fromUtf8(texts::kSecondsUnit);
}

} // namespace velmar
