// The file side of both directions. While recording, the encoder thread takes blocks from the capture
// channel, encodes them and appends the frames to the recording file (WriteLoop). While playing, the
// reader thread reads the ".prm" file in chunks of ten frames, has the playback channel decode each
// chunk, and applies the seeks and holds of the position slider (ReadLoop). A ".prm" file is nothing
// but 18-byte frames back to back; an incomplete last frame is ignored.
#pragma once

#include "pipeline/FileDescriptor.h"
#include "pipeline/PipelineConstants.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmar {

class CCaptureChannel;
class CPlaybackChannel;
class CRunContext;

// The system's text for `error` followed by the file's name, as a direction's error text.
std::string FileErrorText(int error, std::string_view fileName);

class CFileWorker {
public:
    // Created by the encoder or reader thread for one run; it writes into `capture`'s file or feeds
    // `playback` from its file.
    CFileWorker(CRunContext& run, CCaptureChannel& capture, CPlaybackChannel& playback);
    virtual ~CFileWorker();
    CFileWorker(const CFileWorker&) = delete;
    CFileWorker& operator=(const CFileWorker&) = delete;

    // Encoder thread: creates the recording file and appends every encoded block until asked to
    // stop; then writes what the capture ring still holds and closes the file.
    void WriteLoop();
    // Reader thread: plays the file from the start position to its end or until asked to stop.
    void ReadLoop();

    // Window's thread, through the pipeline, while the reader runs.
    void Seek(int positionPercent);
    void Hold(bool hold);

private:
    // Opens the run's file; a failure becomes the direction's error text and ends the loop.
    template <typename Channel>
    CFileDescriptor OpenRunFile(Channel& channel, const std::string& name, int flags);
    // Appends one block; on failure cuts the file back to its last whole block and stores the text.
    bool WriteBlock(CFileDescriptor& file, const std::uint8_t* bytes, int count);

    // The steps of one pass of the reader; each false ends the loop (the reason is stored).
    // Moves the file pointer to the latest seek and discards the blocks decoded before it.
    bool ApplySeek(CFileDescriptor& file);
    // Reads the next chunk; the bytes read (fewer than a chunk at the end), -1 on a read error.
    int ReadChunk(CFileDescriptor& file);
    // Decodes the chunk into the playback ring as soon as it has room; false when aborted.
    bool HandOver(int bytesRead, int reached, bool endOfData, bool seekApplied, std::uint32_t requested);
    // After the end of the file: waits for a seek (true) or the end of the run (false).
    bool AwaitLateSeek();

    CRunContext& run;
    CCaptureChannel& capture;
    CPlaybackChannel& playback;
    // Byte offset of the latest seek (frame x 18) and how many seeks have been asked for; the reader
    // applies the latest one at the start of its next pass. Written on the window's thread.
    std::atomic<std::int64_t> seekOffset{0};
    std::atomic<std::uint32_t> seekRequests{0};
    std::uint32_t seeksApplied = 0; // reader thread only
    // Size of the file being played; written once by the reader before Seek can use it.
    std::atomic<std::int64_t> fileSize{0};
    // Frame following the last one read; written by the reader and by Seek.
    std::atomic<std::int32_t> framePos{0};
    // The slider is held: the reader is gated and its blocks carry no position.
    std::atomic<bool> holding{false};
    std::array<std::uint8_t, kReadChunkBytes> chunk{}; // reader thread only
    // Bytes of the recording file known to be written; encoder thread only.
    std::int64_t bytesWritten = 0;
};

} // namespace velmar
