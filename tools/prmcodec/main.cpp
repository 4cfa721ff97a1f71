// prmcodec: the command-line face of the speech codec. Decodes ".prm" files to WAV and describes
// them; every failure is reported on stderr with a non-zero exit and leaves no partial output file.
#include "FrameFile.h"
#include "JsonText.h"
#include "OutputFile.h"
#include "RunCommands.h"
#include "SpeechInput.h"
#include "WavWriter.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"
#include "pipeline/RecordingFileCheck.h"
#include "tools/prmcodec/Version.h"

#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace velmar {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: prmcodec COMMAND [ARGUMENTS]\n"
    "\n"
    "Tools for the Velmar 4800 bit/s speech codec and its \".prm\" files\n"
    "(headerless 18-byte frames, 30 ms of 8 kHz 16-bit mono speech each).\n"
    "\n"
    "Commands:\n"
    "  encode IN OUT.prm       encode speech into a frame file\n"
    "  transcode IN OUT.wav    encode and decode in one go: the speech as a listener hears it\n"
    "  decode IN.prm OUT.wav   decode a frame file into an 8 kHz 16-bit mono WAV file\n"
    "  info IN.prm             show frames, duration, an incomplete last frame and invalid frames\n"
    "  record OUT.prm          record from the default input device until Ctrl+C\n"
    "  play IN.prm             play a frame file through the default output device\n"
    "\n"
    "play and transcode enhance the decoded speech: a post-filter sharpens its formants and pitch\n"
    "harmonics (the frames stay as they are). decode writes the decoder's plain output unless asked.\n"
    "\n"
    "IN of encode and transcode is any audio file libsndfile reads (WAV, FLAC, OGG, ...), at any\n"
    "sample rate and channel count: it is mixed to mono and resampled to 8000 Hz. A last part\n"
    "shorter than a frame is padded with silence.\n"
    "\n"
    "\"-\" as IN reads standard input, as OUT writes standard output, so the tool works in\n"
    "pipelines: prmcodec decode rec.prm - | aplay. Messages and progress go to standard error only.\n"
    "A WAV file whose data passes 4 GiB is written as RF64.\n"
    "\n"
    "Options:\n"
    "  --raw                   encode, transcode: IN is headerless 16-bit little-endian 8 kHz mono;\n"
    "                          decode: OUT is headerless samples instead of WAV\n"
    "  --raw-output            decode, transcode: OUT is headerless samples instead of WAV\n"
    "  --json                  info: print one JSON object, for scripts\n"
    "  --effort N              encode, transcode: how hard the encoder searches, 0-3 (default 0);\n"
    "                          1, 2 and 3 give better speech in the same bits for about 2.5, 18\n"
    "                          and 54 times the encoding time, and any decoder plays the frames\n"
    "  --seconds N             record: stop after N seconds of speech\n"
    "  --from PERCENT          play: start at PERCENT (0-100) of the file\n"
    "  --plain                 play, transcode: the decoder's output without enhancement\n"
    "  --enhance               decode: enhance the speech as play and transcode do\n"
    "  --force                 play: play a file even though it is plainly not a recording\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on wrong usage.\n";

int Fail(const std::string& message) {
    std::fprintf(stderr, "prmcodec: %s\n", message.c_str());
    return kExitFailure;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "prmcodec: %s\nTry 'prmcodec --help' for more information.\n", message.c_str());
    return kExitUsage;
}

// Tenths of a second as m:ss.t.
std::string FormatDuration(std::uint64_t frames) {
    const std::uint64_t tenths = frames * 3 / 10; // 30 ms per frame, truncated
    char text[48];
    std::snprintf(text, sizeof text, "%" PRIu64 ":%02" PRIu64 ".%" PRIu64, tenths / 600, tenths / 10 % 60,
                  tenths % 10);
    return text;
}

// Opens a frame file or stream; a file without a whole frame fails here, a stream at its end.
bool OpenFrames(CFrameFileReader& reader, const std::string& path, std::string& error) {
    return reader.Open(path, error) && reader.HasFrames(error);
}

std::string OutputName(const std::string& path) {
    return path == "-" ? "standard output" : path;
}

// decode and info serve testing too, so they go on with a file that is plainly not a recording.
void WarnIfNotARecording(const std::string& path) {
    const RecordingFileCheck check = CheckRecordingFile(path);
    if (check.problem == RecordingFileProblem::NotARecording) {
        std::fprintf(stderr, "prmcodec: warning: '%s': %s; decoding it all the same\n", path.c_str(),
                     RecordingFileProblemText(check).c_str());
    }
}

// play refuses what the recorder window refuses; --force overrides only the judgement of the frames.
bool PlayableOrFail(const std::string& path, bool force, int& status) {
    const RecordingFileCheck check = CheckRecordingFile(path);
    if (check.IsPlayable() || (force && check.problem == RecordingFileProblem::NotARecording)) {
        return true;
    }
    std::string message = "'" + path + "' is not played: " + RecordingFileProblemText(check);
    if (check.problem == RecordingFileProblem::NotARecording) {
        message += " (--force plays it all the same)";
    }
    status = Fail(message);
    return false;
}

void WarnAboutTrailingBytes(const CFrameFileReader& reader, const std::string& path) {
    if (reader.TrailingBytes() != 0) {
        std::fprintf(stderr,
                     "prmcodec: warning: '%s' ends in an incomplete frame; its %d bytes are ignored\n",
                     path.c_str(), reader.TrailingBytes());
    }
}

// Decodes frame after frame, plain or through the post-filter, with state carried through the file.
class CFrameDecoder {
public:
    explicit CFrameDecoder(DecodeMode decodeMode)
        : mode(decodeMode) {}

    void Decode(ConstPackedFrameView frame, SampleFrame out) {
        if (mode == DecodeMode::Enhanced) {
            DecodeEnhancedFrame(codec, postFilter, frame, out);
        } else {
            codec.DecodeFrame(frame, out);
        }
    }

private:
    DecodeMode mode;
    CSpeechCodec codec;
    CPostFilter postFilter;
};

int Decode(const std::string& inPath, const std::string& outPath, DecodeMode mode, bool rawOutput) {
    std::string error;
    CFrameFileReader reader;
    if (!OpenFrames(reader, inPath, error)) {
        return Fail(error);
    }
    WarnIfNotARecording(inPath);
    // A file's length is known before decoding, so even a pipe gets a WAV header with true sizes.
    const std::optional<std::uint64_t> frames = reader.KnownFrameCount();
    CWavWriter writer;
    if (!writer.Create(outPath, kSampleRate, error, rawOutput ? SampleContainer::Raw : SampleContainer::Wav,
                       frames ? std::optional<std::uint64_t>(*frames * kFrameSamples) : std::nullopt)) {
        return Fail(error);
    }
    // A few hundred frames per write keep the file calls few without holding the whole file.
    constexpr std::size_t kFramesPerWrite = 256;
    std::vector<std::int16_t> samples;
    samples.reserve(kFramesPerWrite * kFrameSamples);
    CFrameDecoder decoder(mode);
    PackedFrame frame{};
    std::array<std::int16_t, kFrameSamples> decoded{};
    for (;;) {
        const ReadStatus status = reader.Next(frame, error);
        if (status == ReadStatus::Error) {
            return Fail(error);
        }
        if (status == ReadStatus::Frame) {
            decoder.Decode(frame, decoded);
            samples.insert(samples.end(), decoded.begin(), decoded.end());
        }
        if (samples.size() >= kFramesPerWrite * kFrameSamples ||
            (status == ReadStatus::End && !samples.empty())) {
            if (!writer.Write(samples, error)) {
                return Fail(error);
            }
            samples.clear();
        }
        if (status == ReadStatus::End) {
            break;
        }
    }
    if (!reader.HasFrames(error) || !writer.Commit(error)) {
        return Fail(error);
    }
    WarnAboutTrailingBytes(reader, reader.Name());
    std::fprintf(stderr, "Decoded %" PRIu64 " frames (%s) from %s into %s\n", reader.FrameCount(),
                 FormatDuration(reader.FrameCount()).c_str(), reader.Name().c_str(),
                 OutputName(outPath).c_str());
    return 0;
}

int Info(const std::string& inPath, bool json) {
    std::string error;
    CFrameFileReader reader;
    if (!OpenFrames(reader, inPath, error)) {
        return Fail(error);
    }
    WarnIfNotARecording(inPath);
    std::uint64_t invalid = 0;
    PackedFrame frame{};
    for (;;) {
        const ReadStatus status = reader.Next(frame, error);
        if (status == ReadStatus::Error) {
            return Fail(error);
        }
        if (status == ReadStatus::End) {
            break;
        }
        if (UnpackFrame(frame, 0).erased != 0) {
            ++invalid;
        }
    }
    if (!reader.HasFrames(error)) {
        return Fail(error);
    }
    const double seconds = static_cast<double>(reader.FrameCount()) * kFrameSamples / kSampleRate;
    if (json) {
        std::printf("{\"file\": %s, \"bytes\": %" PRIu64 ", \"frames\": %" PRIu64
                    ", \"duration_seconds\": %.2f, \"incomplete_last_frame_bytes\": %d"
                    ", \"invalid_frames\": %" PRIu64 "}\n",
                    JsonString(reader.Name()).c_str(), reader.FileBytes(), reader.FrameCount(), seconds,
                    reader.TrailingBytes(), invalid);
        return 0;
    }
    std::printf("File:                  %s\n", reader.Name().c_str());
    std::printf("Size:                  %" PRIu64 " bytes\n", reader.FileBytes());
    std::printf("Frames:                %" PRIu64 "\n", reader.FrameCount());
    std::printf("Duration:              %s (%.2f s)\n", FormatDuration(reader.FrameCount()).c_str(), seconds);
    std::printf("Incomplete last frame: %d bytes\n", reader.TrailingBytes());
    std::printf("Invalid frames:        %" PRIu64 "\n", invalid);
    return 0;
}

// A progress line on stderr for long inputs, redrawn in place; only when stderr is a terminal.
class CProgress {
public:
    CProgress(const std::string& inputName, double totalSeconds)
        : name(inputName)
        , total(totalSeconds)
        , enabled(::isatty(STDERR_FILENO) == 1 && totalSeconds > kShortInputSeconds) {}
    ~CProgress() { Finish(); }
    CProgress(const CProgress&) = delete;
    CProgress& operator=(const CProgress&) = delete;

    void Update(double doneSeconds) {
        if (!enabled) {
            return;
        }
        const int percent = static_cast<int>(std::min(100.0, 100.0 * doneSeconds / total));
        if (percent == shownPercent) {
            return;
        }
        shownPercent = percent;
        constexpr int kBarWidth = 30;
        const int filled = percent * kBarWidth / 100;
        std::fprintf(stderr, "\rEncoding %s %3d%% [%.*s%.*s] %s of %s", name.c_str(), percent, filled,
                     "##############################", kBarWidth - filled, "..............................",
                     Clock(doneSeconds).c_str(), Clock(total).c_str());
        std::fflush(stderr);
        drawn = true;
    }

    void Finish() {
        if (drawn) {
            std::fputc('\n', stderr);
            drawn = false;
        }
    }

private:
    static constexpr double kShortInputSeconds = 5.0;

    static std::string Clock(double seconds) {
        const auto whole = static_cast<long>(seconds);
        char text[32];
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
        return text;
    }

    std::string name;
    double total;
    bool enabled;
    bool drawn = false;
    int shownPercent = -1;
};

// Reads the next frame of input into `frame`; a short last part is padded with silence. Returns
// 1 for a frame, 0 at the end, -1 on error.
int NextInputFrame(CSpeechInput& input, std::array<std::int16_t, kFrameSamples>& frame, std::string& error) {
    std::size_t filled = 0;
    while (filled < frame.size()) {
        const long got =
            input.Read(std::span<std::int16_t>(frame.data() + filled, frame.size() - filled), error);
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<std::size_t>(got);
    }
    if (filled == 0) {
        return 0;
    }
    std::fill(frame.begin() + static_cast<std::ptrdiff_t>(filled), frame.end(), std::int16_t{0});
    return 1;
}

// Encodes IN frame by frame; with `wavPath` the frames are decoded again into a WAV file,
// otherwise they are stored in `prmPath`.
int Encode(const std::string& inPath, bool raw, const std::string& prmPath, const std::string& wavPath,
           DecodeMode mode, bool rawOutput, int effort) {
    std::string error;
    CSpeechInput input;
    if (!input.Open(inPath, raw, error)) {
        return Fail(error);
    }
    const bool transcode = !wavPath.empty();
    COutputFile prm;
    CWavWriter wav;
    if (!(transcode ? wav.Create(wavPath, kSampleRate, error,
                                 rawOutput ? SampleContainer::Raw : SampleContainer::Wav)
                    : prm.Create(prmPath, error))) {
        return Fail(error);
    }
    const std::string inputName = inPath == "-" ? "standard input" : inPath;

    CSpeechCodec encoder;
    encoder.encoderEffort = effort;
    CFrameDecoder decoder(mode);
    std::array<std::int16_t, kFrameSamples> samples{};
    PackedFrame frame{};
    std::vector<std::uint8_t> pendingBytes;
    std::vector<std::int16_t> pendingSamples;
    constexpr std::size_t kFramesPerWrite = 256;
    std::uint64_t frames = 0;
    CProgress progress(inputName, input.DurationSeconds());
    for (;;) {
        const int status = NextInputFrame(input, samples, error);
        if (status < 0) {
            return Fail(error);
        }
        if (status > 0) {
            encoder.EncodeFrame(samples, frame);
            ++frames;
            if (transcode) {
                std::array<std::int16_t, kFrameSamples> decoded{};
                decoder.Decode(frame, decoded);
                pendingSamples.insert(pendingSamples.end(), decoded.begin(), decoded.end());
            } else {
                pendingBytes.insert(pendingBytes.end(), frame.begin(), frame.end());
            }
            progress.Update(input.ConsumedSeconds());
        }
        const bool flush = status == 0 || frames % kFramesPerWrite == 0;
        if (flush && transcode && !pendingSamples.empty()) {
            if (!wav.Write(pendingSamples, error)) {
                return Fail(error);
            }
            pendingSamples.clear();
        }
        if (flush && !transcode && !pendingBytes.empty()) {
            if (!prm.Write(pendingBytes, error)) {
                return Fail(error);
            }
            pendingBytes.clear();
        }
        if (status == 0) {
            break;
        }
    }
    progress.Finish();
    if (frames == 0) {
        return Fail("'" + inputName + "' holds no audio to encode");
    }
    if (!(transcode ? wav.Commit(error) : prm.Commit(error))) {
        return Fail(error);
    }
    std::fprintf(stderr, "%s %" PRIu64 " frames (%s) from %s into %s\n", transcode ? "Transcoded" : "Encoded",
                 frames, FormatDuration(frames).c_str(), inputName.c_str(),
                 OutputName(transcode ? wavPath : prmPath).c_str());
    return 0;
}

struct Command {
    const char* name;
    int arguments;
    const char* synopsis;
};

constexpr Command kCommands[] = {
    {"encode", 2, "encode [--raw] [--effort N] IN OUT.prm"},
    {"transcode", 2, "transcode [--raw] [--raw-output] [--plain] [--effort N] IN OUT.wav"},
    {"decode", 2, "decode [--raw] [--enhance] IN.prm OUT.wav"},
    {"info", 1, "info [--json] IN.prm"},
    {"record", 1, "record OUT.prm [--seconds N]"},
    {"play", 1, "play IN.prm [--from PERCENT] [--plain] [--force]"},
};

// The value of a numeric option: digits only, within [low, high].
bool ParseCount(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    value = std::stoi(text);
    return value >= low && value <= high;
}

int Run(const std::vector<std::string>& allArgs) {
    std::vector<std::string> args;
    bool raw = false;
    bool force = false;
    bool rawOutput = false;
    bool json = false;
    int seconds = -1;
    int fromPercent = -1;
    bool plain = false;
    bool enhance = false;
    int effort = -1;
    for (std::size_t i = 0; i < allArgs.size(); ++i) {
        const std::string& arg = allArgs[i];
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("prmcodec %s\n", kVersionText);
            return 0;
        }
        if (arg == "--raw") {
            raw = true;
        } else if (arg == "--plain") {
            plain = true;
        } else if (arg == "--enhance") {
            enhance = true;
        } else if (arg == "--force") {
            force = true;
        } else if (arg == "--raw-output") {
            rawOutput = true;
        } else if (arg == "--json") {
            json = true;
        } else if (arg == "--seconds" || arg == "--from") {
            const bool isSeconds = arg == "--seconds";
            int& value = isSeconds ? seconds : fromPercent;
            if (i + 1 == allArgs.size() ||
                !ParseCount(allArgs[i + 1], isSeconds ? 1 : 0, isSeconds ? 86400 : 100, value)) {
                return UsageError(arg + (isSeconds ? " needs a number of seconds, 1 to 86400"
                                                   : " needs a percentage, 0 to 100"));
            }
            ++i;
        } else if (arg == "--effort") {
            if (i + 1 == allArgs.size() ||
                !ParseCount(allArgs[i + 1], kMinEncoderEffort, kMaxEncoderEffort, effort)) {
                return UsageError("--effort needs a number, " + std::to_string(kMinEncoderEffort) + " to " +
                                  std::to_string(kMaxEncoderEffort));
            }
            ++i;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option '" + arg + "'");
        } else {
            args.push_back(arg);
        }
    }
    if (args.empty()) {
        return UsageError("no command given");
    }
    const std::string& name = args[0];
    for (const Command& command : kCommands) {
        if (name != command.name) {
            continue;
        }
        if (static_cast<int>(args.size()) - 1 != command.arguments) {
            return UsageError(std::string("usage: prmcodec ") + command.synopsis);
        }
        if (raw && name != "encode" && name != "transcode" && name != "decode") {
            return UsageError("--raw applies to encode, transcode and decode only");
        }
        if (rawOutput && name != "transcode" && name != "decode") {
            return UsageError("--raw-output applies to decode and transcode only");
        }
        if (json && name != "info") {
            return UsageError("--json applies to info only");
        }
        if (effort >= 0 && name != "encode" && name != "transcode") {
            return UsageError("--effort applies to encode and transcode only");
        }
        if (seconds >= 0 && name != "record") {
            return UsageError("--seconds applies to record only");
        }
        if ((fromPercent >= 0 || force) && name != "play") {
            return UsageError(std::string(force ? "--force" : "--from") + " applies to play only");
        }
        if (plain && name != "play" && name != "transcode") {
            return UsageError("--plain applies to play and transcode only");
        }
        if (enhance && name != "decode") {
            return UsageError("--enhance applies to decode only");
        }
        if (name == "record") {
            return RecordCommand(args[1], seconds > 0 ? seconds : 0);
        }
        if (name == "play") {
            if (int status = 0; !PlayableOrFail(args[1], force, status)) {
                return status;
            }
            return PlayCommand(args[1], fromPercent > 0 ? fromPercent : 0,
                               plain ? DecodeMode::Plain : DecodeMode::Enhanced);
        }
        if (name == "encode") {
            return Encode(args[1], raw, args[2], "", DecodeMode::Plain, false,
                          std::max(effort, kMinEncoderEffort));
        }
        if (name == "transcode") {
            return Encode(args[1], raw, "", args[2], plain ? DecodeMode::Plain : DecodeMode::Enhanced,
                          rawOutput, std::max(effort, kMinEncoderEffort));
        }
        if (name == "decode") {
            return Decode(args[1], args[2], enhance ? DecodeMode::Enhanced : DecodeMode::Plain,
                          raw || rawOutput);
        }
        return Info(args[1], json);
    }
    return UsageError("unknown command '" + name + "'");
}

} // namespace
} // namespace velmar

int main(int argc, char** argv) {
    return velmar::Run(std::vector<std::string>(argv + 1, argv + argc));
}
