#include "audio/PortAudioDevice.h"

#include "audio/BufferQueueDevice.h"
#include "audio/LibraryNoise.h"
#include "audio/SharedLibrary.h"

#include <fcntl.h>
#include <portaudio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace velmar {
namespace {

// The PortAudio functions this file calls, reached through the library opened at the first backend:
// a program that never opens a sound device never loads PortAudio (nor ALSA and JACK beneath it).
struct PortAudioFunctions {
    static constexpr const char* kTitle = "PortAudio";
    static constexpr const char* kSoname = "libportaudio.so.2";

    decltype(&Pa_Initialize) Initialize = nullptr;
    decltype(&Pa_Terminate) Terminate = nullptr;
    decltype(&Pa_GetErrorText) GetErrorText = nullptr;
    decltype(&Pa_GetLastHostErrorInfo) GetLastHostErrorInfo = nullptr;
    decltype(&Pa_GetDeviceCount) GetDeviceCount = nullptr;
    decltype(&Pa_GetDeviceInfo) GetDeviceInfo = nullptr;
    decltype(&Pa_GetDefaultInputDevice) GetDefaultInputDevice = nullptr;
    decltype(&Pa_GetDefaultOutputDevice) GetDefaultOutputDevice = nullptr;
    decltype(&Pa_OpenStream) OpenStream = nullptr;
    decltype(&Pa_CloseStream) CloseStream = nullptr;
    decltype(&Pa_StartStream) StartStream = nullptr;
    decltype(&Pa_StopStream) StopStream = nullptr;
    decltype(&Pa_AbortStream) AbortStream = nullptr;
    decltype(&Pa_IsStreamStopped) IsStreamStopped = nullptr;
    decltype(&Pa_GetStreamReadAvailable) GetStreamReadAvailable = nullptr;
    decltype(&Pa_GetStreamWriteAvailable) GetStreamWriteAvailable = nullptr;
    decltype(&Pa_ReadStream) ReadStream = nullptr;
    decltype(&Pa_WriteStream) WriteStream = nullptr;
    std::string error; // why PortAudio cannot be used; empty when it can

    void Resolve(CSharedLibrary& library) {
        library.Resolve(Initialize, "Pa_Initialize");
        library.Resolve(Terminate, "Pa_Terminate");
        library.Resolve(GetErrorText, "Pa_GetErrorText");
        library.Resolve(GetLastHostErrorInfo, "Pa_GetLastHostErrorInfo");
        library.Resolve(GetDeviceCount, "Pa_GetDeviceCount");
        library.Resolve(GetDeviceInfo, "Pa_GetDeviceInfo");
        library.Resolve(GetDefaultInputDevice, "Pa_GetDefaultInputDevice");
        library.Resolve(GetDefaultOutputDevice, "Pa_GetDefaultOutputDevice");
        library.Resolve(OpenStream, "Pa_OpenStream");
        library.Resolve(CloseStream, "Pa_CloseStream");
        library.Resolve(StartStream, "Pa_StartStream");
        library.Resolve(StopStream, "Pa_StopStream");
        library.Resolve(AbortStream, "Pa_AbortStream");
        library.Resolve(IsStreamStopped, "Pa_IsStreamStopped");
        library.Resolve(GetStreamReadAvailable, "Pa_GetStreamReadAvailable");
        library.Resolve(GetStreamWriteAvailable, "Pa_GetStreamWriteAvailable");
        library.Resolve(ReadStream, "Pa_ReadStream");
        library.Resolve(WriteStream, "Pa_WriteStream");
    }
};

// Loads PortAudio on the first call from any thread. Its functions may be called only while
// libraryUp (below): loaded and initialised.
const PortAudioFunctions& PortAudio() {
    return LibraryTable<PortAudioFunctions>();
}

// PortAudio's initialisation is process-wide and not thread-safe; backends count their uses here.
std::mutex libraryMutex;
int libraryUsers = 0;
bool libraryUp = false;
// While PortAudio is in use its messages (and ALSA's) are kept off standard error.
std::optional<CLibraryNoiseFilter> noiseFilter;

// How long a call that waits for the sound server may take. A server that is alive answers in
// milliseconds (a drained stop plays out at most the stream's latency); one that is stopped or hung
// never answers, and the libraries underneath wait for it without limit.
constexpr std::chrono::milliseconds kServerTimeout{3000};
// Set for good when a call to the sound server did not come back: that call still holds PortAudio,
// so nothing may call PortAudio any more (not even to end it) until the program is started again.
std::atomic<bool> libraryWedged{false};
constexpr const char* kWedgedText = "the sound server does not answer; start the program again once it runs";

// Runs a PortAudio call that may wait for the sound server on a thread of its own and waits for it
// at most kServerTimeout, so that a server that stops answering cannot hold the caller (and with it
// Stop and the window) for ever. The call must capture nothing but values: on a time-out it is left
// running, detached, and the library is given up (libraryWedged). paTimedOut then.
template <typename Call> PaError CallServer(Call call) {
    if (libraryWedged.load(std::memory_order_acquire)) {
        return paTimedOut;
    }
    struct Outcome {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
        PaError error = paNoError;
    };
    auto outcome = std::make_shared<Outcome>();
    try {
        std::thread([outcome, call]() mutable {
            const PaError error = call();
            std::lock_guard lock(outcome->mutex);
            outcome->error = error;
            outcome->done = true;
            outcome->ended.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return call(); // no thread to spare: wait as the library does
    }
    std::unique_lock lock(outcome->mutex);
    if (!outcome->ended.wait_for(lock, kServerTimeout, [&] { return outcome->done; })) {
        libraryWedged.store(true, std::memory_order_release);
        return paTimedOut;
    }
    return outcome->error;
}

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
            // Without the library nothing can be counted; GetCaps then fails and says why.
            return pa->error.empty() ? 0 : -1;
        }
        const PaDeviceIndex count = pa->GetDeviceCount();
        int matching = 0;
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = pa->GetDeviceInfo(i);
            if (info != nullptr && Channels(*info) > 0) {
                ++matching;
            }
        }
        // A machine whose only devices lack a default of this direction has none to offer.
        return DefaultDevice() == paNoDevice ? 0 : matching;
    }

    DeviceResult GetCaps(DeviceCaps& caps) override {
        std::lock_guard lock(libraryMutex);
        if (!pa->error.empty()) {
            return DeviceResult::NoDriver;
        }
        const PaDeviceIndex device = libraryUp ? DefaultDevice() : paNoDevice;
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : pa->GetDeviceInfo(device);
        if (info == nullptr) {
            return DeviceResult::BadDeviceId;
        }
        caps.name = info->name != nullptr ? info->name : "";
        caps.channels = Channels(*info);
        return DeviceResult::Ok;
    }

    std::string ErrorText(DeviceResult result) const override {
        if (!pa->error.empty()) {
            return pa->error; // names the library and why it is missing
        }
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
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : pa->GetDeviceInfo(device);
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
        const double rate = format.samplesPerSec;
        auto newStream = std::make_shared<PaStream*>(nullptr);
        const PaError error = CallServer([pa = pa, newStream, parameters, input, rate] {
            return pa->OpenStream(newStream.get(), input ? &parameters : nullptr,
                                  input ? nullptr : &parameters, rate, paFramesPerBufferUnspecified, paNoFlag,
                                  nullptr, nullptr);
        });
        if (error != paNoError) {
            stream = nullptr;
            Remember(error);
            return FromPaError(error);
        }
        stream = *newStream;
        return DeviceResult::Ok;
    }

    void CloseStream() noexcept override {
        if (stream != nullptr) {
            std::lock_guard lock(libraryMutex);
            PaStream* closed = std::exchange(stream, nullptr);
            (void)CallServer([pa = pa, closed] { return pa->CloseStream(closed); });
        }
    }

    DeviceResult StartStream() override {
        PaStream* starting = stream;
        const PaError error = CallServer([pa = pa, starting] { return pa->StartStream(starting); });
        if (error != paNoError) {
            Remember(error);
        }
        return FromPaError(error);
    }

    void StopStream(bool drain) noexcept override {
        if (libraryWedged.load(std::memory_order_acquire) || pa->IsStreamStopped(stream) != 0) {
            return;
        }
        // Stopping plays out what the stream holds; aborting drops it.
        PaStream* stopping = stream;
        (void)CallServer([pa = pa, stopping, drain] {
            return drain ? pa->StopStream(stopping) : pa->AbortStream(stopping);
        });
    }

    // Moves the samples a piece at a time, as the stream has them (input) or has room for them
    // (output), so that no call blocks: a sound server that stops answering would otherwise hold
    // the device thread in a read for ever, and with it every reset, close and Stop. Between pieces
    // it waits a little, cut short by a reset or close; a stream that moves nothing for kStallLimit
    // has stopped working.
    DeviceResult Transfer(std::span<std::int16_t> samples, std::uint64_t startGeneration) override {
        const bool input = Direction() == AudioDirection::Input;
        std::size_t done = 0;
        auto lastProgress = std::chrono::steady_clock::now();
        while (done < samples.size()) {
            if (Generation() != startGeneration) {
                return DeviceResult::Error; // a reset or close took the buffer back
            }
            if (libraryWedged.load(std::memory_order_acquire)) {
                return StreamStopped(paTimedOut);
            }
            const long ready =
                input ? pa->GetStreamReadAvailable(stream) : pa->GetStreamWriteAvailable(stream);
            if (ready < 0) {
                return StreamStopped(static_cast<PaError>(ready));
            }
            if (ready == 0) {
                if (std::chrono::steady_clock::now() - lastProgress > kStallLimit) {
                    return StreamStopped(paTimedOut);
                }
                std::unique_lock lock(pollMutex);
                pollWake.wait_for(lock, kPollInterval, [&] { return Generation() != startGeneration; });
                continue;
            }
            const auto piece = static_cast<unsigned long>(
                std::min<std::size_t>(static_cast<std::size_t>(ready), samples.size() - done));
            const PaError error = input ? pa->ReadStream(stream, samples.data() + done, piece)
                                        : pa->WriteStream(stream, samples.data() + done, piece);
            // An overflow or underflow lost or inserted a little sound; the stream itself is fine.
            if (error != paNoError && error != paInputOverflowed && error != paOutputUnderflowed) {
                return StreamStopped(error);
            }
            done += piece;
            lastProgress = std::chrono::steady_clock::now();
        }
        return DeviceResult::Ok;
    }

    void InterruptTransfer() noexcept override {
        // Taking the lock orders this after a waiting transfer's look at the generation.
        std::lock_guard lock(pollMutex);
        pollWake.notify_all();
    }

    // 20 ms: a reset or close waits at most this long for the device thread to let go of the stream.
    int ChunkSamples() const override { return 160; }

    // A sound card records on whether or not a buffer waits; reading on keeps its buffer from
    // overflowing.
    bool CapturesWhileStarved() const override { return true; }

private:
    // The running stream failed with `error` (paTimedOut: it moved nothing for too long, or the
    // server stopped answering): it has lost its device or sound server. Says so, with PortAudio's
    // words for the details.
    DeviceResult StreamStopped(PaError error) {
        Remember(error);
        std::lock_guard lock(detailMutex);
        stoppedText =
            std::string(Direction() == AudioDirection::Input ? "The input device stopped delivering sound"
                                                             : "The output device stopped taking sound") +
            " (" + lastDetail + "). Was the sound server stopped or the device unplugged?";
        return error == paTimedOut ? DeviceResult::Error : FromPaError(error);
    }

    PaDeviceIndex DefaultDevice() const {
        return Direction() == AudioDirection::Input ? pa->GetDefaultInputDevice()
                                                    : pa->GetDefaultOutputDevice();
    }

    int Channels(const PaDeviceInfo& info) const {
        return Direction() == AudioDirection::Input ? info.maxInputChannels : info.maxOutputChannels;
    }

    void Remember(PaError error) {
        if (libraryWedged.load(std::memory_order_acquire)) {
            std::lock_guard lock(detailMutex);
            lastDetail = kWedgedText;
            return;
        }
        std::string detail = pa->GetErrorText(error);
        if (error == paUnanticipatedHostError) {
            const PaHostErrorInfo* host = pa->GetLastHostErrorInfo();
            if (host != nullptr && host->errorText != nullptr && *host->errorText != '\0') {
                detail += ": ";
                detail += host->errorText;
            }
        }
        std::lock_guard lock(detailMutex);
        lastDetail = std::move(detail);
    }

    // How long a running stream may move nothing before it counts as stopped (a sound server's
    // null sink may deliver in lumps of two seconds), and how often a transfer looks again meanwhile.
    static constexpr std::chrono::milliseconds kStallLimit{5000};
    static constexpr std::chrono::milliseconds kPollInterval{5};

    // Loaded by the backend that made this device; the stream functions run only once it is open.
    const PortAudioFunctions* pa = &PortAudio();
    PaStream* stream = nullptr; // used under the buffer queue's rules: one stream call at a time
    std::mutex pollMutex;
    std::condition_variable pollWake; // a reset or close cuts a transfer's wait short
    mutable std::mutex detailMutex;
    std::string lastDetail;  // PortAudio's words for the last failure
    std::string stoppedText; // set when the running stream failed; the device is then done
};

} // namespace

CPortAudioBackend::CPortAudioBackend() {
    std::lock_guard lock(libraryMutex);
    const PortAudioFunctions* pa = &PortAudio();
    if (libraryUsers == 0 && pa->error.empty()) {
        noiseFilter.emplace();
        // Probing every host API makes ALSA and JACK print pages of complaints about devices this
        // machine lacks; they say nothing about the default devices we use, so they go nowhere.
        // Sanitizer builds keep them: a sanitizer's report must never be swallowed.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        libraryUp = pa->Initialize() == paNoError;
#else
        CQuietStderr quiet;
        libraryUp = pa->Initialize() == paNoError;
#endif
    }
    ++libraryUsers;
    initialised = libraryUp;
}

CPortAudioBackend::~CPortAudioBackend() {
    std::lock_guard lock(libraryMutex);
    const PortAudioFunctions* pa = &PortAudio();
    if (--libraryUsers == 0) {
        // A call still stuck in the library would make ending it wait for ever; the process's own
        // end cleans up instead.
        if (libraryUp && !libraryWedged.load(std::memory_order_acquire)) {
            pa->Terminate();
        }
        libraryUp = false;
        noiseFilter.reset();
    }
}

std::unique_ptr<CAudioDevice> CPortAudioBackend::CreateDevice(AudioDirection direction) {
    return std::make_unique<CPortAudioDevice>(direction);
}

} // namespace velmar
