#include "pipeline/FileDescriptor.h"

#include <unistd.h>

#include <cerrno>

namespace velmar {

CFileDescriptor::~CFileDescriptor() {
    if (fd >= 0) {
        ::close(fd);
    }
}

CFileDescriptor& CFileDescriptor::operator=(CFileDescriptor&& other) noexcept {
    if (this != &other) {
        if (fd >= 0) {
            ::close(fd);
        }
        fd = other.Release();
    }
    return *this;
}

int CFileDescriptor::Release() noexcept {
    const int released = fd;
    fd = -1;
    return released;
}

bool CFileDescriptor::Close() {
    const int descriptor = Release();
    return descriptor < 0 || ::close(descriptor) == 0;
}

ssize_t CFileDescriptor::ReadFully(void* buffer, std::size_t bytes) {
    auto* bytesIn = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t got = ::read(fd, bytesIn + done, bytes - done);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool CFileDescriptor::WriteFully(const void* buffer, std::size_t bytes) {
    const auto* bytesOut = static_cast<const unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < bytes) {
        const ssize_t written = ::write(fd, bytesOut + done, bytes - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            if (written == 0) {
                errno = ENOSPC;
            }
            return false;
        }
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace velmar
