// prmcodec encode -o and decode -o: several files at once, on several threads, as a user meets them.
#include "support/RunProcess.h"
#include "support/TestData.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace velmar {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = VELMAR_PRMCODEC;

test::ProcessResult Prmcodec(const std::vector<std::string>& args) {
    return test::RunProcess(kTool, args);
}

fs::path Vector(const std::string& name) {
    return test::DataDir() / "vectors" / "encoder" / name;
}

using test::Listing;

void WriteWav(const fs::path& path, int rate, const std::vector<std::int16_t>& samples) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sound, nullptr);
    sf_writef_short(sound, samples.data(), static_cast<sf_count_t>(samples.size()));
    sf_close(sound);
}

constexpr const char* kStems[] = {"chirp", "impulses", "s09_en_f_flite_slt", "noise_white"};

// The inputs of one kind in `folder`, named STEM.EXTENSION; WAV inputs come at several rates, so
// that resamplers run side by side.
std::vector<std::string> MakeInputs(const fs::path& folder, const std::string& kind) {
    std::vector<std::string> inputs;
    int rate = 8000;
    for (const char* stem : kStems) {
        const fs::path input = folder / (std::string(stem) + "." + kind);
        if (kind == "prm" || kind == "pcm") {
            fs::copy_file(Vector(std::string(stem) + "." + kind), input);
        } else {
            WriteWav(input, rate, test::ReadPcm16(Vector(std::string(stem) + ".pcm")));
            rate += 8000;
        }
        inputs.push_back(input.string());
    }
    return inputs;
}

// A worker sharing state with another (codec, resampler, output buffer, progress) or an output
// written under the wrong name would make the batch differ from separate runs.
TEST(PrmcodecBatch, SeveralFilesInOneCallGiveTheSameBytesAsOneCallPerFile) {
    const struct {
        std::string command;
        std::vector<std::string> options;
        std::string inputKind;
        std::string outputExtension;
    } cases[] = {
        {"decode", {}, "prm", ".wav"},        {"decode", {"--enhance"}, "prm", ".wav"},
        {"decode", {"--raw"}, "prm", ".raw"}, {"encode", {"--raw"}, "pcm", ".prm"},
        {"encode", {}, "wav", ".prm"},        {"encode", {"--effort", "1"}, "wav", ".prm"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command + " " + c.inputKind + " " + (c.options.empty() ? "" : c.options[0]));
        test::CTempDir dir;
        fs::create_directory(dir.Path() / "in");
        const std::vector<std::string> inputs = MakeInputs(dir.Path() / "in", c.inputKind);
        const fs::path out = dir.Path() / "out" / "nested"; // made by the tool

        std::vector<std::string> batch = {c.command, "-j", "3", "-o", out.string()};
        batch.insert(batch.end(), c.options.begin(), c.options.end());
        batch.insert(batch.end(), inputs.begin(), inputs.end());
        const test::ProcessResult result = Prmcodec(batch);
        ASSERT_EQ(result.exitCode, 0) << result.err;

        std::vector<std::string> expectedNames;
        for (const std::string& input : inputs) {
            const std::string name = fs::path(input).stem().string() + c.outputExtension;
            expectedNames.push_back(name);
            const fs::path single = dir.Path() / ("single" + c.outputExtension);
            std::vector<std::string> args = {c.command};
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {input, single.string()});
            ASSERT_EQ(Prmcodec(args).exitCode, 0);
            EXPECT_EQ(test::ReadBytes(out / name), test::ReadBytes(single)) << name;
        }
        std::sort(expectedNames.begin(), expectedNames.end());
        EXPECT_EQ(Listing(out), expectedNames); // no temporaries left
    }
}

// One bad file must neither stop the others nor be reported as success, and must be named.
TEST(PrmcodecBatch, AFailingFileIsNamedTheOthersAreWrittenAndTheExitSaysSo) {
    test::CTempDir dir;
    const fs::path good1 = dir.Path() / "good1.prm";
    const fs::path good2 = dir.Path() / "good2.prm";
    const fs::path empty = dir.Path() / "empty.prm";
    const fs::path missing = dir.Path() / "missing.prm";
    fs::copy_file(Vector("chirp.prm"), good1);
    fs::copy_file(Vector("impulses.prm"), good2);
    test::WriteBytes(empty, {});
    const fs::path out = dir.Path() / "out";
    for (const char* jobs : {"1", "4"}) {
        SCOPED_TRACE(jobs);
        fs::remove_all(out);
        const test::ProcessResult result = Prmcodec({"decode", "-j", jobs, "-o", out.string(), good1.string(),
                                                     missing.string(), empty.string(), good2.string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(missing.string()), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(empty.string()), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("2 of 4 files failed"), std::string::npos) << result.err;
        EXPECT_EQ(Listing(out), (std::vector<std::string>{"good1.wav", "good2.wav"}));
    }
}

TEST(PrmcodecBatch, AnOutputFolderThatIsAFileFails) {
    test::CTempDir dir;
    const fs::path input = dir.Path() / "a.prm";
    fs::copy_file(Vector("chirp.prm"), input);
    const fs::path notAFolder = dir.Path() / "file";
    test::WriteBytes(notAFolder, {1, 2, 3});
    const test::ProcessResult result = Prmcodec({"decode", "-o", notAFolder.string(), input.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(notAFolder.string()), std::string::npos) << result.err;
    EXPECT_EQ(test::ReadBytes(notAFolder), (std::vector<std::uint8_t>{1, 2, 3}));
}

// Misuse is refused before anything is read or made: the output folder does not appear.
TEST(PrmcodecBatch, UsageErrorsWriteNothing) {
    test::CTempDir dir;
    const std::string out = (dir.Path() / "out").string();
    const std::string a = (dir.Path() / "x" / "a.prm").string();
    const std::string sameName = (dir.Path() / "y" / "a.prm").string();
    for (const std::vector<std::string>& args : {std::vector<std::string>{"decode", "-o"},
                                                 {"decode", "-o", out},
                                                 {"decode", "-o", out, a, "-"},
                                                 {"encode", "-o", "-", a},
                                                 {"decode", "-o", out, a, sameName},
                                                 {"info", "-o", out, a},
                                                 {"transcode", "-o", out, a},
                                                 {"decode", "-j", "2", a, "b.wav"},
                                                 {"decode", "-o", out, "-j", "0", a},
                                                 {"decode", "-o", out, "-j", "65", a},
                                                 {"encode", "-o", out, "-j", a}}) {
        const test::ProcessResult result = Prmcodec(args);
        EXPECT_EQ(result.exitCode, 2) << args.size();
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
        EXPECT_FALSE(fs::exists(out));
    }
    const test::ProcessResult help = Prmcodec({"--help"});
    EXPECT_NE(help.out.find("encode -o DIR IN..."), std::string::npos);
    EXPECT_NE(help.out.find("decode -o DIR IN.prm..."), std::string::npos);
    EXPECT_NE(help.out.find("-j N"), std::string::npos);
}

// A batch whose inputs are FIFOs this test holds open: endless inputs, converted side by side.
class CEndlessBatch {
public:
    CEndlessBatch(const fs::path& folder, int inputs) {
        std::vector<std::string> args = {kTool.string(),         "decode", "-j",
                                         std::to_string(inputs), "-o",     (folder / "out").string()};
        for (int i = 0; i < inputs; ++i) {
            const fs::path fifo = folder / ("in" + std::to_string(i) + ".prm");
            if (::mkfifo(fifo.c_str(), 0600) != 0) {
                throw std::runtime_error("mkfifo");
            }
            args.push_back(fifo.string());
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        const int spawned = posix_spawn(&pid, kTool.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            throw std::runtime_error("cannot start the tool");
        }
        for (std::size_t i = 6; i < args.size(); ++i) {
            writeEnds.push_back(::open(args[i].c_str(), O_WRONLY | O_CLOEXEC)); // waits for the tool
        }
    }
    ~CEndlessBatch() {
        for (const int fd : writeEnds) {
            ::close(fd);
        }
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    CEndlessBatch(const CEndlessBatch&) = delete;
    CEndlessBatch& operator=(const CEndlessBatch&) = delete;

    // Writes `bytes` whole into every input. A pipe holds far less, so each write returns only once
    // the tool reads that input: its output is created by then.
    bool Feed(const std::vector<std::uint8_t>& bytes) {
        for (const int fd : writeEnds) {
            if (!test::WriteWhole(fd, bytes)) {
                return false;
            }
        }
        return true;
    }
    int StopWith(int signalNumber) { return test::StopChild(pid, signalNumber); }

private:
    std::vector<int> writeEnds;
    pid_t pid = -1;
};

// Every output of the files in flight must go when Ctrl+C ends a batch, not only the first few.
TEST(PrmcodecBatch, AStopSignalRemovesTheTemporaryOutputOfEveryFileInFlight) {
    std::vector<std::uint8_t> frames;
    const std::vector<std::uint8_t> oneFile = test::ReadBytes(Vector("s09_en_f_flite_slt.prm"));
    while (frames.size() < (1u << 20)) {
        frames.insert(frames.end(), oneFile.begin(), oneFile.end());
    }
    test::CTempDir dir;
    constexpr int kInputs = 6;
    CEndlessBatch run(dir.Path(), kInputs);
    ASSERT_TRUE(run.Feed(frames));
    ASSERT_EQ(Listing(dir.Path() / "out").size(), static_cast<std::size_t>(kInputs))
        << "every hidden temporary output is there";
    EXPECT_EQ(run.StopWith(SIGINT), SIGINT);
    EXPECT_TRUE(Listing(dir.Path() / "out").empty());
}

} // namespace
} // namespace velmar
