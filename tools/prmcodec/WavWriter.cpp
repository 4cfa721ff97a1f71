#include "WavWriter.h"

#include <bit>

namespace velmar {

bool CWavWriter::Create(const std::string& destination, int sampleRate, std::string& error,
                        SampleContainer sampleContainer, std::optional<std::uint64_t> knownSamples) {
    rate = sampleRate;
    container = sampleContainer;
    knownBytes = knownSamples ? std::optional<std::uint64_t>(*knownSamples * 2) : std::nullopt;
    headerWritten = false;
    headerBytes = 0;
    dataBytes = 0;
    if (!output.Create(destination, error)) {
        return false;
    }
    if (!knownBytes) {
        return true;
    }
    const std::size_t header =
        container == SampleContainer::Raw ? 0 : WavHeader(rate, *knownBytes, WavRoom::Plain).size();
    return output.Reserve(header + *knownBytes, error);
}

// Written with the first samples, not at Create: a run that fails before any speech leaves even a
// pipe untouched.
bool CWavWriter::WriteHeader(std::string& error) {
    headerWritten = true;
    if (container == SampleContainer::Raw) {
        return true;
    }
    std::vector<std::uint8_t> header;
    if (knownBytes) {
        header = WavHeader(rate, *knownBytes, WavRoom::Plain);
    } else if (output.CanRewrite()) {
        header = WavHeader(rate, 0, WavRoom::Reserved); // sizes and perhaps RF64 at Commit
    } else {
        header = WavHeader(rate, std::nullopt, WavRoom::Plain);
    }
    headerBytes = header.size();
    return output.Write(header, error);
}

bool CWavWriter::Write(std::span<const std::int16_t> samples, std::string& error) {
    if (!headerWritten && !WriteHeader(error)) {
        return false;
    }
    const std::size_t bytes = samples.size() * 2;
    std::span<const std::uint8_t> out;
    if constexpr (std::endian::native == std::endian::little) {
        // The samples' own bytes are already in the file's order: no copy, and no fresh pages for
        // one, which cost more here than the copy itself.
        out = std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(samples.data()), bytes);
    } else {
        buffer.resize(bytes);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const auto v = static_cast<std::uint16_t>(samples[i]);
            buffer[2 * i] = static_cast<std::uint8_t>(v);
            buffer[2 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        out = buffer;
    }
    if (!output.Write(out, error)) {
        return false;
    }
    dataBytes += bytes;
    return true;
}

bool CWavWriter::Commit(std::string& error) {
    if (!headerWritten && !WriteHeader(error)) {
        return false;
    }
    if (container == SampleContainer::Wav && output.CanRewrite() && knownBytes != dataBytes) {
        // The sizes became known only now; the header keeps its length so the data stays in place.
        const WavRoom room = headerBytes == kPlainWavHeaderBytes ? WavRoom::Plain : WavRoom::Reserved;
        std::vector<std::uint8_t> header = WavHeader(rate, dataBytes, room);
        if (header.size() != headerBytes) {
            error = "cannot write '" + output.Destination() + "': its header has no room for the size";
            return false;
        }
        if (!output.WriteAt(header, output.StartOffset(), error)) {
            return false;
        }
    }
    return output.Commit(error);
}

} // namespace velmar
