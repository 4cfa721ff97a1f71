// Tables of the encoder's spectral analysis and perceptual weighting: the asymmetric Hamming
// window, the autocorrelation lag window, the bandwidth and weighting factors and the input filter.
#pragma once

#include "codec/CodecConstants.h"

#include <array>

namespace velmar {

// clang-format off
// 0.54 - 0.46 cos(2 pi n / 179) to six decimals, with four entries one unit of the last decimal
// off that rule (51, 102, 141, 156): the window is deliberately not quite symmetric.
inline constexpr std::array<double, kAnalysisWindowSize> AnalysisWindow = {{
    0.08, 0.080283, 0.081133, 0.082548, 0.084527, 0.087067, 0.090164, 0.093816,
    0.098018, 0.102764, 0.108049, 0.113866, 0.120208, 0.127067, 0.134435, 0.142303,
    0.15066, 0.159498, 0.168804, 0.178567, 0.188775, 0.199417, 0.210478, 0.221944,
    0.233803, 0.246039, 0.258637, 0.271582, 0.284857, 0.298447, 0.312335, 0.326502,
    0.340933, 0.355609, 0.370513, 0.385625, 0.400927, 0.416401, 0.432026, 0.447785,
    0.463658, 0.479624, 0.495665, 0.511761, 0.527891, 0.544037, 0.560177, 0.576292,
    0.592363, 0.608369, 0.624291, 0.640109, 0.655804, 0.671356, 0.686747, 0.701956,
    0.716966, 0.731758, 0.746314, 0.760616, 0.774645, 0.788386, 0.801821, 0.814933,
    0.827706, 0.840125, 0.852174, 0.863839, 0.875104, 0.885957, 0.896384, 0.906371,
    0.915907, 0.92498, 0.933579, 0.941693, 0.949312, 0.956426, 0.963028, 0.969109,
    0.97466, 0.979677, 0.984151, 0.988079, 0.991454, 0.994273, 0.996533, 0.99823,
    0.999363, 0.999929, 0.999929, 0.999363, 0.99823, 0.996533, 0.994273, 0.991454,
    0.988079, 0.984151, 0.979677, 0.97466, 0.969109, 0.963028, 0.956427, 0.949312,
    0.941693, 0.933579, 0.92498, 0.915907, 0.906371, 0.896384, 0.885957, 0.875104,
    0.863839, 0.852174, 0.840125, 0.827706, 0.814933, 0.801821, 0.788386, 0.774645,
    0.760616, 0.746314, 0.731758, 0.716966, 0.701956, 0.686747, 0.671356, 0.655804,
    0.64011, 0.624291, 0.608369, 0.592363, 0.576292, 0.560177, 0.544037, 0.527891,
    0.511761, 0.495665, 0.479624, 0.463658, 0.447785, 0.432027, 0.416401, 0.400927,
    0.385625, 0.370513, 0.355609, 0.340933, 0.326502, 0.312335, 0.298447, 0.284857,
    0.271582, 0.258637, 0.246039, 0.233803, 0.221945, 0.210478, 0.199417, 0.188775,
    0.178567, 0.168804, 0.159498, 0.15066, 0.142303, 0.134435, 0.127067, 0.120208,
    0.113866, 0.108049, 0.102764, 0.098018, 0.093816, 0.090164, 0.087067, 0.084527,
    0.082548, 0.081133, 0.080283, 0.08,
}};

// Autocorrelation lag window for lags 1..10.
inline constexpr std::array<double, kLpcOrder> LagWindow = {{
    0.999443, 0.997775, 0.995002, 0.991132, 0.986178,
    0.980157, 0.973088, 0.964995, 0.955905, 0.945847,
}};

// 0.994^k for k = 1..10, to seven digits: bandwidth expansion of the analysis LPC sets.
inline constexpr std::array<double, kLpcOrder> BandwidthFactors = {{
    0.994, 0.988036, 0.9821078, 0.9762151, 0.9703578,
    0.9645357, 0.9587485, 0.952996, 0.947278, 0.9415944,
}};

// 0.9^k for k = 1..10 as exact decimals: numerator of the perceptual weighting filter.
inline constexpr std::array<double, kLpcOrder> WeightNumFactors = {{
    0.9, 0.81, 0.729, 0.6561, 0.59049,
    0.531441, 0.4782969, 0.43046721, 0.387420489, 0.3486784401,
}};

// 0.5^k for k = 1..10: denominator of the perceptual weighting filter.
inline constexpr std::array<double, kLpcOrder> WeightDenFactors = {{
    0.5, 0.25, 0.125, 0.0625, 0.03125,
    0.015625, 0.0078125, 0.00390625, 0.001953125, 0.0009765625,
}};

// The encoder's 8th-order input filter, coefficient 0 first: numerator and denominator.
inline constexpr std::array<double, kPrefilterTaps> PrefilterNum = {{
    0.757447, -0.018498, -2.991989, 0.018267, 4.469547,
    0.018267, -2.991989, -0.018498, 0.757447,
}};
inline constexpr std::array<double, kPrefilterTaps> PrefilterDen = {{
    1.0, -0.475408, -3.295591, 1.10635, 4.261585,
    -0.8903, -2.525088, 0.24473, 0.573726,
}};
// clang-format on

} // namespace velmar
