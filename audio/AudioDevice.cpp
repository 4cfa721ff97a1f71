#include "audio/AudioDevice.h"

namespace velmar {

std::string DeviceResultText(DeviceResult result) {
    switch (result) {
    case DeviceResult::Ok:
        return "The operation completed successfully.";
    case DeviceResult::Error:
        return "The sound device reported an unspecified error.";
    case DeviceResult::BadDeviceId:
        return "The sound device identifier is out of range.";
    case DeviceResult::NotEnabled:
        return "The sound driver is not enabled.";
    case DeviceResult::Allocated:
        return "The sound device is already in use.";
    case DeviceResult::InvalidHandle:
        return "The sound device is not open.";
    case DeviceResult::NoDriver:
        return "No sound driver is installed.";
    case DeviceResult::NoMemory:
        return "There is not enough memory for the sound device.";
    case DeviceResult::NotSupported:
        return "The sound device does not support this operation.";
    case DeviceResult::InvalidFlag:
        return "An invalid flag was passed to the sound device.";
    case DeviceResult::InvalidParameter:
        return "An invalid parameter was passed to the sound device.";
    case DeviceResult::BadFormat:
        return "The sound device does not support 8000 Hz 16-bit mono sound.";
    case DeviceResult::StillPlaying:
        return "The sound device is still using its buffers.";
    case DeviceResult::Unprepared:
        return "The buffer was not prepared for the sound device.";
    }
    return "The sound device reported error " + std::to_string(static_cast<int>(result)) + ".";
}

} // namespace velmar
