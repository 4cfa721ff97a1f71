// The audio device service: the seam between the capture and playback engines and whatever moves
// samples to and from a sound card. It keeps the classic wave-device model the engines are built on:
// open with a notification event, prepare and queue buffers that the device hands back as done,
// start, pause, restart, reset and close, with result codes (0 is success) and their texts. Two
// backends implement it: PortAudio (the machine's default devices) and an in-process virtual device
// for tests. A backend creates one device object per engine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace velmar {

class CEvent;

enum class AudioDirection { Input, Output };

// Result codes of device operations. The numbers are those of the classic wave service, so a stored
// code keeps its meaning (7 is "out of memory" everywhere).
enum class DeviceResult : int {
    Ok = 0,
    Error = 1,
    BadDeviceId = 2,
    NotEnabled = 3,
    Allocated = 4,
    InvalidHandle = 5,
    NoDriver = 6,
    NoMemory = 7,
    NotSupported = 8,
    InvalidFlag = 10,
    InvalidParameter = 11,
    BadFormat = 32,
    StillPlaying = 33,
    Unprepared = 34,
};

// A PCM wave format as the device is opened with it.
struct PcmFormat {
    std::uint16_t formatTag = 1; // PCM
    std::uint16_t channels = 1;
    std::uint32_t samplesPerSec = 8000;
    std::uint32_t avgBytesPerSec = 16000;
    std::uint16_t blockAlign = 2;
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraBytes = 0;
};

// What a device says about itself; the engines query it and keep it, nothing more.
struct DeviceCaps {
    std::string name;
    int channels = 0;
};

// Header flags of a device buffer.
inline constexpr unsigned kBufferDone = 1u;     // the device has handed the buffer back (or never had it)
inline constexpr unsigned kBufferPrepared = 2u; // Prepare succeeded
inline constexpr unsigned kBufferInQueue = 16u; // queued, owned by the device until done

// Memory for one device buffer, freed with the object. Allocation can fail; the engines report that.
struct FreeDeleter {
    void operator()(void* memory) const noexcept { std::free(memory); }
};
using BufferMemory = std::unique_ptr<std::int16_t[], FreeDeleter>;

// The header of one device buffer. The engine owns header and memory; while the buffer is queued the
// device owns the samples. The device publishes a handed-back buffer with release stores: first
// `bytesRecorded` (input: how many bytes it filled), then the done flag; the engine reads them with
// acquire loads before touching the samples.
struct DeviceBuffer {
    std::int16_t* data = nullptr; // the engine's buffer memory; not owned
    int bufferLength = 0;         // bytes the device may read (output) or fill (input)
    std::atomic<int> bytesRecorded{0};
    std::atomic<unsigned> flags{0};
};

// One input or output device. Every operation may be called from any thread (the engine's loop and
// the window's thread through Pause/Restart/Reset); the device serialises them. The notification
// event is signalled when the device has opened, has handed a buffer back and has closed.
class CAudioDevice {
public:
    virtual ~CAudioDevice() = default;

    // Number of devices of this direction; 0 means there is no sound device at all, and a negative
    // count that the backend cannot look for devices (its library is missing): GetCaps then fails
    // and says why.
    virtual int DeviceCount() = 0;
    virtual DeviceResult GetCaps(DeviceCaps& caps) = 0;
    // Opens the default device of this direction; `notify` must outlive the open device.
    virtual DeviceResult Open(const PcmFormat& format, CEvent& notify) = 0;
    virtual DeviceResult Prepare(DeviceBuffer& buffer) = 0;
    // Hands a prepared buffer to the device: output plays it, input fills it.
    virtual DeviceResult Queue(DeviceBuffer& buffer) = 0;
    // Input: begins filling the queued buffers.
    virtual DeviceResult Start() = 0;
    // Output: suspends and resumes playing; queued buffers stay queued.
    virtual DeviceResult Pause() = 0;
    virtual DeviceResult Restart() = 0;
    // Stops at once and hands every queued buffer back as done (an input buffer with what it holds).
    virtual DeviceResult Reset() = 0;
    // Closes the device; a buffer still queued is handed back first, so none is touched afterwards.
    virtual DeviceResult Close() = 0;
    virtual std::string ErrorText(DeviceResult result) const = 0;
    // Buffer memory; an empty result means none is available.
    virtual BufferMemory AllocateMemory(std::size_t bytes) = 0;
    // Why the stream stopped on its own (a read or write failed, it would not start, the sound server
    // went away), or Ok while it is healthy. A failed device hands every queued buffer back, signals
    // the notification event and moves no more samples until it is closed: the engine ends the run
    // with this result's text rather than record or play silence.
    virtual DeviceResult StreamFailure() = 0;
    // Input: the largest magnitude (0 .. 32768) among the samples the device has taken in since the
    // last call, or -1 when it has taken in none. Lets the engine show the level as it arrives,
    // finer than whole buffers.
    virtual int TakeInputPeak() = 0;
};

// Creates the devices of one backend. The owner of a CPipeline passes the backend it wants; the
// backend must outlive every pipeline and engine that uses it. CreateDevice may be called from any
// thread.
class CAudioBackend {
public:
    virtual ~CAudioBackend() = default;
    virtual std::unique_ptr<CAudioDevice> CreateDevice(AudioDirection direction) = 0;
};

// Text of a result code in the service's own words; backends add detail of their own.
std::string DeviceResultText(DeviceResult result);

} // namespace velmar
