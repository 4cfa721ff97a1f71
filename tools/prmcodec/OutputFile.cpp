#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

namespace velmar {

COutputFile::~COutputFile() {
    Discard();
}

void COutputFile::Discard() noexcept {
    file = CFileDescriptor();
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
        tempPath.clear();
    }
}

bool COutputFile::Create(const std::string& destination, std::string& error) {
    Discard();
    finalPath = destination;
    const std::filesystem::path target(destination);
    std::error_code ignored;
    if (std::filesystem::is_directory(target, ignored)) {
        error = "cannot create '" + destination + "': " + ErrorText(EISDIR);
        return false;
    }
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    std::string pattern = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create '" + destination + "': " + ErrorText(errno);
        return false;
    }
    file = CFileDescriptor(fd);
    tempPath = pattern;
    return true;
}

bool COutputFile::Write(std::span<const std::uint8_t> bytes, std::string& error) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t done = ::write(file.Get(), bytes.data() + written, bytes.size() - written);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = "cannot write '" + finalPath + "': " + ErrorText(errno);
            return false;
        }
        written += static_cast<std::size_t>(done);
    }
    return true;
}

bool COutputFile::Commit(std::string& error) {
    // A full disk may only show when the data reaches it.
    if (::fsync(file.Get()) != 0 && errno != EINVAL) {
        error = "cannot write '" + finalPath + "': " + ErrorText(errno);
        return false;
    }
    // mkostemp creates the file with mode 0600; give the result the mode any new file gets.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.Get(), 0666 & ~mask) != 0) {
        error = "cannot write '" + finalPath + "': " + ErrorText(errno);
        return false;
    }
    if (!file.Close()) {
        error = "cannot write '" + finalPath + "': " + ErrorText(errno);
        return false;
    }
    if (::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        error = "cannot create '" + finalPath + "': " + ErrorText(errno);
        return false;
    }
    tempPath.clear();
    return true;
}

} // namespace velmar
