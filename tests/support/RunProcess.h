// Runs a program of ours as a child process, as a user would, and collects its exit status and
// output.
#pragma once

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

} // namespace velmar::test
