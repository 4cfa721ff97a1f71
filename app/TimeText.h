// How the time display writes a time given in tenths of a second: "5.3sec ", "2min 3.4sec ", and
// from an hour on "1h 0min 0", without tenths or a unit after the seconds.
#pragma once

#include <QString>

namespace velmar {

// `tenths` below 0 is written as 0.
QString FormatTenths(int tenths);

} // namespace velmar
