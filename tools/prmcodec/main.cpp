// prmcodec: the command-line face of the speech codec. Decodes ".prm" files to WAV and describes
// them; every failure is reported on stderr with a non-zero exit and leaves no partial output file.
#include "FrameFile.h"
#include "JsonText.h"
#include "OutputFile.h"
#include "RemoveOnSignal.h"
#include "RunCommands.h"
#include "SpeechInput.h"
#include "WavWriter.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"
#include "pipeline/RecordingFileCheck.h"
#include "tools/prmcodec/Version.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace velmar {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Each file converted at once holds an output that a stop signal must remove.
constexpr int kMaxJobs = kMaxArmedOutputs;

constexpr const char* kUsage =
    "Usage: prmcodec COMMAND [ARGUMENTS]\n"
    "\n"
    "Tools for the Velmar 4800 bit/s speech codec and its \".prm\" files\n"
    "(headerless 18-byte frames, 30 ms of 8 kHz 16-bit mono speech each).\n"
    "\n"
    "Commands:\n"
    "  encode IN OUT.prm       encode speech into a frame file\n"
    "  encode -o DIR IN...     encode several files at once into DIR, each as NAME.prm\n"
    "  transcode IN OUT.wav    encode and decode in one go: the speech as a listener hears it\n"
    "  decode IN.prm OUT.wav   decode a frame file into an 8 kHz 16-bit mono WAV file\n"
    "  decode -o DIR IN.prm... decode several frame files at once into DIR, each as NAME.wav\n"
    "                          (NAME.raw with --raw)\n"
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
    "With -o, encode and decode convert their files in parallel, one per processor core unless -j\n"
    "says otherwise, under one progress bar. A file that fails is named and the others go on; the\n"
    "exit status is 1 when any failed. An existing file of the same name in DIR is replaced.\n"
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
    "  -o DIR                  encode, decode: write one output per input into the folder DIR\n"
    "                          (created when missing)\n"
    "  -j N                    with -o: convert N files at a time, 1-64 (default: the core count)\n"
    "  --force                 play: play a file even though it is plainly not a recording\n"
    "  -h, --help              show this help and exit\n"
    "  --version               show the version and exit\n"
    "\n"
    "Exit status: 0 on success, 1 on failure, 2 on wrong usage.\n";

// Everything the tool says on stderr passes here: while files are converted in parallel, each
// message stays one whole line, and the batch's progress bar is cleared before it and drawn after.
class CConsole {
public:
    static CConsole& Get() {
        static CConsole console;
        return console;
    }

    void Line(const std::string& text) {
        const std::lock_guard lock(mutex);
        if (!bar.empty()) {
            std::fputs("\r\033[K", stderr);
        }
        std::fprintf(stderr, "%s\n", text.c_str());
        if (!bar.empty()) {
            std::fputs(bar.c_str(), stderr);
        }
        std::fflush(stderr);
    }

    // Redraws the bar from `text()` when it differs from the one shown; under the lock, so a slower
    // thread never draws an older state over a newer one.
    void ShowBar(const std::function<std::string()>& text) {
        const std::lock_guard lock(mutex);
        std::string next = text();
        if (next == bar) {
            return;
        }
        bar = std::move(next);
        std::fprintf(stderr, "\r%s\033[K", bar.c_str());
        std::fflush(stderr);
    }

    void EndBar() {
        const std::lock_guard lock(mutex);
        if (!bar.empty()) {
            std::fputc('\n', stderr);
            bar.clear();
        }
    }

private:
    std::mutex mutex;
    std::string bar;
};

void Say(const std::string& text) {
    CConsole::Get().Line(text);
}

// The input a batch worker is converting, so that its failures name it.
thread_local const std::string* tBatchInput = nullptr;

int Fail(const std::string& message) {
    std::string text = "prmcodec: ";
    if (tBatchInput != nullptr && message.find("'" + *tBatchInput + "'") == std::string::npos) {
        text += *tBatchInput + ": ";
    }
    Say(text + message);
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
        Say("prmcodec: warning: '" + path + "': " + RecordingFileProblemText(check) +
            "; decoding it all the same");
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
        Say("prmcodec: warning: '" + path + "' ends in an incomplete frame; its " +
            std::to_string(reader.TrailingBytes()) + " bytes are ignored");
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

// How much is handed to the output at a time. Decoded speech goes 16 frames (7.5 KB) at a time: a
// buffer that small stays in the cache and takes no fresh pages, which cost a decoding process more
// than the extra write calls (outputs under a temporary name gather whole blocks anyway). Coded
// frames are 18 bytes, so 256 of them make a write of 4.5 KB.
constexpr std::size_t kDecodedFramesPerWrite = 16;
constexpr std::size_t kCodedFramesPerWrite = 256;

// How far a conversion in a batch is, as a fraction of its input; a single conversion has none
// (encode draws its own bar then) and reports its result itself.
using ProgressReport = std::function<void(double fraction)>;

int Decode(const std::string& inPath, const std::string& outPath, DecodeMode mode, bool rawOutput,
           const ProgressReport* report = nullptr) {
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
    std::vector<std::int16_t> samples(kDecodedFramesPerWrite * kFrameSamples);
    std::size_t held = 0; // samples decoded into `samples` and not yet written
    CFrameDecoder decoder(mode);
    PackedFrame frame{};
    std::uint64_t done = 0;
    for (;;) {
        const ReadStatus status = reader.Next(frame, error);
        if (status == ReadStatus::Error) {
            return Fail(error);
        }
        if (status == ReadStatus::Frame) {
            decoder.Decode(frame, SampleFrame(samples.data() + held, kFrameSamples));
            held += kFrameSamples;
            if (report != nullptr && frames && *frames > 0) {
                (*report)(static_cast<double>(++done) / static_cast<double>(*frames));
            }
        }
        if (held == samples.size() || (status == ReadStatus::End && held != 0)) {
            if (!writer.Write(std::span<const std::int16_t>(samples.data(), held), error)) {
                return Fail(error);
            }
            held = 0;
        }
        if (status == ReadStatus::End) {
            break;
        }
    }
    if (!reader.HasFrames(error) || !writer.Commit(error)) {
        return Fail(error);
    }
    WarnAboutTrailingBytes(reader, reader.Name());
    if (report == nullptr) {
        Say("Decoded " + std::to_string(reader.FrameCount()) + " frames (" +
            FormatDuration(reader.FrameCount()) + ") from " + reader.Name() + " into " + OutputName(outPath));
    }
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
           DecodeMode mode, bool rawOutput, int effort, const ProgressReport* report = nullptr) {
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
    const std::size_t framesPerWrite = transcode ? kDecodedFramesPerWrite : kCodedFramesPerWrite;
    std::uint64_t frames = 0;
    const double totalSeconds = input.DurationSeconds();
    CProgress progress(inputName, report == nullptr ? totalSeconds : -1.0);
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
            if (report != nullptr && totalSeconds > 0.0) {
                (*report)(input.ConsumedSeconds() / totalSeconds);
            }
        }
        const bool flush = status == 0 || frames % framesPerWrite == 0;
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
    if (report == nullptr) {
        Say(std::string(transcode ? "Transcoded " : "Encoded ") + std::to_string(frames) + " frames (" +
            FormatDuration(frames) + ") from " + inputName + " into " +
            OutputName(transcode ? wavPath : prmPath));
    }
    return 0;
}

// The combined progress of a batch on a terminal: every file counts kFileUnits, handed out as its
// conversion goes, so long and short files move the bar alike.
class CBatchProgress {
public:
    static constexpr std::uint64_t kFileUnits = 1000;

    CBatchProgress(const char* actionVerb, std::size_t fileCount)
        : verb(actionVerb)
        , files(fileCount)
        , enabled(::isatty(STDERR_FILENO) == 1) {}
    ~CBatchProgress() { CConsole::Get().EndBar(); }
    CBatchProgress(const CBatchProgress&) = delete;
    CBatchProgress& operator=(const CBatchProgress&) = delete;

    void Advance(std::uint64_t units) {
        unitsDone.fetch_add(units, std::memory_order_relaxed);
        Draw();
    }
    void FileFinished() {
        filesDone.fetch_add(1, std::memory_order_relaxed);
        Draw();
    }

private:
    // The counters only ever grow, and each is read on its own: no order with other data is needed.
    void Draw() {
        if (!enabled) {
            return;
        }
        CConsole::Get().ShowBar([this] {
            const std::uint64_t units = unitsDone.load(std::memory_order_relaxed);
            const std::size_t finished = filesDone.load(std::memory_order_relaxed);
            const auto percent =
                static_cast<int>(std::min<std::uint64_t>(100, units * 100 / (files * kFileUnits)));
            constexpr int kBarWidth = 30;
            const int filled = percent * kBarWidth / 100;
            char head[96];
            std::snprintf(head, sizeof head, "%s %zu/%" PRIu64 " files %3d%% [", verb, finished, files,
                          percent);
            return head + std::string(static_cast<std::size_t>(filled), '#') +
                   std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "]";
        });
    }

    const char* verb;
    std::uint64_t files;
    bool enabled;
    std::atomic<std::uint64_t> unitsDone{0};
    std::atomic<std::size_t> filesDone{0};
};

// One file's share of the batch's progress; what it has not handed out yet goes when it ends.
class CFileProgress {
public:
    explicit CFileProgress(CBatchProgress& batchProgress)
        : batch(batchProgress) {}
    ~CFileProgress() {
        batch.Advance(CBatchProgress::kFileUnits - given);
        batch.FileFinished();
    }
    CFileProgress(const CFileProgress&) = delete;
    CFileProgress& operator=(const CFileProgress&) = delete;

    void Update(double fraction) {
        const auto units =
            static_cast<std::uint64_t>(std::clamp(fraction, 0.0, 1.0) * CBatchProgress::kFileUnits);
        if (units > given) {
            batch.Advance(units - given);
            given = units;
        }
    }

private:
    CBatchProgress& batch;
    std::uint64_t given = 0;
};

struct BatchFile {
    std::string input;
    std::string output;
};

// Converts every file of `files` with `convert` on `jobs` threads (this one among them). Returns the
// number that failed.
std::size_t RunBatch(const std::vector<BatchFile>& files, int jobs, const char* verb,
                     const std::function<int(const BatchFile&, const ProgressReport&)>& convert) {
    CBatchProgress progress(verb, files.size());
    // Handed out one by one, so a long file does not hold back a queue of short ones behind it. The
    // list is complete before any thread starts, which orders it before their reads.
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> failed{0};
    auto work = [&] {
        for (;;) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= files.size()) {
                return;
            }
            tBatchInput = &files[i].input;
            {
                CFileProgress fileProgress(progress);
                const ProgressReport report = [&fileProgress](double fraction) {
                    fileProgress.Update(fraction);
                };
                int status = kExitFailure;
                try {
                    status = convert(files[i], report);
                } catch (const std::exception& failure) {
                    // Out of memory on one file, say: the others go on, and its output is removed.
                    status = Fail(failure.what());
                }
                if (status != 0) {
                    failed.fetch_add(1, std::memory_order_relaxed);
                }
            }
            tBatchInput = nullptr;
        }
    };
    {
        std::vector<std::jthread> helpers;
        const auto extra =
            static_cast<std::size_t>(std::min<std::size_t>(static_cast<std::size_t>(jobs), files.size())) - 1;
        for (std::size_t t = 0; t < extra; ++t) {
            try {
                helpers.emplace_back(work);
            } catch (const std::system_error&) {
                break; // fewer threads than asked: the ones there share the work
            }
        }
        work();
    } // joined here: their counts are complete and visible
    return failed.load(std::memory_order_relaxed);
}

int DefaultJobs() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(cores), 1, kMaxJobs);
}

// The outputs of a batch: each input's name with its extension replaced by `extension`, in `folder`.
// Two inputs of the same name from different folders would overwrite each other: a usage error.
bool PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
               const std::string& extension, std::vector<BatchFile>& files, std::string& error) {
    std::map<std::string, std::string> inputOf;
    for (const std::string& input : inputs) {
        if (input == "-") {
            error = "standard input ('-') cannot be one of the inputs of -o";
            return false;
        }
        std::filesystem::path name = std::filesystem::path(input).lexically_normal().filename();
        if (name.empty() || name == "." || name == "..") {
            name = std::filesystem::path(input).lexically_normal().parent_path().filename();
        }
        name.replace_extension(extension);
        const std::string output = (std::filesystem::path(folder) / name).string();
        const auto [at, added] = inputOf.emplace(output, input);
        if (!added) {
            error = at->second == input ? "'" + input + "' is named twice"
                                        : "'" + at->second + "' and '" + input +
                                              "' would both be written to '" + output + "'";
            return false;
        }
        files.push_back({input, output});
    }
    return true;
}

// The output folder of a batch, made when missing.
bool PrepareFolder(const std::string& folder, std::string& error) {
    std::error_code failure;
    std::filesystem::create_directories(folder, failure);
    if (!std::filesystem::is_directory(folder)) {
        error = "cannot use '" + folder + "' as the output folder: " +
                (failure ? failure.message() : std::string("it is not a folder"));
        return false;
    }
    return true;
}

int FinishBatch(std::size_t failed, std::size_t total, const char* verb, const std::string& folder) {
    if (failed == 0) {
        Say(std::string(verb) + " " + std::to_string(total) + (total == 1 ? " file" : " files") + " into " +
            folder);
        return 0;
    }
    return Fail(std::to_string(failed) + " of " + std::to_string(total) + " files failed");
}

struct Command {
    const char* name;
    int arguments;
    const char* synopsis;
};

constexpr Command kCommands[] = {
    {"encode", 2,
     "encode [--raw] [--effort N] IN OUT.prm\n"
     "   or: prmcodec encode [--raw] [--effort N] [-j N] -o DIR IN..."},
    {"transcode", 2, "transcode [--raw] [--raw-output] [--plain] [--effort N] IN OUT.wav"},
    {"decode", 2,
     "decode [--raw] [--enhance] IN.prm OUT.wav\n"
     "   or: prmcodec decode [--raw] [--enhance] [-j N] -o DIR IN.prm..."},
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
    std::optional<std::string> outputFolder;
    int jobs = -1;
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
        } else if (arg == "-o") {
            if (i + 1 == allArgs.size() || allArgs[i + 1].empty() || allArgs[i + 1] == "-") {
                return UsageError("-o needs an output folder");
            }
            outputFolder = allArgs[++i];
        } else if (arg == "-j") {
            if (i + 1 == allArgs.size() || !ParseCount(allArgs[i + 1], 1, kMaxJobs, jobs)) {
                return UsageError("-j needs a number of files at a time, 1 to " + std::to_string(kMaxJobs));
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
        const bool batch = outputFolder.has_value();
        if (batch && name != "encode" && name != "decode") {
            return UsageError("-o applies to encode and decode only");
        }
        if (jobs > 0 && !batch) {
            return UsageError("-j applies with -o only");
        }
        if (batch ? args.size() < 2 : static_cast<int>(args.size()) - 1 != command.arguments) {
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
        if (batch) {
            const bool encode = name == "encode";
            const bool rawSamples = raw || rawOutput;
            std::vector<BatchFile> files;
            std::string error;
            if (!PlanBatch(std::vector<std::string>(args.begin() + 1, args.end()), *outputFolder,
                           encode       ? ".prm"
                           : rawSamples ? ".raw"
                                        : ".wav",
                           files, error)) {
                return UsageError(error);
            }
            if (!PrepareFolder(*outputFolder, error)) {
                return Fail(error);
            }
            const int level = std::max(effort, kMinEncoderEffort);
            const DecodeMode mode = enhance ? DecodeMode::Enhanced : DecodeMode::Plain;
            const std::size_t failed =
                RunBatch(files, jobs > 0 ? jobs : DefaultJobs(), encode ? "Encoding" : "Decoding",
                         [&](const BatchFile& file, const ProgressReport& report) {
                             return encode ? Encode(file.input, raw, file.output, "", DecodeMode::Plain,
                                                    false, level, &report)
                                           : Decode(file.input, file.output, mode, rawSamples, &report);
                         });
            return FinishBatch(failed, files.size(), encode ? "Encoded" : "Decoded", *outputFolder);
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
