// Headers of 16-bit mono PCM WAV files. RIFF sizes are 32-bit: data beyond about 4 GiB (74.5 hours
// at 8 kHz) needs RF64, whose "ds64" chunk holds 64-bit sizes. A header written before the size is
// known reserves that chunk's room as "JUNK", so it can become RF64 in place at the end.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace velmar {

inline constexpr std::size_t kPlainWavHeaderBytes = 44;
inline constexpr std::size_t kReservedWavHeaderBytes = 80; // with JUNK or ds64
// The size field of a chunk whose length is unknown (a stream) or held in ds64.
inline constexpr std::uint32_t kUnknownChunkSize = 0xFFFFFFFF;

enum class WavRoom {
    Plain,   // 44 bytes; RF64 (80 bytes) only when the size needs it
    Reserved // always 80 bytes: RIFF with a JUNK chunk, or RF64
};

// The header for `dataBytes` of samples at `sampleRate`. Without a size, a streaming header: plain,
// with both sizes unknown, as readers of pipes expect.
std::vector<std::uint8_t> WavHeader(int sampleRate, std::optional<std::uint64_t> dataBytes, WavRoom room);

} // namespace velmar
