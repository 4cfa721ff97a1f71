// Writing 8 kHz 16-bit mono WAV files for the command-line tool. The file is written under a
// temporary name beside its destination and renamed into place only when complete, so a failure
// never leaves a half-written file where the user asked for one.
#pragma once

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
    // Finishes the header, flushes to disk and moves the file to its destination.
    [[nodiscard]] bool Commit(std::string& error);

private:
    void Discard() noexcept;

    sf_private_tag* sound = nullptr;
    std::string finalPath;
    std::string tempPath;
};

} // namespace velmar
