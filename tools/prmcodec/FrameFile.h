// Reading ".prm" files frame by frame for the command-line tool: a headerless run of 18-byte
// frames, possibly ending in an incomplete frame that is reported and never decoded.
#pragma once

#include "codec/FrameFormat.h"
#include "pipeline/FileDescriptor.h"

#include <cstdint>
#include <string>

namespace velmar {

// The system's text for an errno value.
std::string ErrorText(int error);

enum class ReadStatus { Frame, End, Error };

class CFrameFileReader {
public:
    // Opens the file and measures it. On failure returns false with a message naming the file.
    [[nodiscard]] bool Open(const std::string& filePath, std::string& error);

    std::uint64_t FileBytes() const { return fileBytes; }
    std::uint64_t FrameCount() const { return fileBytes / kPackedFrameBytes; }
    int TrailingBytes() const { return static_cast<int>(fileBytes % kPackedFrameBytes); }

    // Reads the next whole frame. End comes after the last whole frame; Error fills `error`.
    [[nodiscard]] ReadStatus Next(PackedFrame& frame, std::string& error);

private:
    CFileDescriptor file;
    std::string path;
    std::uint64_t fileBytes = 0;
    std::uint64_t framesRead = 0;
};

} // namespace velmar
