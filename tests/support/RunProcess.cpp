#include "support/RunProcess.h"

#include "support/TestData.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

namespace velmar::test {

ProcessResult RunProcess(const std::filesystem::path& program, const std::vector<std::string>& args,
                         const std::filesystem::path& stdinPath) {
    CTempDir capture;
    const std::string outPath = (capture.Path() / "out").string();
    const std::string errPath = (capture.Path() / "err").string();
    const std::string inPath = stdinPath.empty() ? std::string("/dev/null") : stdinPath.string();

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, inPath.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

    std::vector<std::string> argv0 = {program.string()};
    argv0.insert(argv0.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argv0) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + program.string());
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    ProcessResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const auto out = ReadBytes(outPath);
    const auto err = ReadBytes(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

bool WriteWhole(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int StopChild(pid_t& pid, int signalNumber) {
    ::kill(pid, signalNumber);
    int status = 0;
    ::waitpid(pid, &status, 0);
    pid = -1;
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

} // namespace velmar::test
