#include "audio/LibraryNoise.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace velmar {
namespace {

bool StartsWith(std::string_view line, std::string_view prefix) {
    return line.substr(0, prefix.size()) == prefix;
}

bool Contains(std::string_view line, std::string_view part) {
    return line.find(part) != std::string_view::npos;
}

void WriteAll(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // nowhere to report it: standard error itself is gone
        }
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
}

bool Wanted() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return false;
#else
    const char* debug = std::getenv("VELMAR_AUDIO_DEBUG");
    return debug == nullptr || *debug == '\0' || std::string_view(debug) == "0";
#endif
}

} // namespace

bool IsSoundLibraryNoise(std::string_view line) {
    return StartsWith(line, "Expression '") || StartsWith(line, "ALSA lib ") || StartsWith(line, "PaAlsa") ||
           Contains(line, "src/hostapi/alsa/") || Contains(line, "pa_linux_alsa.c") ||
           StartsWith(line, "Cannot connect to server socket") ||
           StartsWith(line, "Cannot connect to server request channel") ||
           StartsWith(line, "jack server is not running") || StartsWith(line, "JackShmReadWritePtr") ||
           StartsWith(line, "Cannot lock down") || StartsWith(line, "Assertion 'pa_") ||
           Contains(line, "pulsecore/");
}

CLibraryNoiseFilter::CLibraryNoiseFilter() {
    if (!Wanted()) {
        return;
    }
    std::array<int, 2> ends{};
    if (::pipe2(ends.data(), O_CLOEXEC) != 0) {
        return;
    }
    const int saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (saved < 0 || ::dup2(ends[1], STDERR_FILENO) < 0) {
        if (saved >= 0) {
            ::close(saved);
        }
        ::close(ends[0]);
        ::close(ends[1]);
        return;
    }
    ::close(ends[1]); // standard error is now the only writer
    savedStderr = saved;
    try {
        forwarder = std::thread([this, readEnd = ends[0]] { Forward(readEnd); });
    } catch (...) {
        ::dup2(savedStderr, STDERR_FILENO);
        ::close(savedStderr);
        ::close(ends[0]);
        savedStderr = -1;
    }
}

CLibraryNoiseFilter::~CLibraryNoiseFilter() {
    if (savedStderr < 0) {
        return;
    }
    // Standard error is the terminal again; the pipe's last writer is gone, so the forwarder reads
    // what is left, delivers it and ends.
    ::dup2(savedStderr, STDERR_FILENO);
    forwarder.join();
    ::close(savedStderr);
}

void CLibraryNoiseFilter::Forward(int readEnd) {
    std::string pending;
    std::array<char, 4096> buffer{};
    const auto deliver = [&](std::string_view line) {
        if (!IsSoundLibraryNoise(line)) {
            WriteAll(savedStderr, line.data(), line.size());
        }
    };
    for (;;) {
        const ssize_t got = ::read(readEnd, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        pending.append(buffer.data(), static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end = pending.find('\n'); end != std::string::npos;
             end = pending.find('\n', start)) {
            deliver(std::string_view(pending).substr(start, end + 1 - start));
            start = end + 1;
        }
        pending.erase(0, start);
        // A line that never ends (a progress bar redrawn with \r) is passed on as it comes.
        if (pending.size() > 1024 || pending.find('\r') != std::string::npos) {
            deliver(pending);
            pending.clear();
        }
    }
    if (!pending.empty()) {
        deliver(pending);
    }
    ::close(readEnd);
}

} // namespace velmar
