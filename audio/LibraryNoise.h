// Keeps the sound libraries' chatter off the terminal. PortAudio's ALSA host prints a line for every
// failed call ("Expression '...' failed in 'src/hostapi/alsa/pa_linux_alsa.c'"), ALSA and JACK print
// their own complaints, and neither library offers a way to turn this off: a sound server that dies
// mid-run used to flood standard error with megabytes of it. While a filter lives, standard error
// passes through a pipe, and lines recognised as such noise are dropped; everything else reaches the
// terminal unchanged and in order. VELMAR_AUDIO_DEBUG=1 in the environment keeps every line.
#pragma once

#include <string_view>
#include <thread>

namespace velmar {

// True for a line printed by PortAudio, ALSA or the JACK client library about their own devices.
bool IsSoundLibraryNoise(std::string_view line);

// Filters the process's standard error for as long as it lives; on destruction every line written
// before is delivered and standard error is the terminal again. One at a time per process; it does
// nothing when the environment asks for the libraries' messages or in sanitizer builds, whose
// reports must reach the terminal even when the process dies at once.
class CLibraryNoiseFilter {
public:
    CLibraryNoiseFilter();
    ~CLibraryNoiseFilter();
    CLibraryNoiseFilter(const CLibraryNoiseFilter&) = delete;
    CLibraryNoiseFilter& operator=(const CLibraryNoiseFilter&) = delete;

    bool Active() const { return savedStderr >= 0; }

private:
    void Forward(int readEnd);

    int savedStderr = -1; // the real standard error while filtering
    std::thread forwarder;
};

} // namespace velmar
