// An owning POSIX file descriptor: closed with the object unless closed (and checked) before. Used
// by the file worker, the window's save and the command-line tool alike.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace velmar {

class CFileDescriptor {
public:
    CFileDescriptor() = default;
    explicit CFileDescriptor(int descriptor)
        : fd(descriptor) {}
    ~CFileDescriptor();
    CFileDescriptor(CFileDescriptor&& other) noexcept
        : fd(other.Release()) {}
    CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return fd; }
    bool IsOpen() const { return fd >= 0; }
    // Gives up ownership without closing.
    int Release() noexcept;
    // Closes now; false with errno set when the system reports a failure (data may be lost).
    [[nodiscard]] bool Close();

    // Reads until `bytes` bytes are in or the input ends, going on after interruptions by signals:
    // the count read (short only at the end), or -1 with errno set.
    [[nodiscard]] ssize_t ReadFully(void* buffer, std::size_t bytes);
    // Writes all `bytes`, going on after interruptions and partial writes; false with errno set
    // (ENOSPC when the system accepted nothing without naming an error).
    [[nodiscard]] bool WriteFully(const void* buffer, std::size_t bytes);

private:
    int fd = -1;
};

} // namespace velmar
