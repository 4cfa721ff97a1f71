#include "app/RecordingCopy.h"

#include "pipeline/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>

namespace velmar {
namespace {

// Reads exactly `count` bytes; 0 on success, the errno, or -1 when the file ended first.
int ReadFully(int fd, std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        const ssize_t got = ::read(fd, data, count);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (got == 0) {
            return -1;
        }
        data += got;
        count -= static_cast<std::size_t>(got);
    }
    return 0;
}

// Writes all `count` bytes; 0 on success, else the errno.
int WriteFully(int fd, const std::uint8_t* data, std::size_t count) {
    while (count > 0) {
        const ssize_t put = ::write(fd, data, count);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += put;
        count -= static_cast<std::size_t>(put);
    }
    return 0;
}

CopyOutcome Failed(CopyFailure failure, int systemError) {
    return CopyOutcome{failure, systemError < 0 ? 0 : systemError};
}

} // namespace

CopyOutcome CopyRecording(const std::string& source, const std::string& target) {
    CFileDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!input.IsOpen()) {
        return Failed(CopyFailure::OpenSource, errno);
    }
    struct stat sourceInfo {};
    if (::fstat(input.Get(), &sourceInfo) != 0) {
        return Failed(CopyFailure::OpenSource, errno);
    }
    // Opening the recording itself for writing would truncate it before a byte is read.
    struct stat targetInfo {};
    if (::stat(target.c_str(), &targetInfo) == 0 && targetInfo.st_dev == sourceInfo.st_dev &&
        targetInfo.st_ino == sourceInfo.st_ino) {
        return Failed(CopyFailure::SameFile, 0);
    }

    CFileDescriptor output(::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!output.IsOpen()) {
        return Failed(CopyFailure::CreateTarget, errno);
    }
    struct stat createdInfo {};
    const bool regularTarget = ::fstat(output.Get(), &createdInfo) == 0 && S_ISREG(createdInfo.st_mode);
    const auto removePartial = [&] {
        if (regularTarget) {
            ::unlink(target.c_str());
        }
    };

    const auto size = static_cast<std::int64_t>(sourceInfo.st_size);
    std::array<std::uint8_t, kSaveChunkBytes> buffer{};
    const std::int64_t wholeChunks = size / kSaveChunkBytes;
    const auto rest = static_cast<std::size_t>(size % kSaveChunkBytes);
    for (std::int64_t chunk = 0; chunk <= wholeChunks; ++chunk) {
        const std::size_t count = chunk < wholeChunks ? buffer.size() : rest;
        if (count == 0) {
            break;
        }
        if (const int error = ReadFully(input.Get(), buffer.data(), count); error != 0) {
            (void)output.Close();
            removePartial();
            return Failed(CopyFailure::Read, error);
        }
        if (const int error = WriteFully(output.Get(), buffer.data(), count); error != 0) {
            (void)output.Close();
            removePartial();
            return Failed(CopyFailure::Write, error);
        }
    }
    // A failed close can mean data that never reached the disk.
    if (!output.Close()) {
        const int error = errno;
        removePartial();
        return Failed(CopyFailure::Write, error);
    }
    return CopyOutcome{};
}

} // namespace velmar
