#include "app/WorkingFile.h"

#include "codec/CodecConstants.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace velmar {
namespace {

// More windows than this in one folder share nothing: the last ones cannot record.
constexpr int kMaxWorkingFiles = 100;
// Attempts at one name that another program deletes or replaces under our hands.
constexpr int kAttemptsPerName = 3;

std::string WorkingFileName(int number) {
    return number == 1 ? std::string("prm.tmp") : "prm-" + std::to_string(number) + ".tmp";
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

CWorkingFile::CWorkingFile(const std::filesystem::path& startFolder)
    : folder(startFolder) {
    if (!Take(true)) {
        path = (folder / WorkingFileName(1)).string();
    }
}

CWorkingFile::~CWorkingFile() {
    if (!file.IsOpen()) {
        return; // the path may be another window's file
    }
    // Deleted while still locked: no other window can take the name in between and lose its file.
    struct stat held {};
    struct stat named {};
    if (::fstat(file.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && SameFile(held, named)) {
        ::unlink(path.c_str());
    }
}

bool CWorkingFile::Take(bool acceptLeftover) {
    holdError = 0;
    for (int number = 1; number <= kMaxWorkingFiles; ++number) {
        const std::string candidate = (folder / WorkingFileName(number)).string();
        for (int attempt = 0; attempt < kAttemptsPerName; ++attempt) {
            CFileDescriptor opened(
                ::open(candidate.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666));
            if (!opened.IsOpen()) {
                holdError = errno;
                break; // not ours to use (a folder, a link, a file we may not write): try the next name
            }
            if (::flock(opened.Get(), LOCK_EX | LOCK_NB) != 0) {
                holdError = errno;
                break; // another window's file
            }
            struct stat held {};
            struct stat named {};
            if (::fstat(opened.Get(), &held) != 0 || !S_ISREG(held.st_mode)) {
                holdError = EINVAL;
                break;
            }
            if (::stat(candidate.c_str(), &named) != 0 || !SameFile(held, named)) {
                continue; // deleted or replaced between open and lock: look again
            }
            // Locked and named by its path: nobody else uses it now. Whole frames in it are a
            // recording of an earlier run; anything less is nothing worth keeping.
            if (!acceptLeftover && held.st_size >= kPackedFrameBytes) {
                break; // offered by the next window that starts here, never overwritten by this one
            }
            leftoverBytes = held.st_size >= kPackedFrameBytes ? held.st_size : 0;
            if (held.st_size > 0 && leftoverBytes == 0 && ::ftruncate(opened.Get(), 0) != 0) {
                // An unreadable fragment does no harm: the next recording replaces it.
            }
            file = std::move(opened);
            path = candidate;
            holdError = 0;
            return true;
        }
    }
    return false;
}

bool CWorkingFile::HasWholeFrame() const {
    struct stat info {};
    if (file.IsOpen()) {
        return ::fstat(file.Get(), &info) == 0 && info.st_size >= kPackedFrameBytes;
    }
    return ::stat(path.c_str(), &info) == 0 && info.st_size >= kPackedFrameBytes;
}

bool CWorkingFile::Reclaim() {
    if (file.IsOpen()) {
        struct stat held {};
        struct stat named {};
        if (::fstat(file.Get(), &held) == 0 && ::stat(path.c_str(), &named) == 0 && SameFile(held, named)) {
            return true;
        }
        (void)file.Close(); // our file is gone from its name; the name may be someone else's now
    }
    return Take(false);
}

void CWorkingFile::Empty() {
    leftoverBytes = 0;
    if (file.IsOpen() && ::ftruncate(file.Get(), 0) != 0) {
        // The content stays until the next recording replaces it or teardown deletes the file.
    }
}

} // namespace velmar
