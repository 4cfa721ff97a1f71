#include "WavHeader.h"

#include <array>

namespace velmar {
namespace {

constexpr std::uint32_t kFmtChunkBytes = 16;
constexpr std::uint32_t kDs64ChunkBytes = 28;
constexpr int kBytesPerSample = 2;

// Fills a buffer of the largest header's size: GCC 12 misreads a growing vector here as an overflow
// (-Wstringop-overflow under the thread sanitizer).
class CHeaderBytes {
public:
    void Tag(const char (&fourCc)[5]) {
        for (int i = 0; i < 4; ++i) {
            Byte(static_cast<std::uint8_t>(fourCc[i]));
        }
    }
    void U16(std::uint16_t v) { Little(v, 2); }
    void U32(std::uint32_t v) { Little(v, 4); }
    void U64(std::uint64_t v) { Little(v, 8); }
    void Zeros(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            Byte(0);
        }
    }
    std::vector<std::uint8_t> Bytes() const {
        return {bytes.begin(), bytes.begin() + static_cast<long>(size)};
    }

private:
    void Byte(std::uint8_t v) { bytes.at(size++) = v; }
    void Little(std::uint64_t v, int count) {
        for (int i = 0; i < count; ++i) {
            Byte(static_cast<std::uint8_t>(v >> (8 * i)));
        }
    }
    std::array<std::uint8_t, kReservedWavHeaderBytes> bytes{};
    std::size_t size = 0;
};

void Format(CHeaderBytes& h, int sampleRate) {
    h.Tag("fmt ");
    h.U32(kFmtChunkBytes);
    h.U16(1); // integer PCM
    h.U16(1); // mono
    h.U32(static_cast<std::uint32_t>(sampleRate));
    h.U32(static_cast<std::uint32_t>(sampleRate * kBytesPerSample));
    h.U16(kBytesPerSample);
    h.U16(8 * kBytesPerSample);
}

} // namespace

std::vector<std::uint8_t> WavHeader(int sampleRate, std::optional<std::uint64_t> dataBytes, WavRoom room) {
    CHeaderBytes h;
    if (!dataBytes) {
        h.Tag("RIFF");
        h.U32(kUnknownChunkSize);
        h.Tag("WAVE");
        Format(h, sampleRate);
        h.Tag("data");
        h.U32(kUnknownChunkSize);
        return h.Bytes();
    }
    const std::uint64_t headerBytes = room == WavRoom::Plain ? kPlainWavHeaderBytes : kReservedWavHeaderBytes;
    const std::uint64_t riffBytes = headerBytes - 8 + *dataBytes;
    // The largest 32-bit value means "unknown" to many readers, so it is never a real size.
    if (riffBytes < kUnknownChunkSize) {
        h.Tag("RIFF");
        h.U32(static_cast<std::uint32_t>(riffBytes));
        h.Tag("WAVE");
        if (room == WavRoom::Reserved) {
            h.Tag("JUNK");
            h.U32(kDs64ChunkBytes);
            h.Zeros(kDs64ChunkBytes);
        }
        Format(h, sampleRate);
        h.Tag("data");
        h.U32(static_cast<std::uint32_t>(*dataBytes));
        return h.Bytes();
    }
    const std::uint64_t rf64Bytes = kReservedWavHeaderBytes - 8 + *dataBytes;
    h.Tag("RF64");
    h.U32(kUnknownChunkSize);
    h.Tag("WAVE");
    h.Tag("ds64");
    h.U32(kDs64ChunkBytes);
    h.U64(rf64Bytes);
    h.U64(*dataBytes);
    h.U64(*dataBytes / kBytesPerSample); // sample frames of the one channel
    h.U32(0);                            // no table of further chunk sizes
    Format(h, sampleRate);
    h.Tag("data");
    h.U32(kUnknownChunkSize);
    return h.Bytes();
}

} // namespace velmar
