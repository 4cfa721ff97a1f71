#include "WavWriter.h"

#include <sndfile.h>

namespace velmar {

CWavWriter::~CWavWriter() {
    if (sound != nullptr) {
        sf_close(sound);
    }
}

bool CWavWriter::Create(const std::string& destination, int sampleRate, std::string& error) {
    if (!output.Create(destination, error)) {
        return false;
    }
    SF_INFO format{};
    format.samplerate = sampleRate;
    format.channels = 1;
    format.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    // libsndfile writes through our descriptor and leaves closing it to the output file.
    sound = sf_open_fd(output.Descriptor(), SFM_WRITE, &format, SF_FALSE);
    if (sound == nullptr) {
        error = "cannot write '" + destination + "': " + sf_strerror(nullptr);
        return false;
    }
    return true;
}

bool CWavWriter::Write(std::span<const std::int16_t> samples, std::string& error) {
    const auto count = static_cast<sf_count_t>(samples.size());
    if (sf_write_short(sound, samples.data(), count) != count) {
        error = "cannot write '" + output.Destination() + "': " + sf_strerror(sound);
        return false;
    }
    return true;
}

bool CWavWriter::Commit(std::string& error) {
    // Closing writes the final header sizes.
    const int closed = sf_close(sound);
    sound = nullptr;
    if (closed != 0) {
        error = "cannot write '" + output.Destination() + "': " + sf_error_number(closed);
        return false;
    }
    return output.Commit(error);
}

} // namespace velmar
