// Runs a program of ours as a child process, as a user would, and collects its exit status and
// output.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmar::test {

struct ProcessResult {
    int exitCode = -1; // -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Runs `program` with `args`; `stdinPath`, when not empty, becomes its standard input.
ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& stdinPath = {});

// Writes `bytes` whole into `fd` (a pipe waits for its reader as it fills); false on an error.
bool WriteWhole(int fd, const std::vector<std::uint8_t>& bytes);

// Sends `signalNumber` to the child `pid`, waits for it and clears `pid`; the signal that ended the
// child, 0 when it exited.
int StopChild(pid_t& pid, int signalNumber);

} // namespace velmar::test
