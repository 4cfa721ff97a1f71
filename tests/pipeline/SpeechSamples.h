// Speech-like test signals and the codec's own view of them: what EncodeFrame makes of samples and
// what DecodeFrame makes of frames, each from a fresh codec state, as a run of the pipeline does.
#pragma once

#include "codec/PostFilter.h"

#include <cstdint>
#include <vector>

namespace velmar::test {

// A voiced, slowly changing signal with some noise: harmonics of a gliding pitch under an envelope.
std::vector<std::int16_t> SpeechLikeSignal(int samples, std::uint32_t seed);

// Encodes whole frames of `samples` (a partial last frame is ignored).
std::vector<std::uint8_t> EncodeSamples(const std::vector<std::int16_t>& samples, int effort = 0);
// Decodes the whole frames of `bytes` (a partial last frame is ignored).
std::vector<std::int16_t> DecodeBytes(const std::vector<std::uint8_t>& bytes, DecodeMode mode = DecodeMode::Plain);
// `count` bytes of random frames: any 18 bytes decode.
std::vector<std::uint8_t> RandomFrameBytes(int count, std::uint32_t seed);

} // namespace velmar::test
