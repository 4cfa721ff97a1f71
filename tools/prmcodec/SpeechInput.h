// The encoder's input for the command-line tool: any audio file libsndfile reads, at any rate and
// channel count, mixed to mono, resampled to 8000 Hz with libsamplerate's best converter and
// converted to 16 bits; or headerless 16-bit little-endian 8 kHz mono ("raw"). "-" reads
// standard input.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace velmar {

class CSpeechInput {
public:
    CSpeechInput();
    ~CSpeechInput();
    CSpeechInput(const CSpeechInput&) = delete;
    CSpeechInput& operator=(const CSpeechInput&) = delete;

    [[nodiscard]] bool Open(const std::string& path, bool raw, std::string& error);

    // Fills `out` with up to out.size() samples at 8 kHz; returns how many, 0 at the end, or -1
    // with `error` set.
    [[nodiscard]] long Read(std::span<std::int16_t> out, std::string& error);

    // Length of the input in seconds, or a negative value when it cannot be known in advance.
    double DurationSeconds() const;
    // How much of the input has been consumed, in seconds.
    double ConsumedSeconds() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace velmar
