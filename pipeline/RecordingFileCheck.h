// The look at a file that comes before playing it: it must be a regular file (a FIFO or a device
// would block the reader, and Stop with it), hold at least one whole frame, and not be plainly some
// other kind of file (see codec/RecordingCheck.h). Shared by the recorder window and prmcodec;
// header-only so that every user of the pipeline has it without a library of its own.
#pragma once

#include "codec/CodecConstants.h"
#include "codec/RecordingCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmar {

enum class RecordingFileProblem {
    None,
    CannotOpen,     // open or read failed: systemError says why
    NotRegularFile, // a folder, FIFO, device or socket
    NoWholeFrame,   // shorter than one frame
    NotARecording,  // the verdict on its first frames
};

struct RecordingFileCheck {
    RecordingFileProblem problem = RecordingFileProblem::None;
    int systemError = 0;
    std::int64_t bytes = 0;
    LeadingFramesVerdict frames;

    bool IsPlayable() const { return problem == RecordingFileProblem::None; }
};

// Opens `path` without blocking (a FIFO without writer or a device must not stall the caller),
// then reads and judges its first frames.
inline RecordingFileCheck CheckRecordingFile(const std::string& path) {
    RecordingFileCheck check;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        check.problem = RecordingFileProblem::CannotOpen;
        check.systemError = errno;
        return check;
    }
    struct stat info {};
    std::array<std::uint8_t, static_cast<std::size_t>(kJudgedFrames) * kPackedFrameBytes> leading{};
    std::size_t got = 0;
    if (::fstat(fd, &info) != 0) {
        check.problem = RecordingFileProblem::CannotOpen;
        check.systemError = errno;
    } else if (!S_ISREG(info.st_mode)) {
        check.problem = RecordingFileProblem::NotRegularFile;
    } else if (info.st_size < kPackedFrameBytes) {
        check.bytes = info.st_size;
        check.problem = RecordingFileProblem::NoWholeFrame;
    } else {
        check.bytes = info.st_size;
        while (got < leading.size()) {
            const ssize_t count = ::read(fd, leading.data() + got, leading.size() - got);
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                check.problem = RecordingFileProblem::CannotOpen;
                check.systemError = errno;
                break;
            }
            if (count == 0) {
                break;
            }
            got += static_cast<std::size_t>(count);
        }
    }
    ::close(fd);
    if (check.problem == RecordingFileProblem::None) {
        check.frames = JudgeLeadingFrames(std::span<const std::uint8_t>(leading.data(), got));
        if (!check.frames.IsPlausible()) {
            check.problem = RecordingFileProblem::NotARecording;
        }
    }
    return check;
}

// Why a file is not played, as a phrase to follow "... is not played: " (empty when it is playable).
inline std::string RecordingFileProblemText(const RecordingFileCheck& check) {
    switch (check.problem) {
    case RecordingFileProblem::None:
        return {};
    case RecordingFileProblem::CannotOpen:
        return std::string("it cannot be read (") + std::strerror(check.systemError) + ")";
    case RecordingFileProblem::NotRegularFile:
        return "it is not a regular file";
    case RecordingFileProblem::NoWholeFrame:
        return "it holds no whole frame (" + std::to_string(check.bytes) + " bytes; a frame has " +
               std::to_string(kPackedFrameBytes) + ")";
    case RecordingFileProblem::NotARecording:
        if (check.frames.judgement == FrameJudgement::ContainerSignature) {
            return std::string("it is a ") + check.frames.container + " file, not a recording";
        }
        return std::to_string(check.frames.invalidFrames) + " of its first " +
               std::to_string(check.frames.framesJudged) + " frames are invalid: it is not a recording";
    }
    return {};
}

} // namespace velmar
