// The command-line tool as a user meets it: outputs, messages, exit status, and no partial files.
#include "RandomBytesFile.h"
#include "codec/SpeechCodec.h"
#include "support/RunProcess.h"
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>

namespace velmar {
namespace {

namespace fs = std::filesystem;

const fs::path kTool = VELMAR_PRMCODEC;

fs::path SpeechInputPcmPath() {
    return test::DataDir() / "vectors" / "encoder" / "s08_en_m_espeak_enus.pcm";
}

test::ProcessResult Prmcodec(const std::vector<std::string>& args) {
    return test::RunProcess(kTool, args);
}

fs::path SpeechVector() {
    return test::DataDir() / "vectors" / "encoder" / "s09_en_f_flite_slt.prm";
}

std::vector<std::int16_t> ReadWav(const fs::path& path, SF_INFO& info) {
    SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
    if (sound == nullptr) {
        return {};
    }
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    sf_read_short(sound, samples.data(), info.frames);
    sf_close(sound);
    return samples;
}

using test::Listing;

TEST(Prmcodec, DecodeWritesTheDecodedSpeechAsAnEightKilohertzWav) {
    test::CTempDir dir;
    const fs::path wav = dir.Path() / "speech.wav";
    const test::ProcessResult result = Prmcodec({"decode", SpeechVector().string(), wav.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find(wav.string()), std::string::npos) << "says where it wrote, on standard error";
    EXPECT_EQ(result.out, "");

    SF_INFO info{};
    const std::vector<std::int16_t> samples = ReadWav(wav, info);
    EXPECT_EQ(info.samplerate, 8000);
    EXPECT_EQ(info.channels, 1);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(samples,
              test::ReadPcm16(test::DataDir() / "vectors" / "encoder" / "s09_en_f_flite_slt.decoded.pcm"));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"speech.wav"});
}

TEST(Prmcodec, DecodeWithEnhanceWritesThePostFilteredSpeech) {
    test::CTempDir dir;
    const fs::path wav = dir.Path() / "enhanced.wav";
    const test::ProcessResult result =
        Prmcodec({"decode", "--enhance", SpeechVector().string(), wav.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    SF_INFO info{};
    EXPECT_EQ(ReadWav(wav, info), test::ReadPcm16(test::DataDir() / "vectors" / "postfilter" /
                                                  "s09_en_f_flite_slt.enhanced.pcm"));
}

TEST(Prmcodec, DecodeIgnoresAnIncompleteLastFrameAndSaysSo) {
    test::CTempDir dir;
    std::vector<std::uint8_t> bytes = test::ReadBytes(SpeechVector());
    const std::size_t frames = bytes.size() / kPackedFrameBytes;
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5, 6, 7});
    const fs::path prm = dir.Path() / "odd.prm";
    test::WriteBytes(prm, bytes);
    const test::ProcessResult result = Prmcodec({"decode", prm.string(), (dir.Path() / "odd.wav").string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.err.find("7 bytes"), std::string::npos) << result.err;
    SF_INFO info{};
    EXPECT_EQ(ReadWav(dir.Path() / "odd.wav", info).size(), frames * kFrameSamples);
}

TEST(Prmcodec, InfoDescribesTheFile) {
    test::CTempDir dir;
    const test::RandomBytesFile file = test::RandomBytesWithIncompleteTail();
    ASSERT_GT(file.invalidFrames, 0u);
    const fs::path prm = dir.Path() / "random.prm";
    test::WriteBytes(prm, file.bytes);

    const test::ProcessResult result = Prmcodec({"info", prm.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_NE(result.out.find("Frames:                300\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Duration:              0:09.0"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Incomplete last frame: 5 bytes\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("Invalid frames:        " + std::to_string(file.invalidFrames) + "\n"),
              std::string::npos)
        << result.out;
}

TEST(Prmcodec, BadInputsAreReportedAndLeaveNoOutput) {
    test::CTempDir dir;
    const fs::path empty = dir.Path() / "empty.prm";
    test::WriteBytes(empty, {});
    const fs::path tiny = dir.Path() / "tiny.prm";
    test::WriteBytes(tiny, std::vector<std::uint8_t>(17, 0));
    fs::create_directory(dir.Path() / "folder.prm");
    const struct {
        std::string input;
        std::string expected;
    } cases[] = {
        {(dir.Path() / "missing.prm").string(), "No such file or directory"},
        {empty.string(), "is empty"},
        {tiny.string(), "holds no whole frame"},
        {(dir.Path() / "folder.prm").string(), "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const auto before = Listing(dir.Path());
        for (const char* command : {"decode", "info"}) {
            std::vector<std::string> args = {command, c.input};
            if (std::string(command) == "decode") {
                args.push_back((dir.Path() / "out.wav").string());
            }
            const test::ProcessResult result = Prmcodec(args);
            EXPECT_EQ(result.exitCode, 1);
            EXPECT_NE(result.err.find(c.input), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
            EXPECT_EQ(Listing(dir.Path()), before);
        }
    }
}

// The window refuses these files, and so does play; decode and info serve testing and only warn.
// Every case is refused before any sound device is touched.
TEST(Prmcodec, PlayRefusesWhatIsNotARecordingWhileDecodeAndInfoOnlyWarn) {
    test::CTempDir dir;
    std::vector<std::uint8_t> wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
    const std::vector<std::uint8_t> pcm = test::ReadBytes(SpeechInputPcmPath());
    wav.insert(wav.end(), pcm.begin(), pcm.end());
    test::WriteBytes(dir.Path() / "speech.wav", wav);
    fs::copy_file(test::DataDir() / "vectors" / "decoder" / "random_bytes.prm", dir.Path() / "random.prm");
    const fs::path fifo = dir.Path() / "fifo.prm";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const struct {
        fs::path input;
        std::string reason;
        bool decodes; // decode and info go on, with a warning
    } cases[] = {
        {dir.Path() / "speech.wav", "it is a WAV (RIFF) file, not a recording", true},
        {dir.Path() / "random.prm", "of its first 100 frames are invalid", true},
        {fifo, "it is not a regular file", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const test::ProcessResult play = Prmcodec({"play", c.input.string()});
        EXPECT_EQ(play.exitCode, 1);
        // Built piece by piece: GCC 12 at -O3 misreads chained additions as an overlapping copy.
        std::string refusal = "'";
        refusal.append(c.input.string()).append("' is not played: ");
        EXPECT_NE(play.err.find(refusal), std::string::npos) << play.err;
        EXPECT_NE(play.err.find(c.reason), std::string::npos) << play.err;
        EXPECT_EQ(play.err.find("--force") != std::string::npos, c.decodes) << "offered only for a judgement";
        if (!c.decodes) {
            continue;
        }
        const test::ProcessResult decode =
            Prmcodec({"decode", c.input.string(), (dir.Path() / "out.wav").string()});
        EXPECT_EQ(decode.exitCode, 0) << decode.err;
        EXPECT_NE(decode.err.find("warning: '" + c.input.string() + "': "), std::string::npos) << decode.err;
        EXPECT_NE(decode.err.find(c.reason), std::string::npos) << decode.err;
        const test::ProcessResult info = Prmcodec({"info", c.input.string()});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.err.find(c.reason), std::string::npos) << info.err;
    }
    // A recording is decoded without a word of warning.
    const test::ProcessResult clean = Prmcodec({"info", SpeechVector().string()});
    EXPECT_EQ(clean.exitCode, 0);
    EXPECT_EQ(clean.err, "");
    EXPECT_EQ(Prmcodec({"info", "--force", SpeechVector().string()}).exitCode, 2) << "--force is for play";
}

TEST(Prmcodec, UnwritableOutputsAreReportedAndLeaveNoOutput) {
    test::CTempDir dir;
    fs::create_directory(dir.Path() / "taken.wav");
    fs::create_symlink("loop.wav", dir.Path() / "loop.wav");
    const struct {
        fs::path output;
        std::string expected;
    } cases[] = {
        {dir.Path() / "loop.wav", "Too many levels of symbolic links"},
        {dir.Path() / "no-such-folder" / "out.wav", "No such file or directory"},
        {dir.Path() / "taken.wav", "Is a directory"},
        {"/proc/velmar-out.wav", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const auto before = Listing(dir.Path());
        const test::ProcessResult result = Prmcodec({"decode", SpeechVector().string(), c.output.string()});
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find("cannot create '" + c.output.string() + "'"), std::string::npos)
            << result.err;
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        EXPECT_EQ(Listing(dir.Path()), before);
    }
}

fs::path SpeechInputPcm() {
    return test::DataDir() / "vectors" / "encoder" / "s08_en_m_espeak_enus.pcm";
}

std::vector<std::uint8_t> VectorFrames() {
    return test::ReadBytes(test::DataDir() / "vectors" / "encoder" / "s08_en_m_espeak_enus.prm");
}

void WriteWav(const fs::path& path, int rate, int channels, const std::vector<std::int16_t>& interleaved) {
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* sound = sf_open(path.c_str(), SFM_WRITE, &info);
    ASSERT_NE(sound, nullptr);
    sf_writef_short(sound, interleaved.data(), static_cast<sf_count_t>(interleaved.size()) / channels);
    sf_close(sound);
}

TEST(Prmcodec, EncodeOfRawSpeechGivesTheKnownFramesAndPadsTheLastPart) {
    test::CTempDir dir;
    const fs::path prm = dir.Path() / "speech.prm";
    const test::ProcessResult result = Prmcodec({"encode", "--raw", SpeechInputPcm().string(), prm.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const std::vector<std::uint8_t> expected = VectorFrames();
    const std::vector<std::uint8_t> got = test::ReadBytes(prm);
    // The input ends 80 samples into a frame: those are kept in one more, silence-padded frame.
    ASSERT_EQ(test::ReadPcm16(SpeechInputPcm()).size() % kFrameSamples, 80u);
    ASSERT_EQ(got.size(), expected.size() + kPackedFrameBytes);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
    EXPECT_EQ(Listing(dir.Path()), std::vector<std::string>{"speech.prm"});
}

TEST(Prmcodec, EncodeReadsWavFilesAndStandardInputAlike) {
    test::CTempDir dir;
    const std::vector<std::int16_t> speech = test::ReadPcm16(SpeechInputPcm());
    const fs::path wav = dir.Path() / "speech.wav";
    WriteWav(wav, 8000, 1, speech);
    const fs::path fromRaw = dir.Path() / "raw.prm";
    ASSERT_EQ(Prmcodec({"encode", "--raw", SpeechInputPcm().string(), fromRaw.string()}).exitCode, 0);
    const std::vector<std::uint8_t> reference = test::ReadBytes(fromRaw);

    const fs::path fromWav = dir.Path() / "wav.prm";
    ASSERT_EQ(Prmcodec({"encode", wav.string(), fromWav.string()}).exitCode, 0);
    EXPECT_EQ(test::ReadBytes(fromWav), reference);

    const fs::path fromPipe = dir.Path() / "pipe.prm";
    test::ProcessResult piped = test::RunProcess(kTool, {"encode", "-", fromPipe.string()}, wav);
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(test::ReadBytes(fromPipe), reference);

    piped = test::RunProcess(kTool, {"encode", "--raw", "-", fromPipe.string()}, SpeechInputPcm());
    ASSERT_EQ(piped.exitCode, 0) << piped.err;
    EXPECT_EQ(test::ReadBytes(fromPipe), reference);
}

// The sound libraries, with the score of others beneath them, cost more to load than a short decode
// takes: a command loads only those it uses. The dynamic loader's own log tells what was opened.
TEST(Prmcodec, HelpInfoDecodeAndRawEncodeLoadNoSoundLibrary) {
    test::CTempDir dir;
    const fs::path wav = dir.Path() / "speech.wav";
    WriteWav(wav, 8000, 1, test::ReadPcm16(SpeechInputPcm()));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::vector<std::string> loads;
    };
    const std::vector<Case> cases = {
        {"help", {"--help"}, {}},
        {"info", {"info", SpeechVector().string()}, {}},
        {"decode", {"decode", SpeechVector().string(), (dir.Path() / "speech-out.wav").string()}, {}},
        {"raw encode", {"encode", "--raw", SpeechInputPcm().string(), (dir.Path() / "raw.prm").string()}, {}},
        // Proves the log is read right; at 8 kHz there is nothing to resample.
        {"WAV encode", {"encode", wav.string(), (dir.Path() / "wav.prm").string()}, {"libsndfile.so.1"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"LD_DEBUG=files", kTool.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const test::ProcessResult result = test::RunProcess("/usr/bin/env", args);
        ASSERT_EQ(result.exitCode, 0) << c.name << ": " << result.err;
        for (const std::string library : {"libportaudio.so.2", "libsndfile.so.1", "libsamplerate.so.0"}) {
            const bool expected = std::find(c.loads.begin(), c.loads.end(), library) != c.loads.end();
            EXPECT_EQ(result.err.find("file=" + library) != std::string::npos, expected)
                << c.name << (expected ? " does not load " : " loads ") << library;
        }
    }
}

TEST(Prmcodec, EncodeMixesAndResamplesOtherFormats) {
    // Two seconds of a 440 Hz tone in the left channel only, at 44.1 kHz: mixing halves it,
    // resampling keeps its length.
    test::CTempDir dir;
    constexpr int kRate = 44100;
    std::vector<std::int16_t> stereo;
    for (int n = 0; n < 2 * kRate; ++n) {
        stereo.push_back(
            static_cast<std::int16_t>(std::lround(16000.0 * std::sin(2 * M_PI * 440.0 * n / kRate))));
        stereo.push_back(0);
    }
    const fs::path wav = dir.Path() / "tone.wav";
    WriteWav(wav, kRate, 2, stereo);
    const fs::path out = dir.Path() / "tone-heard.wav";
    // Plain decoding: the level is the input path's, not the post-filter's, which favours a pure tone.
    const test::ProcessResult result = Prmcodec({"transcode", "--plain", wav.string(), out.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    SF_INFO info{};
    const std::vector<std::int16_t> heard = ReadWav(out, info);
    EXPECT_EQ(info.samplerate, 8000);
    EXPECT_EQ(heard.size(), 67u * kFrameSamples) << "16000 samples are 66 frames and a padded 67th";
    // After the codec's start-up, the tone comes back at about half its amplitude (8000).
    double energy = 0.0;
    for (std::size_t n = 4000; n < 14000; ++n) {
        energy += static_cast<double>(heard[n]) * heard[n];
    }
    const double rms = std::sqrt(energy / 10000.0);
    EXPECT_GT(rms, 8000.0 / std::sqrt(2.0) * 0.5);
    EXPECT_LT(rms, 8000.0 / std::sqrt(2.0) * 1.5);
}

// Transcoding is what a listener hears of the recording: enhanced unless asked for the plain decoder.
TEST(Prmcodec, TranscodeIsEncodeThenDecodeEnhancedByDefault) {
    test::CTempDir dir;
    const fs::path prm = dir.Path() / "speech.prm";
    ASSERT_EQ(Prmcodec({"encode", "--raw", SpeechInputPcm().string(), prm.string()}).exitCode, 0);
    const struct {
        std::vector<std::string> transcodeOptions;
        std::vector<std::string> decodeOptions;
    } cases[] = {
        {{}, {"--enhance"}},
        {{"--plain"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.transcodeOptions.empty() ? "default" : c.transcodeOptions[0]);
        const fs::path decoded = dir.Path() / "decoded.wav";
        const fs::path transcoded = dir.Path() / "transcoded.wav";
        std::vector<std::string> decode = {"decode"};
        decode.insert(decode.end(), c.decodeOptions.begin(), c.decodeOptions.end());
        decode.insert(decode.end(), {prm.string(), decoded.string()});
        std::vector<std::string> transcode = {"transcode", "--raw"};
        transcode.insert(transcode.end(), c.transcodeOptions.begin(), c.transcodeOptions.end());
        transcode.insert(transcode.end(), {SpeechInputPcm().string(), transcoded.string()});
        ASSERT_EQ(Prmcodec(decode).exitCode, 0);
        ASSERT_EQ(Prmcodec(transcode).exitCode, 0);
        SF_INFO a{}, b{};
        const std::vector<std::int16_t> expected = ReadWav(decoded, a);
        EXPECT_FALSE(expected.empty());
        EXPECT_EQ(ReadWav(transcoded, b), expected);
    }
}

// Every effort writes frames any decoder accepts; 0 is the default, and transcode codes at the
// effort asked for just as encode does.
TEST(Prmcodec, EncodeAtEveryEffortGivesValidFramesAndTranscodeFollows) {
    test::CTempDir dir;
    const std::string input = SpeechInputPcm().string();
    const fs::path plain = dir.Path() / "plain.prm";
    ASSERT_EQ(Prmcodec({"encode", "--raw", input, plain.string()}).exitCode, 0);
    const std::vector<std::uint8_t> plainFrames = test::ReadBytes(plain);
    for (int effort = kMinEncoderEffort; effort <= kMaxEncoderEffort; ++effort) {
        SCOPED_TRACE(effort);
        const fs::path prm = dir.Path() / ("effort" + std::to_string(effort) + ".prm");
        const test::ProcessResult result =
            Prmcodec({"encode", "--raw", "--effort", std::to_string(effort), input, prm.string()});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const std::vector<std::uint8_t> frames = test::ReadBytes(prm);
        ASSERT_EQ(frames.size(), plainFrames.size());
        for (std::size_t at = 0; at < frames.size(); at += kPackedFrameBytes) {
            ASSERT_EQ(UnpackFrame(ConstPackedFrameView(frames.data() + at, kPackedFrameBytes), 0).erased, 0)
                << "frame " << at / kPackedFrameBytes;
        }
        EXPECT_EQ(frames == plainFrames, effort == kMinEncoderEffort);
    }

    const fs::path decoded = dir.Path() / "decoded.wav";
    const fs::path transcoded = dir.Path() / "transcoded.wav";
    ASSERT_EQ(
        Prmcodec({"decode", "--enhance", (dir.Path() / "effort1.prm").string(), decoded.string()}).exitCode,
        0);
    ASSERT_EQ(Prmcodec({"transcode", "--raw", "--effort", "1", input, transcoded.string()}).exitCode, 0);
    SF_INFO a{}, b{};
    const std::vector<std::int16_t> expected = ReadWav(decoded, a);
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(ReadWav(transcoded, b), expected);
}

TEST(Prmcodec, EncodeRejectsInputsWithoutAudio) {
    test::CTempDir dir;
    const fs::path text = dir.Path() / "notes.txt";
    test::WriteBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
    const fs::path empty = dir.Path() / "empty.raw";
    test::WriteBytes(empty, {});
    const struct {
        std::vector<std::string> args;
        std::string expected;
    } cases[] = {
        {{"encode", text.string()}, "--raw"},
        {{"encode", "--raw", empty.string()}, "holds no audio"},
        {{"encode", (dir.Path() / "missing.wav").string()}, "No such file or directory"},
        {{"transcode", dir.Path().string()}, "Is a directory"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const auto before = Listing(dir.Path());
        std::vector<std::string> args = c.args;
        args.push_back((dir.Path() / "out.prm").string());
        const test::ProcessResult result = Prmcodec(args);
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(c.expected), std::string::npos) << result.err;
        EXPECT_EQ(Listing(dir.Path()), before);
    }
}

TEST(Prmcodec, HelpAndUsageErrors) {
    const test::ProcessResult help = Prmcodec({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("decode IN.prm OUT.wav"), std::string::npos);
    EXPECT_NE(help.out.find("info IN.prm"), std::string::npos);

    EXPECT_NE(help.out.find("encode IN OUT.prm"), std::string::npos);
    EXPECT_NE(help.out.find("transcode IN OUT.wav"), std::string::npos);
    EXPECT_NE(help.out.find("--plain"), std::string::npos);
    EXPECT_NE(help.out.find("--enhance"), std::string::npos);
    EXPECT_NE(help.out.find("--effort N"), std::string::npos);

    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"frobnicate"},
                                                 {"decode", "only-one.prm"},
                                                 {"info"},
                                                 {"--bogus", "info", "x"},
                                                 {"info", "--raw", "a.prm"},
                                                 {"encode", "--json", "a.wav", "b.prm"},
                                                 {"encode", "--raw-output", "a", "b"},
                                                 {"decode", "--plain", "a.prm", "b.wav"},
                                                 {"transcode", "--enhance", "a.wav", "b.wav"},
                                                 {"play", "--enhance", "a.prm"},
                                                 {"info", "--plain", "a.prm"},
                                                 {"decode", "--force", "a.prm", "b.wav"},
                                                 {"encode", "--effort", "4", "a.wav", "b.prm"},
                                                 {"encode", "--effort", "-1", "a.wav", "b.prm"},
                                                 {"transcode", "a.wav", "b.wav", "--effort"},
                                                 {"decode", "--effort", "1", "a.prm", "b.wav"}}) {
        const test::ProcessResult result = Prmcodec(args);
        EXPECT_EQ(result.exitCode, 2);
        EXPECT_NE(result.err.find("--help"), std::string::npos) << result.err;
    }
}

} // namespace
} // namespace velmar
