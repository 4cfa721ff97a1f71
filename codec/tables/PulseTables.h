// The pulse amplitudes of the fixed codebook.
#pragma once

#include "codec/CodecConstants.h"

#include <array>

namespace velmar {

// clang-format off
// Twice the fixed-codebook gains of ITU-T G.723.1, in 16-bit sample units.
inline constexpr std::array<double, kPulseGainLevels> PulseGainTable = {{
    2.0, 4.0, 6.0, 8.0, 12.0, 18.0, 26.0, 36.0,
    52.0, 76.0, 110.0, 160.0, 230.0, 332.0, 480.0, 696.0,
    1004.0, 1452.0, 2100.0, 3034.0, 4386.0, 6340.0, 9164.0, 13246.0,
}};
// clang-format on

} // namespace velmar
