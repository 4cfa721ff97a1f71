// Bandwidth-expansion factors of the playback post-filter's short-term (formant) stage.
#pragma once

#include "codec/CodecConstants.h"

#include <array>

namespace velmar {

// clang-format off
// 0.7^k and 0.9^k for k = 1..10, each the double that std::pow(0.7, k) and std::pow(0.9, k) give
// (printed to 17 digits, so they read back exactly; a test holds them to std::pow). They are not
// the exact decimals: 0.9^3 is 0.72900000000000009 here, unlike the weighting filter's factors.
inline constexpr std::array<double, kLpcOrder> PostFilterNumFactors = {{
    0.69999999999999996, 0.48999999999999994, 0.34299999999999992, 0.24009999999999995,
    0.16806999999999994, 0.11764899999999996, 0.082354299999999964, 0.057648009999999972,
    0.040353606999999979, 0.028247524899999984,
}};
inline constexpr std::array<double, kLpcOrder> PostFilterDenFactors = {{
    0.90000000000000002, 0.81000000000000005, 0.72900000000000009, 0.65610000000000002,
    0.59049000000000007, 0.53144100000000005, 0.47829690000000008, 0.4304672100000001,
    0.38742048900000009, 0.3486784401000001,
}};
// clang-format on

} // namespace velmar
