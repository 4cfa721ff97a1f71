// The tool in pipelines and on outputs that are not plain files: standard input and output,
// pipes, FIFOs, symlinks, long names and stop signals.
#include "RandomBytesFile.h"
#include "codec/SpeechCodec.h"
#include "pipeline/FileDescriptor.h"
#include "support/RunProcess.h"
#include "support/TestData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace velmar {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = VELMAR_PRMCODEC;

fs::path Vector(const std::string& name) {
    return test::DataDir() / "vectors" / "encoder" / name;
}

// Runs `script` in a POSIX shell, where "$T" is the tool, "$TTY" is `terminal` and "$@" are
// `args`; what the script writes to standard output comes back in `out`.
test::ProcessResult Shell(const std::string& script, const fs::path& folder,
                          const std::vector<std::string>& args = {}, const std::string& terminal = "") {
    std::vector<std::string> all = {
        "-c",           "cd \"$1\" || exit 99\nT=\"$2\"\nTTY=\"$3\"\nshift 3\n" + script,
        "sh",           folder.string(),
        kTool.string(), terminal};
    all.insert(all.end(), args.begin(), args.end());
    return test::RunProcess("/bin/sh", all);
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

using test::Listing;

struct PipelineCase {
    std::string name;
    std::string script;   // its standard output is compared
    std::string expected; // vector file whose bytes standard output must hold, after `skip` bytes
    std::size_t skip;     // header bytes
    std::string message;  // expected on standard error
};

// Standard output carries the data and nothing else, whatever the input and output are.
TEST(PrmcodecPipelines, StandardOutputHoldsOnlyTheDataAndMessagesGoToStandardError) {
    test::CTempDir dir;
    fs::copy_file(Vector("s08_en_m_espeak_enus.prm"), dir.Path() / "speech.prm");
    fs::copy_file(Vector("s08_en_m_espeak_enus.decoded.pcm"), dir.Path() / "decoded.pcm");
    // The reference frames of the raw speech, and the same speech as an 8 kHz FLAC file.
    ASSERT_EQ(test::RunProcess(kTool, {"encode", "--raw", Vector("s08_en_m_espeak_enus.pcm").string(),
                                       (dir.Path() / "reference.prm").string()})
                  .exitCode,
              0);
    const std::vector<std::int16_t> speech = test::ReadPcm16(Vector("s08_en_m_espeak_enus.pcm"));
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
    SNDFILE* flac = sf_open((dir.Path() / "speech.flac").c_str(), SFM_WRITE, &info);
    ASSERT_NE(flac, nullptr);
    sf_write_short(flac, speech.data(), static_cast<sf_count_t>(speech.size()));
    sf_close(flac);
    fs::copy_file(Vector("s08_en_m_espeak_enus.pcm"), dir.Path() / "speech.pcm");
    ASSERT_EQ(test::RunProcess(kTool, {"decode", "--raw", (dir.Path() / "reference.prm").string(),
                                       (dir.Path() / "reference.pcm").string()})
                  .exitCode,
              0);

    const PipelineCase cases[] = {
        {"decode to a pipe", "\"$T\" decode speech.prm - | cat", "decoded.pcm", 44, "into standard output"},
        {"decode a pipe to a pipe", "cat speech.prm | \"$T\" decode - - | cat", "decoded.pcm", 44,
         "from standard input"},
        {"decode raw to a pipe", "\"$T\" decode --raw speech.prm - | cat", "decoded.pcm", 0, "Decoded"},
        {"decode /dev/stdin", "cat speech.prm | \"$T\" decode --raw-output /dev/stdin - | cat", "decoded.pcm",
         0, "Decoded"},
        // Their links name "pipe:[...]", no path: the name itself must be opened, not followed.
        {"decode to a pipe named /dev/stdout", "\"$T\" decode --raw speech.prm /dev/stdout | cat", "decoded.pcm",
         0, "into /dev/stdout"},
        {"encode to a pipe named /proc/self/fd/1", "\"$T\" encode --raw speech.pcm /proc/self/fd/1 | cat",
         "reference.prm", 0, "Encoded"},
        {"encode a piped FLAC", "cat speech.flac | \"$T\" encode - - | cat", "reference.prm", 0,
         "from standard input"},
        {"encode piped raw speech", "cat speech.pcm | \"$T\" encode --raw - - | cat", "reference.prm", 0,
         "Encoded"},
        {"decode into encode",
         "\"$T\" decode speech.prm - | \"$T\" encode - - | \"$T\" decode --raw - - | cat", "", 0, "Encoded"},
        {"transcode raw to raw", "\"$T\" transcode --plain --raw --raw-output speech.pcm - | cat",
         "reference.pcm", 0, "Transcoded"},
    };
    for (const PipelineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const test::ProcessResult result = Shell(c.script, dir.Path());
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        const std::vector<std::uint8_t> out = Bytes(result.out);
        if (c.expected.empty()) {
            // Encoding decoded speech again is not the identity; its length is, frame for frame.
            EXPECT_EQ(out.size(), test::ReadBytes(dir.Path() / "decoded.pcm").size());
            continue;
        }
        const std::vector<std::uint8_t> expected = test::ReadBytes(dir.Path() / c.expected);
        ASSERT_EQ(out.size(), c.skip + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin() + static_cast<long>(c.skip)));
        if (c.skip != 0) {
            EXPECT_EQ(std::string(out.begin(), out.begin() + 4), "RIFF");
        }
    }
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"decoded.pcm", "reference.pcm", "reference.prm",
                                                             "speech.flac", "speech.pcm", "speech.prm"}))
        << "no temporary files left";
}

// A length that is only known at the end of a pipe: a stream header for a pipe, the true sizes for
// a file, which can be rewritten.
TEST(PrmcodecPipelines, WavOfAStreamHasUnknownSizesOnAPipeAndTrueSizesInAFile) {
    test::CTempDir dir;
    fs::copy_file(Vector("s08_en_m_espeak_enus.prm"), dir.Path() / "speech.prm");
    const std::size_t dataBytes = 2 * test::ReadPcm16(Vector("s08_en_m_espeak_enus.decoded.pcm")).size();

    const test::ProcessResult piped = Shell("cat speech.prm | \"$T\" decode - - | cat", dir.Path());
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    const std::vector<std::uint8_t> stream = Bytes(piped.out);
    EXPECT_EQ(U32At(stream, 4), 0xFFFFFFFFu);
    EXPECT_EQ(U32At(stream, 40), 0xFFFFFFFFu);

    for (const std::string script :
         {"cat speech.prm | \"$T\" decode - - > out.wav", "cat speech.prm | \"$T\" decode - out.wav"}) {
        SCOPED_TRACE(script);
        ASSERT_EQ(Shell(script, dir.Path()).exitCode, 0);
        SF_INFO info{};
        SNDFILE* sound = sf_open((dir.Path() / "out.wav").c_str(), SFM_READ, &info);
        ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
        sf_close(sound);
        EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
        EXPECT_EQ(static_cast<std::size_t>(info.frames) * 2, dataBytes);
        fs::remove(dir.Path() / "out.wav");
    }
}

// Binary data written to a terminal only garbles it: refused before anything is read or written.
TEST(PrmcodecPipelines, RefusesToWriteDataToATerminal) {
    const CFileDescriptor master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!master.IsOpen() || ::grantpt(master.Get()) != 0 || ::unlockpt(master.Get()) != 0) {
        GTEST_SKIP() << "no pseudo-terminal here";
    }
    const std::string terminal = ::ptsname(master.Get());
    // Outputs small enough for the terminal's buffer, so that a tool that did write would not block.
    test::CTempDir dir;
    std::vector<std::uint8_t> frame = test::ReadBytes(Vector("s08_en_m_espeak_enus.prm"));
    frame.resize(kPackedFrameBytes);
    test::WriteBytes(dir.Path() / "one.prm", frame);
    test::WriteBytes(dir.Path() / "one.raw", std::vector<std::uint8_t>(2 * kFrameSamples, 0));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"decode", "one.prm", "-"}, {"encode", "--raw", "one.raw", "-"}}) {
        SCOPED_TRACE(args[0]);
        const test::ProcessResult result = Shell("exec \"$T\" \"$@\" > \"$TTY\"", dir.Path(), args, terminal);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("standard output is a terminal"), std::string::npos) << result.err;
    }
}

// The same frames, wherever they come from: a regular file, a pipe as "-" or /dev/stdin, a FIFO.
TEST(PrmcodecPipelines, InfoCountsTheFramesOfPipesAndFifosAsTheyCome) {
    test::CTempDir dir;
    std::vector<std::uint8_t> bytes = test::ReadBytes(Vector("s08_en_m_espeak_enus.prm"));
    const std::size_t frames = bytes.size() / kPackedFrameBytes;
    bytes.insert(bytes.end(), 5, 0x55);
    test::WriteBytes(dir.Path() / "speech.prm", bytes);
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    const std::string expected = "\"bytes\": " + std::to_string(bytes.size()) +
                                 ", \"frames\": " + std::to_string(frames) +
                                 ", \"duration_seconds\": " + std::to_string(frames * 3 / 100) + ".";
    for (const std::string script : {
             "\"$T\" info --json speech.prm",
             "cat speech.prm | \"$T\" info --json -",
             "cat speech.prm | \"$T\" info --json /dev/stdin",
             "cat speech.prm > fifo & \"$T\" info --json fifo; wait",
         }) {
        SCOPED_TRACE(script);
        const test::ProcessResult result = Shell(script, dir.Path());
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_NE(result.out.find(expected), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("\"incomplete_last_frame_bytes\": 5,"), std::string::npos) << result.out;
    }
}

TEST(PrmcodecPipelines, AnEmptyOrFrameLessPipeFailsAndWritesNothing) {
    test::CTempDir dir;
    for (const std::string script : {": | \"$T\" info -", ": | \"$T\" decode - out.wav",
                                     ": | \"$T\" decode - -", "printf 12345 | \"$T\" decode - -"}) {
        SCOPED_TRACE(script);
        const test::ProcessResult result = Shell(script, dir.Path());
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_TRUE(result.err.find("is empty") != std::string::npos ||
                    result.err.find("holds no whole frame") != std::string::npos)
            << result.err;
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(Listing(dir.Path()).empty());
    }
}

// Outputs that are not regular files are written, never replaced; a symlink keeps pointing where
// it did and its target gets the data.
TEST(PrmcodecOutputs, SymlinksAndFifosAreWrittenThroughAndStayWhatTheyAre) {
    test::CTempDir dir;
    fs::copy_file(Vector("s08_en_m_espeak_enus.prm"), dir.Path() / "speech.prm");
    fs::create_directory(dir.Path() / "sub");
    fs::create_symlink("sub/target.wav", dir.Path() / "link.wav");
    fs::create_symlink("link.wav", dir.Path() / "chain.wav");
    fs::create_symlink("sub/missing.wav", dir.Path() / "dangling.wav");
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0600), 0);
    const std::size_t wavBytes = 44 + 2 * test::ReadPcm16(Vector("s08_en_m_espeak_enus.decoded.pcm")).size();

    const struct {
        std::string script;
        fs::path dataAt;
    } cases[] = {
        {"\"$T\" decode speech.prm link.wav", dir.Path() / "sub" / "target.wav"},
        {"\"$T\" decode speech.prm chain.wav", dir.Path() / "sub" / "target.wav"},
        {"\"$T\" decode speech.prm dangling.wav", dir.Path() / "sub" / "missing.wav"},
        {"cat fifo > sub/from-fifo.wav & \"$T\" decode speech.prm fifo; wait",
         dir.Path() / "sub" / "from-fifo.wav"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        const test::ProcessResult result = Shell(c.script, dir.Path());
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(fs::file_size(c.dataAt), wavBytes);
        EXPECT_TRUE(fs::is_symlink(dir.Path() / "link.wav"));
        EXPECT_TRUE(fs::is_symlink(dir.Path() / "chain.wav"));
        EXPECT_TRUE(fs::is_symlink(dir.Path() / "dangling.wav"));
        EXPECT_TRUE(fs::is_fifo(fs::symlink_status(dir.Path() / "fifo")));
        EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"chain.wav", "dangling.wav", "fifo",
                                                                 "link.wav", "speech.prm", "sub"}));
        fs::remove(c.dataAt);
    }
}

// 75 hours of frames decode to more than 4 GiB: 32-bit sizes would wrap (a header claiming seconds).
// The input is sparse and only the header is read, so the test stays small and quick.
TEST(PrmcodecOutputs, DecodeOfMoreThan4GiBWritesRf64WithTheTrueSizes) {
    test::CTempDir dir;
    constexpr std::uint64_t kFrames = 75ull * 3600 * 1000 / 30;
    test::WriteBytes(dir.Path() / "long.prm", {});
    fs::resize_file(dir.Path() / "long.prm", kFrames * kPackedFrameBytes);
    // head ends the decoding early (SIGPIPE) once it has the header.
    const test::ProcessResult result = Shell("\"$T\" decode long.prm - | head -c 80", dir.Path());
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::uint8_t> header = Bytes(result.out);
    ASSERT_EQ(header.size(), 80u);
    EXPECT_EQ(std::string(header.begin(), header.begin() + 4), "RF64");
    EXPECT_EQ(std::string(header.begin() + 12, header.begin() + 16), "ds64");
    const std::uint64_t dataBytes = kFrames * kFrameSamples * 2;
    EXPECT_EQ(U32At(header, 28) | static_cast<std::uint64_t>(U32At(header, 32)) << 32, dataBytes);
    EXPECT_EQ(U32At(header, 20) | static_cast<std::uint64_t>(U32At(header, 24)) << 32, dataBytes + 72);
    EXPECT_EQ(std::string(header.begin() + 72, header.begin() + 76), "data");
    EXPECT_EQ(U32At(header, 76), 0xFFFFFFFFu);
}

// The hidden temporary name adds 8 bytes to the output's name; names near the limit still work.
TEST(PrmcodecOutputs, NamesUpToTheFileNameLimitCanBeWritten) {
    test::CTempDir dir;
    for (const std::size_t length : {200u, 247u, 248u, 251u, 255u}) {
        SCOPED_TRACE(length);
        const std::string name = std::string(length - 4, 'n') + ".prm";
        const fs::path out = dir.Path() / name;
        const test::ProcessResult result = test::RunProcess(
            kTool, {"encode", "--raw", Vector("s08_en_m_espeak_enus.pcm").string(), out.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{name});
        fs::remove(out);
    }
}

// The tool started on the read end of a pipe this test keeps open: an endless input.
class CEndlessRun {
public:
    explicit CEndlessRun(const std::vector<std::string>& args) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe");
        }
        writeEnd = fds[1];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<std::string> all = {kTool.string()};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[0]);
        if (spawned != 0) {
            throw std::runtime_error("cannot start the tool");
        }
    }
    ~CEndlessRun() {
        if (writeEnd >= 0) {
            ::close(writeEnd);
        }
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    CEndlessRun(const CEndlessRun&) = delete;
    CEndlessRun& operator=(const CEndlessRun&) = delete;

    // Writes `bytes` whole. As a pipe holds far less, a large write returns only once the tool has
    // read most of it: the tool is then in its loop, its output created.
    bool Feed(const std::vector<std::uint8_t>& bytes) { return test::WriteWhole(writeEnd, bytes); }
    // Sends `signalNumber` and returns the signal that ended the tool (0 when it exited).
    int StopWith(int signalNumber) { return test::StopChild(pid, signalNumber); }

private:
    int writeEnd = -1;
    pid_t pid = -1;
};

TEST(PrmcodecOutputs, StopSignalsRemoveTheTemporaryOutputOfAnEndlessInput) {
    std::vector<std::uint8_t> frames;
    const std::vector<std::uint8_t> oneFile = test::ReadBytes(Vector("s08_en_m_espeak_enus.prm"));
    while (frames.size() < (1u << 20)) {
        frames.insert(frames.end(), oneFile.begin(), oneFile.end());
    }
    const std::vector<std::uint8_t> speech(1u << 20, 0);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        for (const bool decode : {true, false}) {
            SCOPED_TRACE(std::string(strsignal(signalNumber)) + (decode ? " decode" : " encode"));
            test::CTempDir dir;
            const fs::path out = dir.Path() / (decode ? "out.wav" : "out.prm");
            CEndlessRun run(decode ? std::vector<std::string>{"decode", "-", out.string()}
                                   : std::vector<std::string>{"encode", "--raw", "-", out.string()});
            ASSERT_TRUE(run.Feed(decode ? frames : speech));
            ASSERT_EQ(Listing(dir.Path()).size(), 1u) << "the hidden temporary output is there";
            EXPECT_EQ(run.StopWith(signalNumber), signalNumber) << "ends by the signal, as a shell expects";
            EXPECT_TRUE(Listing(dir.Path()).empty());
        }
    }
}

// Only a file that opens but is no audio gets the hint about headerless input.
TEST(PrmcodecInputs, TheRawHintFollowsOnlyFormatErrors) {
    test::CTempDir dir;
    test::WriteBytes(dir.Path() / "notes.txt", Bytes("hello\n"));
    const fs::path socketPath = dir.Path() / "socket";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    test::WriteBytes(dir.Path() / "locked.wav", Bytes("RIFF"));
    fs::permissions(dir.Path() / "locked.wav", fs::perms::none);
    const bool permissionsHold = ::access((dir.Path() / "locked.wav").c_str(), R_OK) != 0; // not as root
    const struct {
        fs::path input;
        std::string expected;
        bool hint;
        bool run;
    } cases[] = {
        {dir.Path() / "notes.txt", "as audio", true, true},
        {socketPath, "No such device or address", false, true},
        {dir.Path() / "locked.wav", "Permission denied", false, permissionsHold},
        {dir.Path() / "missing.wav", "No such file or directory", false, true},
    };
    for (const auto& c : cases) {
        if (!c.run) {
            continue;
        }
        SCOPED_TRACE(c.input);
        const test::ProcessResult result =
            test::RunProcess(kTool, {"encode", c.input.string(), (dir.Path() / "out.prm").string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("--raw") != std::string::npos, c.hint) << result.err;
    }
    ::close(listener);
}

TEST(PrmcodecInfo, JsonHoldsEveryFactOfTheTextReport) {
    test::CTempDir dir;
    const test::RandomBytesFile file = test::RandomBytesWithIncompleteTail();
    const fs::path prm = dir.Path() / "say \"hi\".prm";
    test::WriteBytes(prm, file.bytes);
    const test::ProcessResult result = test::RunProcess(kTool, {"info", "--json", prm.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "{\"file\": \"" + (dir.Path() / "say \\\"hi\\\".prm").string() +
                              "\", \"bytes\": 5405, \"frames\": 300, \"duration_seconds\": 9.00, "
                              "\"incomplete_last_frame_bytes\": 5, \"invalid_frames\": " +
                              std::to_string(file.invalidFrames) + "}\n");
    // Random bytes are plainly no recording: one warning on standard error, nothing more.
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_NE(result.err.find("it is not a recording"), std::string::npos) << result.err;
}

TEST(PrmcodecVersion, PrintsTheProjectVersion) {
    const test::ProcessResult result = test::RunProcess(kTool, {"--version"});
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.out.rfind(std::string("prmcodec ") + VELMAR_VERSION, 0), 0u) << result.out;
}

} // namespace
} // namespace velmar
