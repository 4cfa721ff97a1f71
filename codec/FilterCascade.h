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

// The input of a lane that only rings: x + -0.0 is x for every x.
inline constexpr double kNoInput = -0.0;

// s receives the synthesis output and u the weighted output, each over its memory at [60 .. 69].
// `input` is the excitation, or nullptr for the ringing of the memories alone (no input is added,
// which differs from adding zeros in the sign of a zero; adding -0.0 is the same as adding none,
// which lets a lane ring beside lanes that take an input). aq, num and den hold ten coefficients
// each: the synthesis filter's, and the weighting numerator's and denominator's.
// Internal linkage: the AVX2 kernels build their own copy for AVX2, which must never stand in for
// another file's.
template <typename V>
static inline void RunFilterCascade(const V* input, const V* aq, const V* num, const V* den, V* s,
                                    V* u) noexcept {
    // The memories ride in registers (newest first), so that the sample just computed reaches
    // the next one's sums without a round trip through memory; coefficients likewise.
    V sm[kLpcOrder];
    V um[kLpcOrder];
    V a[kLpcOrder];
    V b[kLpcOrder];
    V c[kLpcOrder];
    for (int k = 0; k < kLpcOrder; ++k) {
        sm[k] = s[kSubframeSamples + k];
        um[k] = u[kSubframeSamples + k];
        a[k] = aq[k];
        b[k] = num[k];
        c[k] = den[k];
    }
    for (int n = 0; n < kSubframeSamples; ++n) {
        // Each sum from zero in index order, as every filter of the codec.
        V synth = V{};
        V numerator = V{};
#pragma GCC unroll 10
        for (int k = 0; k < kLpcOrder; ++k) {
            synth += a[k] * sm[k];
        }
#pragma GCC unroll 10
        for (int k = 0; k < kLpcOrder; ++k) {
            numerator += b[k] * sm[k];
        }
        const V sn = input != nullptr ? input[n] + synth : synth;
        const V v = sn - numerator;
        V denominator = V{};
#pragma GCC unroll 10
        for (int k = 0; k < kLpcOrder; ++k) {
            denominator += c[k] * um[k];
        }
        const V un = v + denominator;
#pragma GCC unroll 10
        for (int k = kLpcOrder - 1; k > 0; --k) {
            sm[k] = sm[k - 1];
            um[k] = um[k - 1];
        }
        sm[0] = sn;
        um[0] = un;
        const int at = kSubframeSamples - 1 - n;
        s[at] = sn;
        u[at] = un;
    }
}

} // namespace velmar
