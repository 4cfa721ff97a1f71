// An owning POSIX file descriptor: closed with the object unless closed (and checked) before. Used
// by the file worker, the window's save and the command-line tool alike.
#pragma once

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

private:
    int fd = -1;
};

} // namespace velmar
