// Reading ".prm" files frame by frame for the command-line tool: a headerless run of 18-byte
// frames, possibly ending in an incomplete frame that is reported and never decoded. A regular file
// is measured when opened; a pipe, FIFO or standard input ("-") is read as a stream whose frames
// are counted as they come, known only at its end.
#pragma once

#include "codec/FrameFormat.h"
#include "pipeline/FileDescriptor.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmar {

// The system's text for an errno value.
std::string ErrorText(int error);

enum class ReadStatus { Frame, End, Error };

class CFrameFileReader {
public:
    // Opens the file and measures it. On failure returns false with a message naming the file.
    [[nodiscard]] bool Open(const std::string& filePath, std::string& error);

    // The name for messages: the path, or "standard input".
    const std::string& Name() const { return name; }
    bool IsStream() const { return stream; }
    // The number of whole frames, before reading for a file; nothing for a stream until its end.
    std::optional<std::uint64_t> KnownFrameCount() const;

    // Of a file at once, of a stream once Next returned End.
    std::uint64_t FileBytes() const { return fileBytes; }
    std::uint64_t FrameCount() const { return fileBytes / kPackedFrameBytes; }
    int TrailingBytes() const { return static_cast<int>(fileBytes % kPackedFrameBytes); }

    // Reads the next whole frame. End comes after the last whole frame; Error fills `error`.
    [[nodiscard]] ReadStatus Next(PackedFrame& frame, std::string& error);

    // Fails with a message when the input (a file at once, a stream at its end) holds no whole
    // frame.
    [[nodiscard]] bool HasFrames(std::string& error) const;

private:
    // Makes at least one whole frame readable from the buffer unless the input ends first; false
    // with errno set on a read error.
    bool Fill();

    CFileDescriptor file;
    // Frames are read in large blocks: a system call per 18-byte frame would cost more than
    // decoding it. `next` .. `held` is what has been read and not yet handed out.
    std::vector<std::uint8_t> buffer;
    std::size_t next = 0;
    std::size_t held = 0;
    bool inputEnded = false;
    std::string name;
    bool stream = false;
    bool ended = false;
    std::uint64_t fileBytes = 0;
    std::uint64_t framesRead = 0;
};

} // namespace velmar
