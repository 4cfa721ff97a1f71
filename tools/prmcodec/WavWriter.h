// Writing 8 kHz 16-bit mono WAV files for the command-line tool, through an output file that
// appears only when complete.
#pragma once

#include "OutputFile.h"

#include <cstdint>
#include <span>
#include <string>

struct sf_private_tag;

namespace velmar {

class CWavWriter {
public:
    CWavWriter() = default;
    ~CWavWriter(); // discards the file unless Commit succeeded
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    [[nodiscard]] bool Create(const std::string& destination, int sampleRate, std::string& error);
    [[nodiscard]] bool Write(std::span<const std::int16_t> samples, std::string& error);
    [[nodiscard]] bool Commit(std::string& error);

private:
    COutputFile output;
    sf_private_tag* sound = nullptr;
};

} // namespace velmar
