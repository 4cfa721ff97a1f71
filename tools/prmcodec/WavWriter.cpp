#include "WavWriter.h"

#include "FrameFile.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace velmar {

CWavWriter::~CWavWriter() {
    Discard();
}

void CWavWriter::Discard() noexcept {
    if (sound != nullptr) {
        sf_close(sound);
        sound = nullptr;
    }
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
        tempPath.clear();
    }
}

bool CWavWriter::Create(const std::string& destination, int sampleRate, std::string& error) {
    Discard();
    finalPath = destination;
    const std::filesystem::path target(destination);
    if (std::filesystem::is_directory(target)) {
        error = "cannot create '" + destination + "': " + ErrorText(EISDIR);
        return false;
    }
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = "cannot create '" + destination + "': " + ErrorText(errno);
        return false;
    }
    tempPath = pattern;

    SF_INFO format{};
    format.samplerate = sampleRate;
    format.channels = 1;
    format.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    sound = sf_open_fd(fd, SFM_WRITE, &format, SF_TRUE);
    if (sound == nullptr) {
        error = "cannot write '" + destination + "': " + sf_strerror(nullptr);
        Discard();
        return false;
    }
    return true;
}

bool CWavWriter::Write(std::span<const std::int16_t> samples, std::string& error) {
    const auto count = static_cast<sf_count_t>(samples.size());
    if (sf_write_short(sound, samples.data(), count) != count) {
        error = "cannot write '" + finalPath + "': " + sf_strerror(sound);
        return false;
    }
    return true;
}

bool CWavWriter::Commit(std::string& error) {
    sf_write_sync(sound);
    const int closeResult = sf_close(sound);
    sound = nullptr;
    if (closeResult != 0) {
        error = "cannot write '" + finalPath + "': " + sf_error_number(closeResult);
        return false;
    }
    // The temporary file came from mkstemp with mode 0600; give the result the usual mode.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(tempPath.c_str(), 0666 & ~mask);
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        error = "cannot create '" + finalPath + "': " + ErrorText(errno);
        return false;
    }
    tempPath.clear();
    return true;
}

} // namespace velmar
