#include "app/RecordingCopy.h"

#include "codec/CodecConstants.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"
#include "pipeline/FileDescriptor.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace velmar {
namespace {

// Reads exactly `count` bytes: 0, the errno, or -1 when the file ended first.
int ReadExactly(CFileDescriptor& file, void* data, std::size_t count) {
    const ssize_t got = file.ReadFully(data, count);
    if (got < 0) {
        return errno;
    }
    return static_cast<std::size_t>(got) < count ? -1 : 0;
}

// Writes all `count` bytes: 0 or the errno.
int WriteAll(CFileDescriptor& file, const void* data, std::size_t count) {
    return file.WriteFully(data, count) ? 0 : errno;
}

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

// Writes what `writeContent` makes of `source` into a new file beside `target`, flushes it and
// renames it over `target`; on any failure the new file is removed and `target` is left as it was.
template <typename WriteContent>
CopyOutcome WriteBesideAndReplace(const std::string& source, const std::string& target,
                                  WriteContent writeContent) {
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

    if (const CopyOutcome written = writeContent(input, sourceInfo, output); !written.Succeeded()) {
        return fail(written.failure, written.systemError);
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

// The recording byte for byte, 1000 bytes at a time.
CopyOutcome CopyBytes(CFileDescriptor& input, const struct stat& sourceInfo, CFileDescriptor& output) {
    const auto size = static_cast<std::int64_t>(sourceInfo.st_size);
    std::array<std::uint8_t, kSaveChunkBytes> buffer{};
    const std::int64_t wholeChunks = size / kSaveChunkBytes;
    const auto rest = static_cast<std::size_t>(size % kSaveChunkBytes);
    for (std::int64_t chunk = 0; chunk <= wholeChunks; ++chunk) {
        const std::size_t count = chunk < wholeChunks ? buffer.size() : rest;
        if (count == 0) {
            break;
        }
        if (const int error = ReadExactly(input, buffer.data(), count); error != 0) {
            return Failed(CopyFailure::Read, error);
        }
        if (const int error = WriteAll(output, buffer.data(), count); error != 0) {
            return Failed(CopyFailure::Write, error);
        }
    }
    return CopyOutcome{};
}

void PutLittleEndian(std::uint8_t* at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

// The recording's whole frames decoded into an 8 kHz 16-bit mono WAV file; a fragment of a frame at
// the end (a recording cut short) is left out, as playback leaves it out.
CopyOutcome DecodeToWav(CFileDescriptor& input, const struct stat& sourceInfo, CFileDescriptor& output,
                        DecodeMode mode) {
    const auto frames = static_cast<std::uint64_t>(sourceInfo.st_size) / kPackedFrameBytes;
    constexpr std::uint64_t kBytesPerFrame = kFrameSamples * sizeof(std::int16_t);
    constexpr std::uint64_t kLargestData = 0xFFFFFFFFull - kWavHeaderBytes;
    if (frames * kBytesPerFrame > kLargestData) {
        return Failed(CopyFailure::Write, EFBIG); // beyond what a WAV file can say it holds
    }
    const auto dataBytes = static_cast<std::uint32_t>(frames * kBytesPerFrame);
    std::array<std::uint8_t, kWavHeaderBytes> header{};
    const auto put = [&](int at, const char* tag) { std::copy(tag, tag + 4, header.begin() + at); };
    put(0, "RIFF");
    PutLittleEndian(&header[4], dataBytes + kWavHeaderBytes - 8, 4);
    put(8, "WAVE");
    put(12, "fmt ");
    PutLittleEndian(&header[16], 16, 4);
    PutLittleEndian(&header[20], 1, 2); // PCM
    PutLittleEndian(&header[22], 1, 2); // mono
    PutLittleEndian(&header[24], kSampleRate, 4);
    PutLittleEndian(&header[28], kSampleRate * 2, 4);
    PutLittleEndian(&header[32], 2, 2);
    PutLittleEndian(&header[34], 16, 2);
    put(36, "data");
    PutLittleEndian(&header[40], dataBytes, 4);
    if (const int error = WriteAll(output, header.data(), header.size()); error != 0) {
        return Failed(CopyFailure::Write, error);
    }
    // Decoded as playback decodes: a fresh decoder (and post-filter) over every frame in order.
    const auto codec = std::make_unique<CSpeechCodec>();
    CPostFilter postFilter;
    std::array<std::uint8_t, kPackedFrameBytes> frame{};
    std::array<std::int16_t, kFrameSamples> samples{};
    std::array<std::uint8_t, kBytesPerFrame> bytes{};
    for (std::uint64_t i = 0; i < frames; ++i) {
        if (const int error = ReadExactly(input, frame.data(), frame.size()); error != 0) {
            return Failed(CopyFailure::Read, error);
        }
        if (mode == DecodeMode::Enhanced) {
            DecodeEnhancedFrame(*codec, postFilter, frame, samples);
        } else {
            codec->DecodeFrame(frame, samples, 0);
        }
        for (std::size_t k = 0; k < samples.size(); ++k) {
            PutLittleEndian(&bytes[2 * k], static_cast<std::uint16_t>(samples[k]), 2);
        }
        if (const int error = WriteAll(output, bytes.data(), bytes.size()); error != 0) {
            return Failed(CopyFailure::Write, error);
        }
    }
    return CopyOutcome{};
}

} // namespace

CopyOutcome CopyRecording(const std::string& source, const std::string& target) {
    return WriteBesideAndReplace(source, target, CopyBytes);
}

CopyOutcome ExportRecordingAsWav(const std::string& source, const std::string& target, DecodeMode mode) {
    return WriteBesideAndReplace(
        source, target, [mode](CFileDescriptor& input, const struct stat& info, CFileDescriptor& output) {
            return DecodeToWav(input, info, output, mode);
        });
}

} // namespace velmar
