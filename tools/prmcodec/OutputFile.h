// An output of the tool. A regular file appears under its name only when complete: it is written
// under a hidden temporary name beside its destination, flushed to disk and renamed into place by
// Commit; destroying an uncommitted file, or a stop signal, removes it, so a failed or interrupted
// run leaves nothing half-written. A symlink is followed and its target replaced the same way.
// Standard output ("-"), devices and FIFOs are written directly: they cannot be renamed into place,
// and replacing them with a regular file would break whoever reads them.
// A file under a temporary name is written in whole blocks of kFileBlock bytes from its start: the
// page cache takes aligned blocks in large pieces, which costs a fifth less system time than the
// same bytes in odd pieces, and nothing of it counts before Commit anyway. What is written in place
// gets each Write at once, so that whoever reads it sees the data as it is made, and an interrupted
// run keeps what it had written.
#pragma once

#include "FrameFile.h"
#include "RemoveOnSignal.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace velmar {

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    [[nodiscard]] bool Create(const std::string& destination, std::string& error);
    // Sets aside disk room for a file of `bytes` in all, when the length is known beforehand: a disk
    // too full for it fails here, before any work, and the file lies in one piece. Commit gives
    // back whatever was not written. Outputs written in place, and file systems that cannot
    // reserve, go on without.
    [[nodiscard]] bool Reserve(std::uint64_t bytes, std::string& error);
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes, std::string& error);
    // Writes `bytes` at `offset` of a file written in place or under a temporary name, after
    // everything written before.
    [[nodiscard]] bool WriteAt(std::span<const std::uint8_t> bytes, std::int64_t offset, std::string& error);
    [[nodiscard]] bool Commit(std::string& error);

    // The open descriptor; ownership stays here.
    int Descriptor() const { return file.Get(); }
    // The destination as the user named it ("standard output" for "-"), for messages.
    const std::string& Destination() const { return shownName; }
    // True when the output is a regular file that can be rewritten at `StartOffset()` (a header
    // whose sizes are known only at the end).
    bool CanRewrite() const { return rewritable; }
    std::int64_t StartOffset() const { return startOffset; }

    static constexpr std::size_t kFileBlock = std::size_t{128} * 1024;

private:
    void Discard() noexcept;
    bool WriteNow(std::span<const std::uint8_t> bytes, std::string& error);
    bool Flush(std::string& error);

    CFileDescriptor file;
    std::string shownName;
    std::string finalPath; // the rename target; empty when written directly
    std::string tempPath;
    CRemoveOnSignal removeOnSignal;
    bool rewritable = false;
    bool reserved = false;
    std::int64_t startOffset = 0;
    std::vector<std::uint8_t> pending; // the part of a regular file's next block written so far
};

// The hidden temporary name for `destination` beside it, as a mkstemp pattern: ".NAME<tag>.XXXXXX",
// or ".prmcodec-output<tag>.XXXXXX" when that would pass the file-name limit.
std::string TemporaryPattern(const std::string& destination, const std::string& tag = "");

// `path` with every symlink of its last component followed; relative targets are taken from the
// link's folder. A dangling link gives the path it points to. False after too many levels.
bool FollowSymlinks(const std::string& path, std::string& target);

} // namespace velmar
