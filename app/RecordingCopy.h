// The copy behind Save: the temporary recording is copied byte for byte into the file the user
// chose, through a 1000-byte buffer. A copy either completes or leaves nothing behind: on any failed
// read, write or close the partial file is removed, and the recording itself is never touched.
#pragma once

#include <string>

namespace velmar {

inline constexpr int kSaveChunkBytes = 1000;

enum class CopyFailure {
    None,
    SameFile,     // the target is the recording itself
    OpenSource,   // the recording cannot be opened for reading
    CreateTarget, // the target cannot be created
    Read,         // reading the recording failed or it ended early
    Write,        // writing or closing the target failed
};

struct CopyOutcome {
    CopyFailure failure = CopyFailure::None;
    int systemError = 0; // errno of the failed call, 0 when there is none (an early end of the recording)

    bool Succeeded() const { return failure == CopyFailure::None; }
};

// Copies `source` into `target`, creating or replacing it. Refuses a target that is the source
// itself (same file by device and inode). Only a regular file this call created or truncated is
// removed after a failure.
[[nodiscard]] CopyOutcome CopyRecording(const std::string& source, const std::string& target);

} // namespace velmar
