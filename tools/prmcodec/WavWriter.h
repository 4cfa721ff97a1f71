// Writing 8 kHz 16-bit mono speech for the command-line tool: a WAV file (RF64 once the data
// passes 4 GiB) or headerless little-endian samples, through an output that appears only when
// complete. On a stream whose length is not known in advance (a pipe) the header says so.
#pragma once

#include "OutputFile.h"
#include "WavHeader.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace velmar {

enum class SampleContainer { Wav, Raw };

class CWavWriter {
public:
    // `knownSamples`, when given, is the exact number of samples that will be written: the header
    // then goes out right with the first samples and no rewrite is needed.
    [[nodiscard]] bool Create(const std::string& destination, int sampleRate, std::string& error,
                              SampleContainer container = SampleContainer::Wav,
                              std::optional<std::uint64_t> knownSamples = std::nullopt);
    [[nodiscard]] bool Write(std::span<const std::int16_t> samples, std::string& error);
    // Completes the header and the file; an uncommitted writer's file is discarded.
    [[nodiscard]] bool Commit(std::string& error);

private:
    bool WriteHeader(std::string& error);

    COutputFile output;
    int rate = 0;
    SampleContainer container = SampleContainer::Wav;
    std::optional<std::uint64_t> knownBytes;
    bool headerWritten = false;
    std::size_t headerBytes = 0;
    std::uint64_t dataBytes = 0;
    std::vector<std::uint8_t> buffer;
};

} // namespace velmar
