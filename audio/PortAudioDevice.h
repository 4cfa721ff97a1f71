// The sound card through PortAudio: the machine's default input and output devices, opened for
// 8000 Hz 16-bit mono in blocking mode. Every PortAudio call of the system is in PortAudioDevice.cpp.
#pragma once

#include "audio/AudioDevice.h"

#include <memory>

namespace velmar {

// Initialises PortAudio for as long as it lives (nested backends share one initialisation); the
// first backend of the process loads the library. CreateDevice may be called from any thread.
class CPortAudioBackend : public CAudioBackend {
public:
    CPortAudioBackend();
    ~CPortAudioBackend() override;
    CPortAudioBackend(const CPortAudioBackend&) = delete;
    CPortAudioBackend& operator=(const CPortAudioBackend&) = delete;

    std::unique_ptr<CAudioDevice> CreateDevice(AudioDirection direction) override;

    // False when PortAudio could not be loaded or initialised. Its devices then count none; without
    // the library, opening one fails with a text that names it.
    bool Initialised() const { return initialised; }

private:
    bool initialised = false;
};

} // namespace velmar
