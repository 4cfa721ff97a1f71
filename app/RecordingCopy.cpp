#include "app/RecordingCopy.h"

#include "pipeline/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace velmar {
namespace {

CopyOutcome Failed(CopyFailure failure, int systemError) {
    return CopyOutcome{failure, systemError < 0 ? 0 : systemError};
}

// Where the copy finally goes: a symbolic link is followed, so that saving over a link replaces the
// file it leads to, as writing through it always did; a name that does not exist yet stays as it is.
std::string FinalTarget(const std::string& target) {
    struct stat linkInfo {};
    if (::lstat(target.c_str(), &linkInfo) != 0 || !S_ISLNK(linkInfo.st_mode)) {
        return target;
    }
    const std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(target.c_str(), nullptr),
                                                               &std::free);
    return resolved ? std::string(resolved.get()) : target;
}

std::string FolderOf(const std::string& path) {
    const std::string::size_type slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A new, empty file beside `target`, created with the permissions a new file gets (the umask
// applies), under a name no one else uses: ".name.<pid>-<n>.part".
CFileDescriptor CreateBeside(const std::string& target, std::string& created, int& error) {
    const std::string::size_type slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    constexpr std::size_t kLongestKeptName = 200; // room for the additions within a name's 255 bytes
    if (name.size() > kLongestKeptName) {
        name = "prm-save";
    }
    for (int n = 0; n < 100; ++n) {
        created = folder + "." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(n) + ".part";
        CFileDescriptor file(::open(created.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.IsOpen()) {
            return file;
        }
        error = errno;
        if (error != EEXIST) {
            break;
        }
    }
    created.clear();
    return CFileDescriptor();
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
    const std::string finalTarget = FinalTarget(target);
    struct stat targetInfo {};
    const bool replacing = ::stat(finalTarget.c_str(), &targetInfo) == 0;
    if (replacing && targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
        // Renaming over the recording would lose its name, and the window's hold on it.
        return Failed(CopyFailure::SameFile, 0);
    }
    if (replacing && !S_ISREG(targetInfo.st_mode)) {
        return Failed(CopyFailure::TargetNotFile, S_ISDIR(targetInfo.st_mode) ? EISDIR : 0);
    }

    std::string partPath;
    int createError = 0;
    CFileDescriptor output = CreateBeside(finalTarget, partPath, createError);
    if (!output.IsOpen()) {
        return Failed(CopyFailure::CreateTarget, createError);
    }
    const auto fail = [&](CopyFailure failure, int error) {
        (void)output.Close();
        ::unlink(partPath.c_str());
        return Failed(failure, error);
    };
    if (replacing) {
        // The user replaces the file's content, not who may read it.
        (void)::fchmod(output.Get(), targetInfo.st_mode & 07777);
    }

    const auto size = static_cast<std::int64_t>(sourceInfo.st_size);
    std::array<std::uint8_t, kSaveChunkBytes> buffer{};
    const std::int64_t wholeChunks = size / kSaveChunkBytes;
    const auto rest = static_cast<std::size_t>(size % kSaveChunkBytes);
    for (std::int64_t chunk = 0; chunk <= wholeChunks; ++chunk) {
        const std::size_t count = chunk < wholeChunks ? buffer.size() : rest;
        if (count == 0) {
            break;
        }
        const ssize_t got = input.ReadFully(buffer.data(), count);
        if (got < 0) {
            return fail(CopyFailure::Read, errno);
        }
        if (static_cast<std::size_t>(got) < count) {
            return fail(CopyFailure::Read, -1); // the recording ended before its size said
        }
        if (!output.WriteFully(buffer.data(), count)) {
            return fail(CopyFailure::Write, errno);
        }
    }
    // On the disk before it takes the target's name: a crash then leaves the old file or the new one.
    if (::fsync(output.Get()) != 0) {
        return fail(CopyFailure::Write, errno);
    }
    if (!output.Close()) {
        const int error = errno;
        ::unlink(partPath.c_str());
        return Failed(CopyFailure::Write, error);
    }
    if (::rename(partPath.c_str(), finalTarget.c_str()) != 0) {
        const int error = errno;
        ::unlink(partPath.c_str());
        return Failed(CopyFailure::Write, error);
    }
    // The new name on the disk too; a folder that cannot be flushed (some file systems) still holds it.
    const CFileDescriptor folder(::open(FolderOf(finalTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsOpen()) {
        (void)::fsync(folder.Get());
    }
    return CopyOutcome{};
}

} // namespace velmar
