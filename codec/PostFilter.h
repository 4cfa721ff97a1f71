// Enhanced playback: a post-filter after the decoder that sharpens the formants and the pitch
// harmonics the low bit rate blurs, without touching the bitstream or adding delay. Stored files
// and the plain decoder's output stay exactly as they are; only what the listener hears changes.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/SpeechCodec.h"

#include <array>
#include <cstdint>
#include <span>

namespace velmar {

// What a listener hears of a decoded file: the decoder's samples as they are, or through the post-filter.
enum class DecodeMode { Plain, Enhanced };

// Residual samples of earlier frames the long-term stage can look back on: one more than the
// longest lag it works at, rounded up to a cache-friendly size.
inline constexpr int kPostFilterMaxLag = kSubframeSamples;
inline constexpr int kPostFilterHistory = 64;
static_assert(kPostFilterHistory >= kPostFilterMaxLag + 1);

// Per frame: the inverse of a bandwidth-expanded envelope A(z/0.7) turns the decoded speech into a
// residual; a long-term filter averages each subframe with the residual one pitch period back and,
// where it lies inside the frame, one period ahead; 1 / A(z/0.9) restores a sharpened envelope; a
// first-order tilt (1 - 0.25 z^-1) undoes its low-pass bias; and a smoothed gain holds the level to
// the envelope's, with a guard that keeps every subframe inside the 16-bit range.
//
// One object per decoding direction, created fresh with the decoder and fed every frame it
// decodes, in order. The state is plain arrays: the object allocates nothing and may be copied
// freely. Used by one thread at a time.
class CPostFilter {
public:
    // Enhances one decoded frame into `out`, doubles on the sample scale that RoundToSample turns
    // into samples exactly as the decoder rounds its own.
    void Enhance(const DecodedFrame& frame, std::span<double, kFrameSamples> out) noexcept;

private:
    friend void DecodeEnhancedFrame(CSpeechCodec& codec, CPostFilter& postFilter, ConstPackedFrameView frame,
                                    SampleFrame out, std::int16_t erased) noexcept;
    class CFrameWork; // the stages of one frame

    // Memories, oldest first: the last decoded samples, residual samples and formant-stage outputs
    // of the frames before.
    FilterMemory inputHistory{};
    std::array<double, kPostFilterHistory> residualHistory{};
    FilterMemory outputHistory{};
    double gain = kFlatEnvelopeGain; // smoothed, carried across frames

    // The gain for a flat envelope; the level of the others is set relative to it.
    static constexpr double kFlatEnvelopeGain = 0.73;
};

// Decodes one frame with `codec`, enhances it with `postFilter` and rounds and clips the result
// as DecodeFrame does. Both objects advance by one frame.
void DecodeEnhancedFrame(CSpeechCodec& codec, CPostFilter& postFilter, ConstPackedFrameView frame,
                         SampleFrame out, std::int16_t erased = 0) noexcept;

} // namespace velmar
