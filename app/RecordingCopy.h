// The copy behind Save: the temporary recording is copied byte for byte, through a 1000-byte buffer,
// into a new file beside the one the user chose, flushed to the disk and then renamed over it. A save
// either completes or changes nothing: on any failure the new file is removed, a file the user chose
// to replace is left as it was, and the recording itself is never touched.
#pragma once

#include "codec/PostFilter.h"

#include <string>

namespace velmar {

inline constexpr int kSaveChunkBytes = 1000;
inline constexpr int kWavHeaderBytes = 44;

enum class CopyFailure {
    None,
    SameFile,      // the target is the recording itself
    OpenSource,    // the recording cannot be opened for reading
    CreateTarget,  // the target cannot be created
    TargetNotFile, // the target exists and is not a regular file (a device, a FIFO, a folder)
    Read,          // reading the recording failed or it ended early
    Write,         // writing, flushing, closing or renaming into the target failed
};

struct CopyOutcome {
    CopyFailure failure = CopyFailure::None;
    int systemError = 0; // errno of the failed call, 0 when there is none (an early end of the recording)

    bool Succeeded() const { return failure == CopyFailure::None; }
};

// Copies `source` into `target`, creating or replacing it; a target that is a symbolic link is
// replaced where the link leads. Refuses a target that is the source itself (same file by device and
// inode). An existing target keeps its permissions.
[[nodiscard]] CopyOutcome CopyRecording(const std::string& source, const std::string& target);

// Writes the recording's whole frames, decoded as `mode` plays them, into `target` as an 8 kHz 16-bit
// mono WAV file (a 44-byte header, then the samples), as safely as CopyRecording writes a copy.
[[nodiscard]] CopyOutcome ExportRecordingAsWav(const std::string& source, const std::string& target,
                                               DecodeMode mode);

} // namespace velmar
