#include "audio/PortAudioDevice.h"

#include "audio/BufferQueueDevice.h"
#include "audio/LibraryNoise.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <mutex>
#include <optional>
#include <string>

namespace velmar {
namespace {

// PortAudio's initialisation is process-wide and not thread-safe; backends count their uses here.
std::mutex libraryMutex;
int libraryUsers = 0;
bool libraryUp = false;
// While PortAudio is in use its messages (and ALSA's) are kept off standard error.
std::optional<CLibraryNoiseFilter> noiseFilter;

DeviceResult FromPaError(PaError error) {
    switch (error) {
    case paNoError:
        return DeviceResult::Ok;
    case paInsufficientMemory:
        return DeviceResult::NoMemory;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
        return DeviceResult::BadFormat;
    case paDeviceUnavailable:
        return DeviceResult::Allocated;
    case paInvalidDevice:
    case paNoDevice:
        return DeviceResult::BadDeviceId;
    case paNotInitialized:
        return DeviceResult::NoDriver;
    default:
        return DeviceResult::Error;
    }
}

// Sends the process's standard error to /dev/null while it lives.
class CQuietStderr {
public:
    CQuietStderr()
        : saved(::dup(STDERR_FILENO)) {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (saved >= 0 && null >= 0) {
            ::dup2(null, STDERR_FILENO);
        }
        if (null >= 0) {
            ::close(null);
        }
    }
    ~CQuietStderr() {
        if (saved >= 0) {
            ::dup2(saved, STDERR_FILENO);
            ::close(saved);
        }
    }
    CQuietStderr(const CQuietStderr&) = delete;
    CQuietStderr& operator=(const CQuietStderr&) = delete;

private:
    int saved;
};

class CPortAudioDevice final : public CBufferQueueDevice {
public:
    explicit CPortAudioDevice(AudioDirection deviceDirection)
        : CBufferQueueDevice(deviceDirection) {}

    ~CPortAudioDevice() override { Shutdown(); }

    int DeviceCount() override {
        std::lock_guard lock(libraryMutex);
        if (!libraryUp) {
            return 0;
        }
        const PaDeviceIndex count = Pa_GetDeviceCount();
        int matching = 0;
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info != nullptr && Channels(*info) > 0) {
                ++matching;
            }
        }
        // A machine whose only devices lack a default of this direction has none to offer.
        return DefaultDevice() == paNoDevice ? 0 : matching;
    }

    DeviceResult GetCaps(DeviceCaps& caps) override {
        std::lock_guard lock(libraryMutex);
        const PaDeviceIndex device = libraryUp ? DefaultDevice() : paNoDevice;
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (info == nullptr) {
            return DeviceResult::BadDeviceId;
        }
        caps.name = info->name != nullptr ? info->name : "";
        caps.channels = Channels(*info);
        return DeviceResult::Ok;
    }

    std::string ErrorText(DeviceResult result) const override {
        std::lock_guard lock(detailMutex);
        if (!stoppedText.empty()) {
            // The stream died while it ran: what happened says more than the result code.
            return stoppedText;
        }
        std::string text = DeviceResultText(result);
        if (!lastDetail.empty()) {
            text += " (" + lastDetail + ")";
        }
        return text;
    }

    BufferMemory AllocateMemory(std::size_t bytes) override {
        return BufferMemory(static_cast<std::int16_t*>(std::calloc(bytes, 1)));
    }

protected:
    DeviceResult OpenStream(const PcmFormat& format) override {
        if (format.formatTag != 1 || format.bitsPerSample != 16) {
            return DeviceResult::BadFormat;
        }
        std::lock_guard lock(libraryMutex);
        if (!libraryUp) {
            return DeviceResult::NoDriver;
        }
        const PaDeviceIndex device = DefaultDevice();
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (info == nullptr) {
            return DeviceResult::BadDeviceId;
        }
        PaStreamParameters parameters{};
        parameters.device = device;
        parameters.channelCount = format.channels;
        parameters.sampleFormat = paInt16;
        // The high latency: speech is not interactive here, and a generous device buffer rides out
        // a busy machine without gaps.
        parameters.suggestedLatency = Direction() == AudioDirection::Input ? info->defaultHighInputLatency
                                                                           : info->defaultHighOutputLatency;
        const bool input = Direction() == AudioDirection::Input;
        const PaError error =
            Pa_OpenStream(&stream, input ? &parameters : nullptr, input ? nullptr : &parameters,
                          format.samplesPerSec, paFramesPerBufferUnspecified, paNoFlag, nullptr, nullptr);
        if (error != paNoError) {
            stream = nullptr;
            Remember(error);
            return FromPaError(error);
        }
        return DeviceResult::Ok;
    }

    void CloseStream() noexcept override {
        if (stream != nullptr) {
            std::lock_guard lock(libraryMutex);
            Pa_CloseStream(stream);
            stream = nullptr;
        }
    }

    DeviceResult StartStream() override {
        const PaError error = Pa_StartStream(stream);
        if (error != paNoError) {
            Remember(error);
        }
        return FromPaError(error);
    }

    void StopStream(bool drain) noexcept override {
        if (Pa_IsStreamStopped(stream) == 0) {
            // Stopping plays out what the stream holds; aborting drops it.
            (void)(drain ? Pa_StopStream(stream) : Pa_AbortStream(stream));
        }
    }

    DeviceResult Transfer(std::span<std::int16_t> samples, std::uint64_t /*startGeneration*/) override {
        const auto frames = static_cast<unsigned long>(samples.size());
        const PaError error = Direction() == AudioDirection::Input
                                  ? Pa_ReadStream(stream, samples.data(), frames)
                                  : Pa_WriteStream(stream, samples.data(), frames);
        // An overflow or underflow lost or inserted a little sound; the stream itself is fine.
        if (error == paNoError || error == paInputOverflowed || error == paOutputUnderflowed) {
            return DeviceResult::Ok;
        }
        // A stream that fails while it runs has lost its device or sound server: say that, with
        // PortAudio's words for the details.
        Remember(error);
        std::lock_guard lock(detailMutex);
        stoppedText = std::string(Direction() == AudioDirection::Input ? "The input device stopped delivering sound"
                                                                       : "The output device stopped taking sound") +
                      " (" + lastDetail + "). Was the sound server stopped or the device unplugged?";
        return FromPaError(error);
    }

    // 20 ms: a reset or close waits at most this long for the device thread to let go of the stream.
    int ChunkSamples() const override { return 160; }

    // A sound card records on whether or not a buffer waits; reading on keeps its buffer from
    // overflowing.
    bool CapturesWhileStarved() const override { return true; }

private:
    PaDeviceIndex DefaultDevice() const {
        return Direction() == AudioDirection::Input ? Pa_GetDefaultInputDevice()
                                                    : Pa_GetDefaultOutputDevice();
    }

    int Channels(const PaDeviceInfo& info) const {
        return Direction() == AudioDirection::Input ? info.maxInputChannels : info.maxOutputChannels;
    }

    void Remember(PaError error) {
        std::string detail = Pa_GetErrorText(error);
        if (error == paUnanticipatedHostError) {
            const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
            if (host != nullptr && host->errorText != nullptr && *host->errorText != '\0') {
                detail += ": ";
                detail += host->errorText;
            }
        }
        std::lock_guard lock(detailMutex);
        lastDetail = std::move(detail);
    }

    PaStream* stream = nullptr; // used under the buffer queue's rules: one stream call at a time
    mutable std::mutex detailMutex;
    std::string lastDetail;  // PortAudio's words for the last failure
    std::string stoppedText; // set when the running stream failed; the device is then done
};

} // namespace

CPortAudioBackend::CPortAudioBackend() {
    std::lock_guard lock(libraryMutex);
    if (libraryUsers == 0) {
        noiseFilter.emplace();
        // Probing every host API makes ALSA and JACK print pages of complaints about devices this
        // machine lacks; they say nothing about the default devices we use, so they go nowhere.
        // Sanitizer builds keep them: a sanitizer's report must never be swallowed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        libraryUp = Pa_Initialize() == paNoError;
#else
        CQuietStderr quiet;
        libraryUp = Pa_Initialize() == paNoError;
#endif
    }
    ++libraryUsers;
    initialised = libraryUp;
}

CPortAudioBackend::~CPortAudioBackend() {
    std::lock_guard lock(libraryMutex);
    if (--libraryUsers == 0) {
        if (libraryUp) {
            Pa_Terminate();
            libraryUp = false;
        }
        noiseFilter.reset();
    }
}

std::unique_ptr<CAudioDevice> CPortAudioBackend::CreateDevice(AudioDirection direction) {
    return std::make_unique<CPortAudioDevice>(direction);
}

} // namespace velmar
