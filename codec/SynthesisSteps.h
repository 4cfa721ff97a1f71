// The decoder's all-pole synthesis 1 / A(z) one sample at a time, for loops that run it side by side
// with other work (the enhanced decoder overlaps it with the post-filter's own recursion).
#pragma once

#include "codec/CodecConstants.h"

namespace velmar {

class CSynthesisSteps {
public:
    // The memory holds the last outputs, newest first.
    explicit CSynthesisSteps(const FilterMemory& memory) noexcept {
        for (int k = 0; k < kLpcOrder; ++k) {
            m[k] = memory[k];
        }
    }

    void SetCoefficients(const LpcSet& lpc) noexcept {
        for (int k = 0; k < kLpcOrder; ++k) {
            a[k] = lpc[k];
        }
    }

    // The next output for this excitation sample. The sum runs from 0.0 in index order; the memory
    // stays in registers where the caller's loop keeps this object local, so that each output
    // reaches the next one's sum without a round trip through memory.
    double Step(double excitation) noexcept {
        double sum = 0.0;
#pragma GCC unroll 10
        for (int k = 0; k < kLpcOrder; ++k) {
            sum += a[k] * m[k];
        }
        const double s = excitation + sum;
#pragma GCC unroll 9
        for (int k = kLpcOrder - 1; k > 0; --k) {
            m[k] = m[k - 1];
        }
        m[0] = s;
        return s;
    }

    void Store(FilterMemory& memory) const noexcept {
        for (int k = 0; k < kLpcOrder; ++k) {
            memory[k] = m[k];
        }
    }

private:
    double a[kLpcOrder] = {};
    double m[kLpcOrder];
};

} // namespace velmar
