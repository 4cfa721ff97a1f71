// The coded frame: the parameter record that the encoder fills and the decoder consumes, and its
// 144-bit packing into 18 bytes. A ".prm" file is nothing but these frames back to back.
#pragma once

#include "codec/CodecConstants.h"

#include <array>
#include <cstdint>
#include <span>

namespace velmar {

struct SubframeParams {
    // Subframe lag = pitchLag[i / 2] + lagDelta - 1; transmitted for subframes 1 and 3 only, the
    // others always carry 1.
    std::int32_t lagDelta = 1;
    std::int32_t pitchGainIndex = 0; // row of PitchTapTable, 0..41
    std::int32_t pulseGainIndex = 0; // entry of PulseGainTable, 0..23
    std::int32_t pulseSigns = 0;     // bit t set: pulse t positive
    std::int32_t pulsePositions = 0; // 3 + 3 + 3 + 2 bits of track position codes

    friend bool operator==(const SubframeParams&, const SubframeParams&) = default;
};

struct FrameParams {
    std::int16_t erased = 0;   // 1 when marked erased or found invalid on unpacking
    std::int32_t lspIndex = 0; // split 1 in bits 16-23, split 2 in 8-15, split 3 in 0-7
    std::array<std::int32_t, 2> pitchLag = {kMinPitchLag, kMinPitchLag}; // subframes 0-1 and 2-3
    std::array<SubframeParams, kSubframes> sub{};

    friend bool operator==(const FrameParams&, const FrameParams&) = default;
};

using PackedFrame = std::array<std::uint8_t, kPackedFrameBytes>;

// Places every field of a valid record into the 18 bytes; the spare bits and the lag deltas of
// subframes 0 and 2 are not stored. Each field is cut to its width, so a value out of range
// corrupts only its own field, never a neighbour.
void PackFrame(const FrameParams& params, std::span<std::uint8_t, kPackedFrameBytes> out) noexcept;

// Extracts the record and applies the validity rules: an undefined gain code or lag code marks the
// frame erased and replaces the affected values (see FrameFormat.cpp). Any 18 bytes unpack.
FrameParams UnpackFrame(std::span<const std::uint8_t, kPackedFrameBytes> frame, std::int16_t erased) noexcept;

} // namespace velmar
