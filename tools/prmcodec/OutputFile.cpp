#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <limits>

namespace velmar {
namespace {

// The same as the kernel's limit on symlinks in one lookup.
constexpr int kMaxSymlinkDepth = 40;
constexpr std::size_t kTemporarySuffixBytes = 8; // "." before, ".XXXXXX" after

std::string CannotCreate(const std::string& name, int errorNumber) {
    return "cannot create '" + name + "': " + ErrorText(errorNumber);
}

} // namespace

std::string TemporaryPattern(const std::string& destination, const std::string& tag) {
    const std::filesystem::path target(destination);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string name = target.filename().string();
    // Appended piece by piece: GCC 12 at -O3 misreads a chain of string additions here as an
    // overlapping copy (-Wrestrict).
    std::string hidden = ".";
    if (name.size() + tag.size() + kTemporarySuffixBytes <= NAME_MAX) {
        hidden.append(name);
    } else {
        hidden.append("prmcodec-output");
    }
    hidden.append(tag).append(".XXXXXX");
    return (folder / hidden).string();
}

bool FollowSymlinks(const std::string& path, std::string& target) {
    std::filesystem::path current(path);
    for (int depth = 0; depth <= kMaxSymlinkDepth; ++depth) {
        std::error_code failure;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(current, failure))) {
            target = current.string();
            return true;
        }
        const std::filesystem::path next = std::filesystem::read_symlink(current, failure);
        if (failure) {
            return false;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return false;
}

COutputFile::~COutputFile() {
    Discard();
}

void COutputFile::Discard() noexcept {
    pending.clear();
    file = CFileDescriptor();
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
        tempPath.clear();
    }
    removeOnSignal.Disarm();
}

bool COutputFile::Create(const std::string& destination, std::string& error) {
    Discard();
    shownName = destination == "-" ? "standard output" : destination;
    finalPath.clear();
    rewritable = false;
    reserved = false;
    startOffset = 0;
    if (destination == "-") {
        if (::isatty(STDOUT_FILENO) == 1) {
            // Binary data would only garble the terminal.
            error = "standard output is a terminal: redirect it, pipe it on, or name an output file";
            return false;
        }
        file = CFileDescriptor(::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0));
        if (!file.IsOpen()) {
            error = CannotCreate(shownName, errno);
            return false;
        }
    } else {
        // What the name leads to, through every link: /dev/stdout and /proc/self/fd/N lead to an
        // inherited pipe although their links name no path that could be followed by hand.
        struct stat info {};
        const bool exists = ::stat(destination.c_str(), &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            error = CannotCreate(destination, EISDIR);
            return false;
        }
        std::string target;
        if (exists && !S_ISREG(info.st_mode)) {
            // A device, FIFO or pipe: written in place, never replaced.
            file = CFileDescriptor(::open(destination.c_str(), O_WRONLY | O_CLOEXEC));
            if (!file.IsOpen()) {
                error = CannotCreate(destination, errno);
                return false;
            }
        } else if (!FollowSymlinks(destination, target)) {
            error = CannotCreate(destination, ELOOP);
            return false;
        } else {
            std::string pattern = TemporaryPattern(target);
            const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
            if (fd < 0) {
                error = CannotCreate(destination, errno);
                return false;
            }
            file = CFileDescriptor(fd);
            tempPath = pattern;
            finalPath = target;
            removeOnSignal.Arm(tempPath);
        }
    }
    // Only a regular file we own the whole of can be rewritten: appending to it, a device or a pipe
    // cannot be (or must not be).
    struct stat info {};
    const int flags = ::fcntl(file.Get(), F_GETFL);
    if (::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode) && flags >= 0 && (flags & O_APPEND) == 0) {
        const off_t at = ::lseek(file.Get(), 0, SEEK_CUR);
        rewritable = at >= 0;
        startOffset = at >= 0 ? at : 0;
    }
    return true;
}

bool COutputFile::Reserve(std::uint64_t bytes, std::string& error) {
    if (finalPath.empty() || bytes == 0) {
        return true;
    }
    const bool tooLarge = bytes > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
    if (tooLarge || ::fallocate(file.Get(), 0, 0, static_cast<off_t>(bytes)) != 0) {
        const int reason = tooLarge ? EFBIG : errno;
        if (reason == ENOSPC || reason == EDQUOT || reason == EFBIG) {
            error = "cannot write '" + shownName + "': " + ErrorText(reason);
            return false;
        }
        return true; // not supported here (EOPNOTSUPP and the like): written as it comes
    }
    reserved = true;
    return true;
}

bool COutputFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
    if (finalPath.empty()) {
        return WriteNow(bytes, error);
    }
    while (!bytes.empty()) {
        if (pending.empty() && bytes.size() >= kFileBlock) {
            // Whole blocks at a block boundary go out straight from the caller's buffer.
            const std::size_t whole = bytes.size() / kFileBlock * kFileBlock;
            if (!WriteNow(bytes.first(whole), error)) {
                return false;
            }
            bytes = bytes.subspan(whole);
            continue;
        }
        pending.reserve(kFileBlock);
        const std::size_t take = std::min(kFileBlock - pending.size(), bytes.size());
        pending.insert(pending.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(take));
        bytes = bytes.subspan(take);
        if (pending.size() == kFileBlock && !Flush(error)) {
            return false;
        }
    }
    return true;
}

bool COutputFile::WriteNow(std::span<const std::uint8_t> bytes, std::string& error) {
    if (!file.WriteFully(bytes.data(), bytes.size())) {
        error = "cannot write '" + shownName + "': " + ErrorText(errno);
        return false;
    }
    return true;
}

bool COutputFile::Flush(std::string& error) {
    if (pending.empty()) {
        return true;
    }
    if (!WriteNow(pending, error)) {
        return false;
    }
    pending.clear();
    return true;
}

bool COutputFile::WriteAt(std::span<const std::uint8_t> bytes, std::int64_t offset, std::string& error) {
    // What is still pending would otherwise land later, over these bytes.
    if (!Flush(error)) {
        return false;
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::pwrite(file.Get(), bytes.data() + written, bytes.size() - written,
                                      static_cast<off_t>(offset + static_cast<std::int64_t>(written)));
        if (done < 0 && errno == EINTR) {
            continue;
        }
        if (done <= 0) {
            // A write that takes nothing and names no error would otherwise be retried forever.
            error = "cannot write '" + shownName + "': " + ErrorText(done == 0 ? ENOSPC : errno);
            return false;
        }
        written += static_cast<std::size_t>(done);
    }
    return true;
}

bool COutputFile::Commit(std::string& error) {
    if (!Flush(error)) {
        return false;
    }
    if (finalPath.empty()) {
        // Written in place: nothing to flush to a disk (pipes and terminals refuse fsync), nothing
        // to rename; closing reports what the device reports.
        if (!file.Close()) {
            error = "cannot write '" + shownName + "': " + ErrorText(errno);
            return false;
        }
        return true;
    }
    if (reserved) {
        // Writing ended short of the room set aside (the input shrank while it was read): the
        // file ends where its data ends. Header rewrites use pwrite, so the offset is the end.
        const off_t end = ::lseek(file.Get(), 0, SEEK_CUR);
        struct stat info {};
        if (end < 0 || ::fstat(file.Get(), &info) != 0 ||
            (info.st_size > end && ::ftruncate(file.Get(), end) != 0)) {
            error = "cannot write '" + shownName + "': " + ErrorText(errno);
            return false;
        }
    }
    // A full disk may only show when the data reaches it.
    if (::fsync(file.Get()) != 0 && errno != EINVAL) {
        error = "cannot write '" + shownName + "': " + ErrorText(errno);
        return false;
    }
    // mkostemp creates the file with mode 0600; give the result the mode any new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.Get(), 0666 & ~mask) != 0) {
        error = "cannot write '" + shownName + "': " + ErrorText(errno);
        return false;
    }
    if (!file.Close()) {
        error = "cannot write '" + shownName + "': " + ErrorText(errno);
        return false;
    }
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        error = CannotCreate(shownName, errno);
        return false;
    }
    tempPath.clear();
    removeOnSignal.Disarm();
    return true;
}

} // namespace velmar
