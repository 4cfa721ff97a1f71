// prmcodec: the command-line face of the speech codec. Decodes ".prm" files to WAV and describes
// them; every failure is reported on stderr with a non-zero exit and leaves no partial output.
#include "FrameFile.h"
#include "WavWriter.h"
#include "codec/SpeechCodec.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
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
    "  decode IN.prm OUT.wav   decode a frame file into an 8 kHz 16-bit mono WAV file\n"
    "  info IN.prm             show frames, duration, an incomplete last frame and invalid frames\n"
    "\n"
    "Options:\n"
    "  -h, --help              show this help and exit\n"
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

bool OpenFrames(CFrameFileReader& reader, const std::string& path, std::string& error) {
    if (!reader.Open(path, error)) {
        return false;
    }
    if (reader.FileBytes() == 0) {
        error = "'" + path + "' is empty: it holds no frames";
        return false;
    }
    if (reader.FrameCount() == 0) {
        error = "'" + path + "' holds no whole frame (" + std::to_string(reader.FileBytes()) +
                " bytes; a frame has " + std::to_string(kPackedFrameBytes) + ")";
        return false;
    }
    return true;
}

void WarnAboutTrailingBytes(const CFrameFileReader& reader, const std::string& path) {
    if (reader.TrailingBytes() != 0) {
        std::fprintf(stderr,
                     "prmcodec: warning: '%s' ends in an incomplete frame; its %d bytes are ignored\n",
                     path.c_str(), reader.TrailingBytes());
    }
}

int Decode(const std::string& inPath, const std::string& outPath) {
    std::string error;
    CFrameFileReader reader;
    if (!OpenFrames(reader, inPath, error)) {
        return Fail(error);
    }
    CWavWriter writer;
    if (!writer.Create(outPath, kSampleRate, error)) {
        return Fail(error);
    }
    // A few hundred frames per write keep the file calls few without holding the whole file.
    constexpr std::size_t kFramesPerWrite = 256;
    std::vector<std::int16_t> samples;
    samples.reserve(kFramesPerWrite * kFrameSamples);
    CSpeechCodec codec;
    PackedFrame frame{};
    std::array<std::int16_t, kFrameSamples> decoded{};
    for (;;) {
        const ReadStatus status = reader.Next(frame, error);
        if (status == ReadStatus::Error) {
            return Fail(error);
        }
        if (status == ReadStatus::Frame) {
            codec.DecodeFrame(frame, decoded);
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
    if (!writer.Commit(error)) {
        return Fail(error);
    }
    WarnAboutTrailingBytes(reader, inPath);
    std::printf("Decoded %" PRIu64 " frames (%s) from %s into %s\n", reader.FrameCount(),
                FormatDuration(reader.FrameCount()).c_str(), inPath.c_str(), outPath.c_str());
    return 0;
}

int Info(const std::string& inPath) {
    std::string error;
    CFrameFileReader reader;
    if (!OpenFrames(reader, inPath, error)) {
        return Fail(error);
    }
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
    std::printf("File:                  %s\n", inPath.c_str());
    std::printf("Size:                  %" PRIu64 " bytes\n", reader.FileBytes());
    std::printf("Frames:                %" PRIu64 "\n", reader.FrameCount());
    std::printf("Duration:              %s (%.2f s)\n", FormatDuration(reader.FrameCount()).c_str(),
                static_cast<double>(reader.FrameCount()) * kFrameSamples / kSampleRate);
    std::printf("Incomplete last frame: %d bytes\n", reader.TrailingBytes());
    std::printf("Invalid frames:        %" PRIu64 "\n", invalid);
    return 0;
}

struct Command {
    const char* name;
    int arguments;
    const char* synopsis;
};

constexpr Command kCommands[] = {
    {"decode", 2, "decode IN.prm OUT.wav"},
    {"info", 1, "info IN.prm"},
};

int Run(const std::vector<std::string>& args) {
    if (args.empty()) {
        return UsageError("no command given");
    }
    for (const std::string& arg : args) {
        if (arg == "-h" || arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    const std::string& name = args[0];
    for (const Command& command : kCommands) {
        if (name != command.name) {
            continue;
        }
        if (static_cast<int>(args.size()) - 1 != command.arguments) {
            return UsageError(std::string("usage: prmcodec ") + command.synopsis);
        }
        if (name == "decode") {
            return Decode(args[1], args[2]);
        }
        return Info(args[1]);
    }
    return UsageError("unknown command '" + name + "'");
}

} // namespace
} // namespace velmar

int main(int argc, char** argv) {
    return velmar::Run(std::vector<std::string>(argv + 1, argv + argc));
}
