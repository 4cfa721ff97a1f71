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
    path = filePath;
    file = CFileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = "cannot open '" + path + "': " + ErrorText(errno);
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        error = "cannot read '" + path + "': " + ErrorText(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "cannot read '" + path + "': " + ErrorText(EISDIR);
        return false;
    }
    fileBytes = static_cast<std::uint64_t>(info.st_size);
    framesRead = 0;
    return true;
}

ReadStatus CFrameFileReader::Next(PackedFrame& frame, std::string& error) {
    if (framesRead >= FrameCount()) {
        return ReadStatus::End;
    }
    std::size_t filled = 0;
    while (filled < frame.size()) {
        const ssize_t got = ::read(file.Get(), frame.data() + filled, frame.size() - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "cannot read '" + path + "': " + ErrorText(errno);
            return ReadStatus::Error;
        }
        if (got == 0) {
            error = "'" + path + "' became shorter while it was being read";
            return ReadStatus::Error;
        }
        filled += static_cast<std::size_t>(got);
    }
    ++framesRead;
    return ReadStatus::Frame;
}

} // namespace velmar
