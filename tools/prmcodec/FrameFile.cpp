#include "FrameFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velmar {

std::string ErrorText(int error) {
    return std::strerror(error);
}

bool CFrameFileReader::Open(const std::string& filePath, std::string& error) {
    name = filePath == "-" ? "standard input" : filePath;
    ended = false;
    fileBytes = 0;
    framesRead = 0;
    file = CFileDescriptor(filePath == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                           : ::open(filePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = "cannot open '" + name + "': " + ErrorText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        error = "cannot read '" + name + "': " + ErrorText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "cannot read '" + name + "': " + ErrorText(EISDIR);
        return false;
    }
    // A regular file standing in for standard input is read from where its offset is, to its end.
    stream = !S_ISREG(info.st_mode);
    if (!stream) {
        const off_t at = ::lseek(file.Get(), 0, SEEK_CUR);
        const std::int64_t left = static_cast<std::int64_t>(info.st_size) - (at > 0 ? at : 0);
        fileBytes = left > 0 ? static_cast<std::uint64_t>(left) : 0;
    }
    return true;
}

std::optional<std::uint64_t> CFrameFileReader::KnownFrameCount() const {
    if (stream && !ended) {
        return std::nullopt;
    }
    return FrameCount();
}

bool CFrameFileReader::HasFrames(std::string& error) const {
    if (stream && !ended) {
        return true; // not known yet
    }
    if (fileBytes == 0) {
        error = "'" + name + "' is empty: it holds no frames";
        return false;
    }
    if (FrameCount() == 0) {
        error = "'" + name + "' holds no whole frame (" + std::to_string(fileBytes) + " bytes; a frame has " +
                std::to_string(kPackedFrameBytes) + ")";
        return false;
    }
    return true;
}

ReadStatus CFrameFileReader::Next(PackedFrame& frame, std::string& error) {
    if (ended || (!stream && framesRead >= FrameCount())) {
        ended = true;
        return ReadStatus::End;
    }
    const ssize_t got = file.ReadFully(frame.data(), frame.size());
    if (got < 0) {
        error = "cannot read '" + name + "': " + ErrorText(errno);
        return ReadStatus::Error;
    }
    if (static_cast<std::size_t>(got) < frame.size()) {
        if (stream) {
            fileBytes += static_cast<std::uint64_t>(got); // the incomplete last frame, if any
            ended = true;
            return ReadStatus::End;
        }
        error = "'" + name + "' became shorter while it was being read";
        return ReadStatus::Error;
    }
    if (stream) {
        fileBytes += kPackedFrameBytes;
    }
    ++framesRead;
    return ReadStatus::Frame;
}

} // namespace velmar
