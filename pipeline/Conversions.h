// The pipeline's conversions between frames, bytes, tenths of a second and slider percentages. All
// are computed as the recorder has always shown them, in double precision and truncated.
#pragma once

#include "codec/CodecConstants.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace velmar {

// Elapsed time of `frames` frames of 30 ms, in tenths of a second.
inline int FramesToTenths(int frames) {
    return static_cast<int>(static_cast<double>(frames) * 0.3);
}

// Duration of `samples` samples at 8000 Hz in tenths of a second, rounded down.
inline int SamplesToTenths(std::int64_t samples) {
    return static_cast<int>(samples / (kSampleRate / 10));
}

// Playing time of a file of `fileBytes` bytes in tenths of a second: 600 bytes (100 frames) a second.
inline int FileBytesToTenths(std::int64_t fileBytes) {
    return static_cast<int>(static_cast<double>(fileBytes) * (1.0 / 600.0) * 10.0);
}

// Slider position of frame `position` in a file of `totalFrames` frames; -1 when there is none.
inline int FramePercent(int position, int totalFrames) {
    if (position < 0 || totalFrames == 0) {
        return -1;
    }
    return static_cast<int>(static_cast<std::int64_t>(position) * 100 / totalFrames);
}

// Frame at which playback started from `percent` of a file of `fileBytes` bytes begins.
inline int StartFrame(int percent, std::int64_t fileBytes) {
    const auto frames = static_cast<double>(fileBytes / kPackedFrameBytes);
    return static_cast<int>(static_cast<double>(percent) * frames * 0.01);
}

// Frame a seek to `percent` moves to: the product in integers, the scaling in double precision.
inline int SeekFrame(int percent, std::int64_t fileBytes) {
    const std::int64_t product = fileBytes / kPackedFrameBytes * percent;
    return static_cast<int>(static_cast<double>(product) * 0.01);
}

// Time shown at `percent` of a total of `totalTenths`, truncated: where the slider would start
// playback, previewed while nothing runs.
inline int PercentOfTenths(int totalTenths, int percent) {
    return static_cast<int>(static_cast<double>(totalTenths) * percent * 0.01);
}

// An input peak (the largest sample magnitude, 0 .. 32768) in dB below full scale; minus infinity
// for digital silence.
inline double PeakToDbfs(int peak) {
    if (peak <= 0) {
        return -std::numeric_limits<double>::infinity();
    }
    return 20.0 * std::log10(static_cast<double>(peak) / 32768.0);
}

// The input reached the end of the 16-bit range: the sound is clipped there.
inline bool PeakClips(int peak) {
    return peak >= 32767;
}

} // namespace velmar
