// The encoder's filter cascade over one subframe: the local synthesis filter 1/Â(z) followed by the
// weighting filter A(z/0.9) / A(z/0.5). The impulse response, the ringing and the memory update of
// the local decoder are all this one loop. It is a template over the value type so that several
// independent cascades (one per lane of a vector) can run side by side with identical arithmetic.
#pragma once

#include "codec/CodecConstants.h"

namespace velmar {

// The memories are newest first, so a subframe's values are laid out backwards in time in front of
// them: sample n at [59 - n], its memory starting at [60 - n], and the new memory is [0 .. 9].
inline constexpr int kReversedSubframe = kSubframeSamples + kLpcOrder;

// s receives the synthesis output and u the weighted output, each over its memory at [60 .. 69].
// `input` is the excitation, or nullptr for the ringing of the memories alone (no input is added,
// which differs from adding zeros in the sign of a zero). aq, num and den hold ten coefficients
// each: the synthesis filter's, and the weighting numerator's and denominator's.
template <typename V>
inline void RunFilterCascade(const V* input, const V* aq, const V* num, const V* den, V* s, V* u) noexcept {
    for (int n = 0; n < kSubframeSamples; ++n) {
        const int at = kSubframeSamples - 1 - n;
        const V* sPast = s + at + 1;
        const V* uPast = u + at + 1;
        // Each sum from zero in index order, as every filter of the codec.
        V synth = V{};
        V numerator = V{};
        for (int k = 0; k < kLpcOrder; ++k) {
            synth += aq[k] * sPast[k];
        }
        for (int k = 0; k < kLpcOrder; ++k) {
            numerator += num[k] * sPast[k];
        }
        const V sn = input != nullptr ? input[n] + synth : synth;
        const V v = sn - numerator;
        s[at] = sn;
        V denominator = V{};
        for (int k = 0; k < kLpcOrder; ++k) {
            denominator += den[k] * uPast[k];
        }
        u[at] = v + denominator;
    }
}

} // namespace velmar
