#include "pipeline/FileDescriptor.h"

#include <unistd.h>

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

} // namespace velmar
