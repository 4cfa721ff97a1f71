#include "pipeline/FileWorker.h"

#include "audio/Event.h"
#include "pipeline/Channels.h"
#include "pipeline/Conversions.h"
#include "pipeline/PipelineConstants.h"
#include "pipeline/RunContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace velmar {

std::string FileErrorText(int error, std::string_view fileName) {
    std::array<char, 256> buffer{};
    // The GNU strerror_r returns the text, which may or may not be in the buffer.
    const char* text = ::strerror_r(error, buffer.data(), buffer.size());
    std::string result = text != nullptr ? text : "Unknown error";
    result += ": ";
    result += fileName;
    return result;
}

CFileWorker::CFileWorker(CRunContext& context, CCaptureChannel& captureChannel,
                         CPlaybackChannel& playbackChannel)
    : run(context)
    , capture(captureChannel)
    , playback(playbackChannel) {
}

CFileWorker::~CFileWorker() = default;

template <typename Channel>
CFileDescriptor CFileWorker::OpenRunFile(Channel& channel, const std::string& name, int flags) {
    CFileDescriptor file(::open(name.c_str(), flags | O_CLOEXEC, 0666));
    if (!file.IsOpen()) {
        const int error = errno;
        run.RaiseError();
        channel.SetErrorText(FileErrorText(error, name));
        run.StopWorker();
    }
    return file;
}

void CFileWorker::WriteLoop() {
    CCaptureChannel& channel = capture;
    const std::string& name = run.RecordFileName();
    // Created for writing only, replacing any file of that name.
    CFileDescriptor file = OpenRunFile(channel, name, O_WRONLY | O_CREAT | O_TRUNC);
    if (file.IsOpen()) {
        run.FileReady();
    }
    bytesWritten = 0;
    run.SetFileWorkerRunning(true);
    std::array<std::uint8_t, kEncodedBlockBytes> frames{};
    bool writeFailed = false;
    const auto writePending = [&] {
        while (!writeFailed) {
            const int bytes = channel.TakeEncoded(frames);
            if (bytes == 0) {
                break;
            }
            writeFailed = !WriteBlock(file, frames.data(), bytes);
        }
    };
    if (!run.WorkerStopRequested()) {
        do {
            writePending();
            // The polling interval; a stop request cuts it short.
        } while (!run.WorkerStopRequested(kEncoderPollInterval));
    }
    // Stop is asked for only after the capture loop has ended, so the ring now holds the last blocks
    // of the recording, even of one stopped before this loop took its first look: they go into the
    // file too.
    if (file.IsOpen()) {
        writePending();
        // On disk before the run is reported ended: the window may offer it for saving, or the
        // machine may go down, the moment it is told.
        if (!writeFailed && ::fsync(file.Get()) != 0 && errno != EINVAL) {
            channel.SetErrorText(FileErrorText(errno, name));
        }
    }
    if (file.IsOpen() && !file.Close()) {
        const int error = errno;
        channel.SetErrorText(FileErrorText(error, name));
    }
    run.WorkerDone();
    run.SetFileWorkerRunning(false);
}

bool CFileWorker::WriteBlock(CFileDescriptor& file, const std::uint8_t* bytes, int count) {
    if (file.WriteFully(bytes, static_cast<std::size_t>(count))) {
        bytesWritten += count;
        return true;
    }
    const int error = errno;
    // Keep the file a sequence of whole frames: the stray bytes of a torn block are no speech.
    if (::ftruncate(file.Get(), bytesWritten) != 0) {
        // The whole frames before it remain readable all the same.
    }
    capture.SetErrorText(FileErrorText(error, run.RecordFileName()));
    run.StopWorker();
    return false;
}

void CFileWorker::ReadLoop() {
    CPlaybackChannel& channel = playback;
    const std::string& name = run.PlayFileName();
    framePos.store(0, std::memory_order_relaxed);
    CFileDescriptor file = OpenRunFile(channel, name, O_RDONLY);
    std::int64_t size = 0;
    if (file.IsOpen()) {
        run.SignalPlayRoom();
        struct stat info {};
        if (::fstat(file.Get(), &info) == 0 && S_ISREG(info.st_mode)) {
            size = info.st_size;
        }
    }
    fileSize.store(size, std::memory_order_release);
    channel.SetTotalFrames(static_cast<int>(size / kPackedFrameBytes));
    run.ShowDuration(size);

    const int startFrame = StartFrame(run.StartPercent(), size);
    framePos.store(startFrame, std::memory_order_relaxed);
    seekOffset.store(static_cast<std::int64_t>(startFrame) * kPackedFrameBytes, std::memory_order_relaxed);
    if (file.IsOpen() &&
        ::lseek(file.Get(), static_cast<off_t>(startFrame) * kPackedFrameBytes, SEEK_SET) < 0) {
        channel.SetErrorText(FileErrorText(errno, name));
        run.StopWorker();
    }
    run.SetFileWorkerRunning(true);
    run.OpenReaderGate();

    if (!run.WorkerStopRequested()) {
        do {
            run.PassReaderGate();
            if (run.ReaderAborted()) {
                // Stop opens the gate of a held reader only to end it.
                run.StopWorker();
                break;
            }
            const std::uint32_t requested = seekRequests.load(std::memory_order_acquire);
            const bool seekApplied = requested != seeksApplied;
            if (seekApplied && !ApplySeek(file)) {
                break;
            }
            const int bytesRead = ReadChunk(file);
            if (bytesRead < 0) {
                break;
            }
            const int reached = framePos.fetch_add(bytesRead / kPackedFrameBytes, std::memory_order_relaxed) +
                                bytesRead / kPackedFrameBytes;
            const bool endOfData = bytesRead < kReadChunkBytes;
            if (!HandOver(bytesRead, reached, endOfData, seekApplied, requested)) {
                break;
            }
            if (seekApplied) {
                seeksApplied = requested;
            }
            if (endOfData && !AwaitLateSeek()) {
                run.StopWorker();
            }
        } while (!run.WorkerStopRequested());
    }
    (void)file.Close(); // read only: nothing can be lost
    // Tell the playback side first, then whoever waits for this thread.
    channel.EndFeed();
    run.WorkerDone();
    run.SetFileWorkerRunning(false);
}

bool CFileWorker::ApplySeek(CFileDescriptor& file) {
    const std::int64_t offset = seekOffset.load(std::memory_order_relaxed);
    if (::lseek(file.Get(), static_cast<off_t>(offset), SEEK_SET) < 0) {
        playback.SetErrorText(FileErrorText(errno, run.PlayFileName()));
        run.StopWorker();
        return false;
    }
    // The position follows the file pointer, whatever this reader counted meanwhile.
    framePos.store(static_cast<std::int32_t>(offset / kPackedFrameBytes), std::memory_order_relaxed);
    playback.ResetRing();
    return true;
}

int CFileWorker::ReadChunk(CFileDescriptor& file) {
    const ssize_t got = file.ReadFully(chunk.data(), chunk.size());
    if (got < 0) {
        playback.SetErrorText(FileErrorText(errno, run.PlayFileName()));
        run.StopWorker();
        return -1;
    }
    return static_cast<int>(got);
}

bool CFileWorker::HandOver(int bytesRead, int reached, bool endOfData, bool seekApplied,
                           std::uint32_t requested) {
    for (;;) {
        run.AwaitPlayRoom();
        if (run.ReaderAborted()) {
            run.StopWorker();
            return false;
        }
        // Blocks read while the slider is held or a seek is under way do not move the slider.
        const bool unplaced = holding.load(std::memory_order_acquire) || seekApplied ||
                              seekRequests.load(std::memory_order_acquire) != requested;
        if (playback.DecodePut(
                std::span<const std::uint8_t>(chunk.data(), static_cast<std::size_t>(bytesRead)),
                unplaced ? -1 : reached, bytesRead, endOfData)) {
            return true;
        }
    }
}

bool CFileWorker::AwaitLateSeek() {
    // The end of the file has been handed over, but its last blocks are still to be heard: a seek
    // made meanwhile must still move playback. So the reader stays until the run ends (it is then
    // aborted) or a seek arrives. The gate is closed here and opened by Seek, Hold(false) and Stop;
    // looking after closing it misses none of them.
    for (;;) {
        run.CloseReaderGate();
        if (run.ReaderAborted()) {
            return false;
        }
        if (seekRequests.load(std::memory_order_acquire) != seeksApplied &&
            !holding.load(std::memory_order_acquire)) {
            run.OpenReaderGate();
            return true;
        }
        run.PassReaderGate();
    }
}

void CFileWorker::Seek(int positionPercent) {
    const int frame = SeekFrame(positionPercent, fileSize.load(std::memory_order_acquire));
    framePos.store(frame, std::memory_order_relaxed);
    seekOffset.store(static_cast<std::int64_t>(frame) * kPackedFrameBytes, std::memory_order_relaxed);
    // Release: the offset is in place before the reader sees the request.
    seekRequests.fetch_add(1, std::memory_order_release);
    // Wakes a reader that has handed over the end of the file and waits for a late seek; a held
    // reader stays gated until the slider is let go.
    if (!holding.load(std::memory_order_acquire)) {
        run.OpenReaderGate();
    }
}

void CFileWorker::Hold(bool hold) {
    playback.ResetRing();
    holding.store(hold, std::memory_order_release);
    if (hold) {
        run.CloseReaderGate();
    } else {
        run.OpenReaderGate();
    }
}

} // namespace velmar
