// An output file that appears under its name only when complete: written under a temporary name
// beside its destination, flushed to disk and renamed into place by Commit. Destroying an
// uncommitted file removes it, so a failed or interrupted run leaves nothing half-written.
#pragma once

#include "FrameFile.h"

#include <cstdint>
#include <span>
#include <string>

namespace velmar {

class COutputFile {
public:
    COutputFile() = default;
    ~COutputFile();
    COutputFile(const COutputFile&) = delete;
    COutputFile& operator=(const COutputFile&) = delete;

    [[nodiscard]] bool Create(const std::string& destination, std::string& error);
    [[nodiscard]] bool Write(std::span<const std::uint8_t> bytes, std::string& error);
    [[nodiscard]] bool Commit(std::string& error);

    // The open descriptor, for libraries that write through it themselves; ownership stays here.
    int Descriptor() const { return file.Get(); }
    const std::string& Destination() const { return finalPath; }

private:
    void Discard() noexcept;

    CFileDescriptor file;
    std::string finalPath;
    std::string tempPath;
};

} // namespace velmar
