#include "FrameFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace velmar {

std::string ErrorText(int error) {
    return std::strerror(error);
}

bool CFrameFileReader::Open(const std::string& filePath, std::string& error) {
    name = filePath == "-" ? "standard input" : filePath;
    ended = false;
    inputEnded = false;
    next = 0;
    held = 0;
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

bool CFrameFileReader::Fill() {
    // A whole number of frames near 64 KiB, so that a file's blocks stay frame-aligned.
    constexpr std::size_t kBufferBytes = (65536 / kPackedFrameBytes) * kPackedFrameBytes;
    if (buffer.empty()) {
        buffer.resize(kBufferBytes);
    }
    std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(next), buffer.begin() + static_cast<std::ptrdiff_t>(held),
              buffer.begin());
    held -= next;
    next = 0;
    // One read takes what is there: a live stream's frame is handed on as soon as it is whole
    // instead of waiting for a full buffer.
    while (!inputEnded && held < kPackedFrameBytes) {
        const ssize_t got = ::read(file.Get(), buffer.data() + held, buffer.size() - held);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            inputEnded = true;
        }
        held += static_cast<std::size_t>(got);
    }
    return true;
}

ReadStatus CFrameFileReader::Next(PackedFrame& frame, std::string& error) {
    if (ended || (!stream && framesRead >= FrameCount())) {
        ended = true;
        return ReadStatus::End;
    }
    if (held - next < frame.size() && !Fill()) {
        error = "cannot read '" + name + "': " + ErrorText(errno);
        return ReadStatus::Error;
    }
    if (held - next < frame.size()) {
        if (stream) {
            fileBytes += held - next; // the incomplete last frame, if any
            ended = true;
            return ReadStatus::End;
        }
        error = "'" + name + "' became shorter while it was being read";
        return ReadStatus::Error;
    }
    std::copy_n(buffer.begin() + static_cast<std::ptrdiff_t>(next), frame.size(), frame.begin());
    next += frame.size();
    if (stream) {
        fileBytes += kPackedFrameBytes;
    }
    ++framesRead;
    return ReadStatus::Frame;
}

} // namespace velmar
