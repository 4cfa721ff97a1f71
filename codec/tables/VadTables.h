// The voice-activity detector's threshold scale, indexed by the binary exponent of the noise level.
#pragma once

#include <array>

namespace velmar {

// Exponent of the first entry: the noise level is kept at 128 (0.5 * 2^8) or above.
inline constexpr int kVadScaleFirstExponent = 8;

// clang-format off
// Threshold scale for noise levels m * 2^e (0.5 <= m < 1), e = 8 .. 18, interpolated linearly in m;
// flat from e = 15 on.
inline constexpr std::array<double, 11> VadScaleTable = {{
    20529.0, 18296.0, 16306.0, 14533.0, 12953.0, 11544.0, 10289.0, 9170.0, 9170.0, 9170.0, 9170.0,
}};
// clang-format on
static_assert(VadScaleTable.size() == 11);

} // namespace velmar
