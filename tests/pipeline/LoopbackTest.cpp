// The pipeline on a real sound server: speech played through the PortAudio backend into a
// PulseAudio null sink is recorded back from that sink's monitor and must match what was played.
// CI starts such a server (.ci/run); where none is reachable these tests skip and say why. Also the
// command-line tool on the real devices, with and without a server.
#include "ReportLog.h"
#include "SpeechSamples.h"
#include "audio/PortAudioDevice.h"
#include "pipeline/Pipeline.h"
#include "support/RunProcess.h"
#include "support/TestData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

namespace velmar {
namespace {

using test::CReportLog;
using namespace std::chrono_literals;

// The sound libraries PortAudio loads are not built with the sanitizers: ThreadSanitizer cannot see
// their own synchronisation and mistakes it for races, and the plugins ALSA unloads at exit look like
// leaks. Their reports say nothing about our code.
constexpr const char* kSoundLibrarySuppressions = "race:libpulse\n"
                                                  "race:libpulsecommon\n"
                                                  "race:libasound\n"
                                                  "race:libportaudio\n"
                                                  "race:libjack\n";
constexpr const char* kSoundLibraryLeaks = "leak:libasound\n"
                                           "leak:libportaudio\n"
                                           "leak:libpulse\n"
                                           "leak:libjack\n";

} // namespace
} // namespace velmar

// Read by the sanitizer runtimes of this test program at start-up.
extern "C" const char* __tsan_default_suppressions() {
    return velmar::kSoundLibrarySuppressions;
}
extern "C" const char* __lsan_default_suppressions() {
    return velmar::kSoundLibraryLeaks;
}
// Leaks of a plugin ALSA has unloaded can be told apart only by the full stack of their allocation.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace velmar {
namespace {

// Runs prmcodec as a user would, with `settings` added to its environment and the sanitizers told
// about the sound libraries as above (settings that a build without them ignores).
test::ProcessResult RunTool(const test::CTempDir& dir, std::vector<std::string> settings,
                            const std::vector<std::string>& args) {
    const auto suppressions = dir.Path() / "sound-libraries.supp";
    std::ofstream(suppressions) << kSoundLibrarySuppressions;
    const char* tsan = std::getenv("TSAN_OPTIONS");
    const char* asan = std::getenv("ASAN_OPTIONS");
    settings.push_back("TSAN_OPTIONS=" + std::string(tsan != nullptr ? tsan : "") +
                       ":suppressions=" + suppressions.string());
    settings.push_back("ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0");
    settings.push_back(VELMAR_PRMCODEC);
    settings.insert(settings.end(), args.begin(), args.end());
    return test::RunProcess("/usr/bin/env", settings);
}

bool PulseServerReachable() {
    if (!std::filesystem::exists("/usr/bin/pactl")) {
        return false;
    }
    return test::RunProcess("/usr/bin/pactl", {"info"}).exitCode == 0;
}

// Skips the test where no server answers, except where one is required (CI sets
// VELMAR_REQUIRE_SOUND_SERVER after starting one with scripts/start-sound-server.sh).
#define NEED_SOUND_SERVER()                                                                                  \
    do {                                                                                                     \
        if (!PulseServerReachable()) {                                                                       \
            if (std::getenv("VELMAR_REQUIRE_SOUND_SERVER") != nullptr) {                                     \
                FAIL() << "no PulseAudio server is reachable (pactl info failed) though one is required";    \
            }                                                                                                \
            GTEST_SKIP() << "no PulseAudio server is reachable (pactl info failed); CI starts one";          \
        }                                                                                                    \
    } while (false)

bool MachineHasSoundCard() {
    std::ifstream cards("/proc/asound/cards");
    std::string first;
    return cards && std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

// Energy of consecutive 10 ms windows.
std::vector<double> Envelope(const std::vector<std::int16_t>& samples) {
    constexpr std::size_t kWindow = 80;
    std::vector<double> envelope;
    for (std::size_t at = 0; at + kWindow <= samples.size(); at += kWindow) {
        double energy = 0.0;
        for (std::size_t i = at; i < at + kWindow; ++i) {
            energy += static_cast<double>(samples[i]) * samples[i];
        }
        envelope.push_back(std::sqrt(energy / kWindow));
    }
    return envelope;
}

// Normalised correlation of `a` from `offset` with the whole of `b`.
template <typename T>
double Correlation(const std::vector<T>& a, std::size_t offset, const std::vector<T>& b) {
    double ab = 0.0;
    double aa = 0.0;
    double bb = 0.0;
    for (std::size_t i = 0; i < b.size(); ++i) {
        const double x = static_cast<double>(a[offset + i]);
        const double y = static_cast<double>(b[i]);
        ab += x * y;
        aa += x * x;
        bb += y * y;
    }
    return aa > 0.0 && bb > 0.0 ? ab / std::sqrt(aa * bb) : 0.0;
}

struct Match {
    std::size_t lag = 0;
    double correlation = -1.0;
};

// The best lag of `played` inside `recorded` among `lags`.
template <typename T>
Match BestLag(const std::vector<T>& recorded, const std::vector<T>& played, std::size_t first,
              std::size_t last) {
    Match best;
    for (std::size_t lag = first; lag <= last && lag + played.size() <= recorded.size(); ++lag) {
        const double correlation = Correlation(recorded, lag, played);
        if (correlation > best.correlation) {
            best = {lag, correlation};
        }
    }
    return best;
}

// The best normalised correlation of each voiced half second of `played` with `recorded`, searched
// from a little before to 300 ms after where it would lie if the previous one's offset held.
std::vector<double> SegmentCorrelations(const std::vector<std::int16_t>& recorded,
                                        const std::vector<std::int16_t>& played, std::size_t startOffset) {
    constexpr std::size_t kSegment = 4000;
    constexpr std::size_t kBefore = 400;
    constexpr std::size_t kAfter = 2400;
    const std::vector<double> envelope = Envelope(played);
    const double loudest = *std::max_element(envelope.begin(), envelope.end());
    std::vector<double> correlations;
    std::size_t offset = startOffset;
    for (std::size_t at = 0; at + kSegment <= played.size(); at += kSegment) {
        const std::vector<std::int16_t> segment(played.begin() + static_cast<std::ptrdiff_t>(at),
                                                played.begin() + static_cast<std::ptrdiff_t>(at + kSegment));
        const std::vector<double> segmentEnvelope = Envelope(segment);
        if (*std::max_element(segmentEnvelope.begin(), segmentEnvelope.end()) < 0.25 * loudest) {
            continue; // a pause: nothing to recognise
        }
        const std::size_t expected = at + offset;
        const Match best =
            BestLag(recorded, segment, expected > kBefore ? expected - kBefore : 0, expected + kAfter);
        if (best.correlation < 0.0) {
            break; // the recording ends before this segment
        }
        correlations.push_back(best.correlation);
        offset = best.lag >= at ? best.lag - at : 0;
    }
    return correlations;
}

TEST(Loopback, SpeechPlayedIntoTheSoundServerIsRecordedBack) {
    NEED_SOUND_SERVER();
    CPortAudioBackend backend;
    ASSERT_TRUE(backend.Initialised());
    test::CTempDir dir;
    const auto recordPath = dir.Path() / "loopback.prm";
    const std::vector<std::int16_t> played = test::DecodeBytes(test::ReadBytes(VELMAR_SAMPLE_PRM));
    ASSERT_GT(played.size(), 8000u);

    CReportLog recorderReports;
    CReportLog playerReports;
    CPipeline recorder(recorderReports, backend);
    CPipeline player(playerReports, backend);
    ASSERT_TRUE(recorder.StartRecording(recordPath.string()));
    // A few blocks in: the input device runs.
    ASSERT_TRUE(recorderReports.WaitElapsedReports(3, 30s)) << recorder.CaptureErrorText();
    ASSERT_TRUE(player.StartPlayback(VELMAR_SAMPLE_PRM, 0));
    ASSERT_TRUE(playerReports.WaitStopped(1, 60s));
    // A second more, for the server's latency.
    const std::size_t blocks = recorderReports.Elapsed().size();
    ASSERT_TRUE(recorderReports.WaitElapsedReports(blocks + 12, 30s));
    recorder.Stop();
    player.Stop();
    ASSERT_FALSE(player.HasError()) << player.PlaybackErrorText();
    ASSERT_FALSE(recorder.HasError()) << recorder.CaptureErrorText();

    const std::vector<std::int16_t> recorded = test::DecodeBytes(test::ReadBytes(recordPath));
    ASSERT_GT(recorded.size(), played.size());
    // Where the speech begins in the recording: the best match of the energy envelopes.
    const std::vector<double> recordedEnvelope = Envelope(recorded);
    const std::vector<double> playedEnvelope = Envelope(played);
    const Match coarse = BestLag(recordedEnvelope, playedEnvelope, 0, recordedEnvelope.size());
    // Then every voiced half second of the speech on its own, near where the one before was found:
    // a real server may drop or insert a little sound under load, which shifts what follows.
    const std::vector<double> correlations = SegmentCorrelations(recorded, played, coarse.lag * 80);
    ASSERT_GE(correlations.size(), 4u) << "too little speech to compare";
    std::vector<double> sorted = correlations;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    RecordProperty("latency_ms", static_cast<int>(coarse.lag * 10));
    RecordProperty("median_correlation_percent", static_cast<int>(median * 100));
    EXPECT_GT(median, 0.7) << "the recording does not match the speech played";
}

TEST(Loopback, TheToolRecordsAndPlaysThroughTheSoundServer) {
    NEED_SOUND_SERVER();
    test::CTempDir dir;
    test::CTempDir work;
    const auto out = dir.Path() / "tool.prm";
    const test::ProcessResult record = RunTool(work, {}, {"record", out.string(), "--seconds", "1"});
    ASSERT_EQ(record.exitCode, 0) << record.err;
    EXPECT_NE(record.err.find("Recorded 0:01."), std::string::npos) << record.err;
    EXPECT_EQ(record.out, "") << "standard output is for data only";
    const auto bytes = std::filesystem::file_size(out);
    EXPECT_EQ(bytes % 18, 0u);
    EXPECT_GE(bytes, 34u * 18u) << "a second is 34 frames or more";

    const test::ProcessResult play = RunTool(work, {}, {"play", out.string(), "--from", "50"});
    ASSERT_EQ(play.exitCode, 0) << play.err;
    EXPECT_NE(play.err.find("Played " + out.string()), std::string::npos) << play.err;
}

// Starts prmcodec in the background as RunTool does, its output going to `outLog` and `errLog`.
pid_t SpawnTool(const test::CTempDir& work, std::vector<std::string> settings,
                const std::vector<std::string>& args, const std::string& outLog, const std::string& errLog) {
    const auto suppressions = work.Path() / "sound-libraries.supp";
    std::ofstream(suppressions) << kSoundLibrarySuppressions;
    const char* tsan = std::getenv("TSAN_OPTIONS");
    const char* asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> command = {"/usr/bin/env"};
    command.insert(command.end(), settings.begin(), settings.end());
    command.push_back("TSAN_OPTIONS=" + std::string(tsan != nullptr ? tsan : "") +
                      ":suppressions=" + suppressions.string());
    command.push_back("ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0");
    command.push_back(VELMAR_PRMCODEC);
    command.insert(command.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : command) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int spawned = ::posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? child : -1;
}

// Waits (on the folder's changes, not the clock) until the tool's growing recording in `dir` holds
// `bytes`; the size reached, which is below `bytes` only on a time-out.
std::uintmax_t AwaitRecordingOf(const std::filesystem::path& dir, const std::string& outName,
                                std::uintmax_t bytes) {
    const auto recorded = [&] {
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (entry.path().filename().string().rfind("." + outName + ".recording", 0) == 0) {
                return std::filesystem::file_size(entry.path());
            }
        }
        return std::uintmax_t{0};
    };
    const int watch = ::inotify_init1(IN_CLOEXEC);
    if (watch < 0 || ::inotify_add_watch(watch, dir.c_str(), IN_MODIFY) < 0) {
        return 0;
    }
    std::uintmax_t size = recorded();
    while (size < bytes) {
        pollfd ready{watch, POLLIN, 0};
        if (::poll(&ready, 1, 30'000) <= 0) {
            break;
        }
        std::array<char, 4096> events{};
        (void)::read(watch, events.data(), events.size());
        size = recorded();
    }
    ::close(watch);
    return size;
}

// Waits at most `timeout` for `child` to end; its wait status, or -1 when it is still running (it is
// then killed, so that a hanging tool fails the test instead of hanging it).
int AwaitExit(pid_t child, std::chrono::milliseconds timeout) {
    const int handle = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    int status = 0;
    if (handle >= 0) {
        pollfd ended{handle, POLLIN, 0};
        const bool done = ::poll(&ended, 1, static_cast<int>(timeout.count())) > 0;
        ::close(handle);
        if (!done) {
            ::kill(child, SIGKILL);
            (void)::waitpid(child, &status, 0);
            return -1;
        }
    }
    return ::waitpid(child, &status, 0) == child ? status : -1;
}

std::string ReadText(const std::filesystem::path& path) {
    const auto bytes = test::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Ctrl+C in the middle of a recording: the tool stops the pipeline, and the file holds every
// block captured up to then.
TEST(Loopback, CtrlCEndsARecordingWithItsFileComplete) {
    NEED_SOUND_SERVER();
    test::CTempDir dir;
    test::CTempDir work;
    const auto out = dir.Path() / "interrupted.prm";
    const std::string errLog = (work.Path() / "err").string();
    const pid_t child = SpawnTool(work, {}, {"record", out.string()}, (work.Path() / "out").string(), errLog);
    ASSERT_GT(child, 0);
    constexpr std::uintmax_t kEnough = 5 * 54;
    const bool grown = AwaitRecordingOf(dir.Path(), "interrupted.prm", kEnough) >= kEnough;
    ::kill(child, SIGINT);
    const int status = AwaitExit(child, 60s);
    ASSERT_TRUE(grown) << "the recording did not grow";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    // The report goes to standard error with every other message.
    const std::string printed = ReadText(errLog);
    EXPECT_NE(printed.find("(stopped)"), std::string::npos) << printed;
    ASSERT_TRUE(std::filesystem::exists(out));
    EXPECT_GE(std::filesystem::file_size(out), kEnough);
    EXPECT_EQ(std::filesystem::file_size(out) % 18, 0u);
    EXPECT_EQ(
        std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
        1)
        << "the recording was moved into place, nothing else is left";
}

// A PulseAudio server of the test's own, with a null sink, reached through PULSE_SERVER: it can be
// killed or stopped without touching the machine's server. Killed with the object.
class CPrivateSoundServer {
public:
    CPrivateSoundServer() {
        const test::ProcessResult started = test::RunProcess(
            "/usr/bin/env", {"XDG_RUNTIME_DIR=" + folder.Path().string(), "pulseaudio", "--daemonize=yes",
                             "--system=false", "--exit-idle-time=-1", "--disallow-exit", "-n",
                             "--load=module-native-protocol-unix socket=" + Socket(),
                             "--load=module-null-sink sink_name=velmar_doomed",
                             "--log-target=file:" + (folder.Path() / "log").string()});
        if (started.exitCode == 0) {
            pid = static_cast<pid_t>(std::stol(ReadText(folder.Path() / "pulse" / "pid")));
        }
    }
    ~CPrivateSoundServer() {
        if (pid > 0) {
            ::kill(pid, SIGCONT);
            ::kill(pid, SIGKILL);
        }
    }
    CPrivateSoundServer(const CPrivateSoundServer&) = delete;
    CPrivateSoundServer& operator=(const CPrivateSoundServer&) = delete;

    bool Running() const { return pid > 0; }
    std::string Address() const { return "PULSE_SERVER=unix:" + Socket(); }
    void Signal(int signal) const { ::kill(pid, signal); }

private:
    std::string Socket() const { return (folder.Path() / "native").string(); }

    test::CTempDir folder;
    pid_t pid = -1;
};

struct ServerFault {
    const char* name;
    int signal;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const ServerFault& c, std::ostream* os) {
    *os << c.name;
}

class LoopbackServerFault : public ::testing::TestWithParam<ServerFault> {};

// The sound server dies (as when it crashes or is restarted) or stops answering (stopped, hung) in
// the middle of a recording: the recording used to go on as silence at many times real time, with
// megabytes of library messages and a report of success, or to hang for ever. Now the run ends by
// itself within seconds with the reason, the tool fails, and the file holds what was recorded
// before, nothing invented after.
TEST_P(LoopbackServerFault, EndsARecordingWithTheReasonAndKeepsWhatCameBefore) {
    NEED_SOUND_SERVER();
    const CPrivateSoundServer server;
    ASSERT_TRUE(server.Running());
    test::CTempDir dir;
    test::CTempDir work;
    const auto out = dir.Path() / "cut.prm";
    const std::string errLog = (work.Path() / "err").string();
    const auto began = std::chrono::steady_clock::now();
    const pid_t child = SpawnTool(work, {server.Address()}, {"record", out.string(), "--seconds", "60"},
                                  (work.Path() / "out").string(), errLog);
    ASSERT_GT(child, 0);
    constexpr std::uintmax_t kEnough = 5 * 54;
    const std::uintmax_t before = AwaitRecordingOf(dir.Path(), "cut.prm", kEnough);
    server.Signal(GetParam().signal);
    const int status = AwaitExit(child, 30s);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    ASSERT_GE(before, kEnough) << "the recording did not grow";
    ASSERT_NE(status, -1) << "the tool did not end after the server failed";
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = ReadText(errLog);
    EXPECT_NE(err.find("recording failed: "), std::string::npos) << err;
    EXPECT_NE(err.find("stopped delivering sound"), std::string::npos) << err;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    // Sanitizer builds let every line through: a report must never be swallowed.
    EXPECT_EQ(err.find("Expression '"), std::string::npos) << "library messages reached the terminal:\n"
                                                           << err;
    EXPECT_LT(err.size(), 1000u) << err;
#endif
    ASSERT_TRUE(std::filesystem::exists(out)) << "what was recorded before is kept";
    const auto bytes = std::filesystem::file_size(out);
    EXPECT_EQ(bytes % 18, 0u);
    EXPECT_GE(bytes, before);
    // No silence made up after the failure: no more than real time could have delivered.
    EXPECT_LE(static_cast<double>(bytes / 18) * 0.03, seconds + 0.5)
        << bytes << " bytes in " << seconds << " s";
}

INSTANTIATE_TEST_SUITE_P(KilledOrStopped, LoopbackServerFault,
                         ::testing::Values(ServerFault{"Killed", SIGKILL}, ServerFault{"Stopped", SIGSTOP}),
                         [](const ::testing::TestParamInfo<ServerFault>& param) {
                             return std::string(param.param.name);
                         });

TEST(Loopback, WithoutASoundDeviceTheToolSaysSoAndFails) {
    if (MachineHasSoundCard()) {
        GTEST_SKIP() << "this machine has a sound card; the case needs a machine without one";
    }
    test::CTempDir dir;
    test::CTempDir work;
    const auto out = dir.Path() / "none.prm";
    // A server address that leads nowhere: with no card either, there is no device at all.
    const std::string noServer = "PULSE_SERVER=unix:" + (work.Path() / "no-server").string();
    for (const std::vector<std::string>& command : {std::vector<std::string>{"record", out.string()},
                                                    std::vector<std::string>{"play", VELMAR_SAMPLE_PRM}}) {
        const test::ProcessResult result = RunTool(work, {noServer}, command);
        EXPECT_EQ(result.exitCode, 1) << command[0];
        EXPECT_NE(result.err.find(" Sound driver is not installed."), std::string::npos) << result.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "a failed recording leaves no file";
}

} // namespace
} // namespace velmar
