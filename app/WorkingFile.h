// The file a window records into: "prm.tmp" in the folder the program started in, or "prm-2.tmp",
// "prm-3.tmp", ... when another window already holds that one. The window holds its file under an
// advisory lock for its whole life, so two windows started in one folder never record into, save
// from or delete each other's file. A file that no window holds is left from a run that ended
// without its teardown (a crash, a killed session): when it holds a whole frame it is a recording
// the user has not saved yet, and the window that takes the file offers it before emptying it.
//
// Not thread-safe: used by the window's thread only. The pipeline writes the file by its path.
#pragma once

#include "pipeline/FileDescriptor.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace velmar {

class CWorkingFile {
public:
    // Takes and locks the first free working file in `folder`. When none can be held (the folder
    // cannot be written), Path() names "prm.tmp" all the same and IsHeld() is false.
    explicit CWorkingFile(const std::filesystem::path& folder);
    // Deletes the file, then releases it.
    ~CWorkingFile();
    CWorkingFile(const CWorkingFile&) = delete;
    CWorkingFile& operator=(const CWorkingFile&) = delete;

    const std::string& Path() const { return path; }
    bool IsHeld() const { return file.IsOpen(); }
    // Why no file could be held (an errno value), 0 when one is held.
    int HoldError() const { return holdError; }
    // Size of a recording left by an earlier run, found when the file was taken; 0 when there was
    // none (an empty or fragment-only leftover is emptied at once).
    std::int64_t LeftoverBytes() const { return leftoverBytes; }

    // True when the file holds at least one whole frame now.
    bool HasWholeFrame() const;
    // Makes sure the path still names the held file (someone may have deleted or replaced it), and
    // takes a free one again otherwise. False when no file can be held.
    bool Reclaim();
    // Discards what the file holds, keeping the file and its lock: after a save, or a leftover the
    // user did not want.
    void Empty();

private:
    // With `acceptLeftover` false, a free file that holds a recording is passed over.
    bool Take(bool acceptLeftover);

    std::filesystem::path folder;
    std::string path;
    CFileDescriptor file;
    int holdError = 0;
    std::int64_t leftoverBytes = 0;
};

} // namespace velmar
