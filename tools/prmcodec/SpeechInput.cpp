#include "SpeechInput.h"

#include "FrameFile.h"
#include "SoundLibraries.h"
#include "codec/CodecConstants.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace velmar {
namespace {

constexpr std::size_t kChunkFrames = 4096;

// Full-scale doubles (as libsndfile normalises them) to 16-bit samples, rounded to nearest and
// clipped; a 16-bit source comes back exactly.
std::int16_t ToSample(double v) {
    const double scaled = v * 32768.0;
    if (!(scaled > -32768.0)) {
        return scaled != scaled ? 0 : INT16_MIN;
    }
    if (scaled >= 32767.0) {
        return INT16_MAX;
    }
    return static_cast<std::int16_t>(std::lround(scaled));
}

// Opens `path` for reading, or takes standard input for "-". Only a failure to open gets here, so
// its message is the system's and never a hint about formats.
bool OpenInput(const std::string& path, CFileDescriptor& file, std::string& error) {
    const std::string name = path == "-" ? "standard input" : path;
    file = CFileDescriptor(path == "-" ? ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 0)
                                       : ::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsOpen()) {
        error = "cannot open '" + name + "': " + ErrorText(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0) {
        error = "cannot read '" + name + "': " + ErrorText(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        error = "cannot read '" + name + "': " + ErrorText(EISDIR);
        return false;
    }
    return true;
}

// Reads a whole descriptor (a pipe) into memory, for libsndfile to parse like a file.
bool ReadAll(CFileDescriptor& file, std::vector<std::uint8_t>& bytes, const std::string& name,
             std::string& error) {
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t got = file.ReadFully(chunk, sizeof chunk);
        if (got < 0) {
            error = "cannot read '" + name + "': " + ErrorText(errno);
            return false;
        }
        bytes.insert(bytes.end(), chunk, chunk + got);
        if (static_cast<std::size_t>(got) < sizeof chunk) {
            return true; // short only at the end
        }
    }
}

// libsndfile's virtual I/O over an in-memory copy of standard input.
struct MemoryFile {
    std::vector<std::uint8_t> bytes;
    sf_count_t position = 0;

    static sf_count_t Length(void* self) {
        return static_cast<sf_count_t>(static_cast<MemoryFile*>(self)->bytes.size());
    }
    static sf_count_t Seek(sf_count_t offset, int whence, void* self) {
        auto* m = static_cast<MemoryFile*>(self);
        const sf_count_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->position : Length(self);
        m->position = std::clamp<sf_count_t>(base + offset, 0, Length(self));
        return m->position;
    }
    static sf_count_t Read(void* out, sf_count_t count, void* self) {
        auto* m = static_cast<MemoryFile*>(self);
        const sf_count_t n = std::min(count, Length(self) - m->position);
        std::memcpy(out, m->bytes.data() + m->position, static_cast<std::size_t>(n));
        m->position += n;
        return n;
    }
    static sf_count_t Write(const void*, sf_count_t, void*) { return 0; }
    static sf_count_t Tell(void* self) { return static_cast<MemoryFile*>(self)->position; }
};

} // namespace

struct CSpeechInput::Impl {
    std::string name;
    bool raw = false;

    // Raw input, read in large pieces that each take what is there (so a pipe's frame is handed on
    // as soon as it is whole, and a file costs a call per 64 KiB, not per frame). The bytes not yet
    // turned into samples wait in rawBuffer from rawBegin to rawEnd, a lone odd byte among them.
    CFileDescriptor rawFile;
    std::vector<std::uint8_t> rawBuffer;
    std::size_t rawBegin = 0;
    std::size_t rawEnd = 0;

    // Decoded input, through the libraries loaded when the first such input opens.
    const SndfileFunctions* sndfile = nullptr;
    const SamplerateFunctions* samplerate = nullptr; // only for a rate other than 8000 Hz
    CFileDescriptor decodedFile;
    MemoryFile memory;
    SF_VIRTUAL_IO virtualIo{&MemoryFile::Length, &MemoryFile::Seek, &MemoryFile::Read, &MemoryFile::Write,
                            &MemoryFile::Tell};
    SNDFILE* sound = nullptr;
    SF_INFO info{};
    SRC_STATE* resampler = nullptr;
    std::vector<double> frames; // interleaved, as read
    std::vector<float> mono;    // mixed input waiting for the resampler
    std::size_t monoStart = 0;
    std::vector<float> converted; // resampler output not yet handed out
    std::size_t convertedStart = 0;
    bool inputEnded = false;
    bool resamplerDrained = false;

    double durationSeconds = -1.0;
    long long inputFramesConsumed = 0;
    double inputRate = kSampleRate;

    ~Impl() {
        if (resampler != nullptr) {
            samplerate->Delete(resampler);
        }
        if (sound != nullptr) {
            sndfile->Close(sound);
        }
    }

    bool OpenRaw(const std::string& path, std::string& error) {
        raw = true;
        // Read as it comes, from a file, a pipe or standard input alike: a long stream is never held
        // whole in memory.
        if (!OpenInput(path, rawFile, error)) {
            return false;
        }
        struct stat st {};
        if (::fstat(rawFile.Get(), &st) == 0 && S_ISREG(st.st_mode) && path != "-") {
            durationSeconds = static_cast<double>(st.st_size / 2) / kSampleRate;
        }
        return true;
    }

    bool OpenDecoded(const std::string& path, std::string& error) {
        CFileDescriptor input;
        if (!OpenInput(path, input, error)) {
            return false;
        }
        // After the input opened, so that a missing file is reported as that; before a pipe is
        // read whole for nothing.
        sndfile = &Sndfile();
        if (!sndfile->error.empty()) {
            error = "cannot read '" + name + "': ";
            error += sndfile->error;
            error += " (--raw reads headerless 16-bit 8 kHz mono without it)";
            return false;
        }
        struct stat st {};
        if (::fstat(input.Get(), &st) == 0 && S_ISREG(st.st_mode) && path != "-") {
            // libsndfile reads through our descriptor and leaves closing it to us.
            decodedFile = std::move(input);
            sound = sndfile->OpenFd(decodedFile.Get(), SFM_READ, &info, SF_FALSE);
        } else {
            // A pipe cannot seek, which most formats' readers need: it is read whole first.
            if (!ReadAll(input, memory.bytes, name, error)) {
                return false;
            }
            sound = sndfile->OpenVirtual(&virtualIo, SFM_READ, &info, &memory);
        }
        if (sound == nullptr) {
            error = "cannot read '" + name + "' as audio: " + sndfile->StrError(nullptr) +
                    " (use --raw for headerless 16-bit 8 kHz mono)";
            return false;
        }
        if (info.channels < 1 || info.samplerate < 1) {
            error = "'" + name + "' has no usable audio";
            return false;
        }
        inputRate = info.samplerate;
        if (info.frames > 0) {
            durationSeconds = static_cast<double>(info.frames) / info.samplerate;
        }
        if (info.samplerate != kSampleRate) {
            samplerate = &Samplerate();
            if (!samplerate->error.empty()) {
                error = "cannot resample '" + name + "' from ";
                error += std::to_string(info.samplerate);
                error += " Hz: ";
                error += samplerate->error;
                return false;
            }
            int failure = 0;
            resampler = samplerate->New(SRC_SINC_BEST_QUALITY, 1, &failure);
            if (resampler == nullptr) {
                error = std::string("cannot start the resampler: ") + samplerate->StrError(failure);
                return false;
            }
        }
        return true;
    }

    long ReadRaw(std::span<std::int16_t> out, std::string& error) {
        constexpr std::size_t kRawBufferBytes = 1 << 16;
        if (rawBuffer.empty()) {
            rawBuffer.resize(kRawBufferBytes);
        }
        std::size_t filled = 0;
        while (filled < out.size()) {
            if (rawEnd - rawBegin < 2) {
                // An odd byte left over moves to the front; the next read goes behind it.
                if (rawBegin != rawEnd) {
                    rawBuffer[0] = rawBuffer[rawBegin];
                }
                rawEnd -= rawBegin;
                rawBegin = 0;
                ssize_t got = 0;
                do {
                    got = ::read(rawFile.Get(), rawBuffer.data() + rawEnd, rawBuffer.size() - rawEnd);
                } while (got < 0 && errno == EINTR);
                if (got < 0) {
                    error = "cannot read '" + name + "': " + ErrorText(errno);
                    return -1;
                }
                if (got == 0) {
                    break; // end of input; a lone last byte is not a sample
                }
                rawEnd += static_cast<std::size_t>(got);
                continue;
            }
            const std::size_t count = std::min(out.size() - filled, (rawEnd - rawBegin) / 2);
            const std::uint8_t* bytes = rawBuffer.data() + rawBegin;
            for (std::size_t i = 0; i < count; ++i) {
                out[filled + i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            }
            filled += count;
            rawBegin += 2 * count;
        }
        inputFramesConsumed += static_cast<long long>(filled);
        return static_cast<long>(filled);
    }

    // Reads the next chunk of the file and mixes it to mono; false at the end.
    bool ReadMono() {
        frames.resize(kChunkFrames * static_cast<std::size_t>(info.channels));
        const sf_count_t got =
            sndfile->ReadfDouble(sound, frames.data(), static_cast<sf_count_t>(kChunkFrames));
        if (got <= 0) {
            return false;
        }
        for (sf_count_t f = 0; f < got; ++f) {
            double sum = 0.0;
            for (int c = 0; c < info.channels; ++c) {
                sum += frames[static_cast<std::size_t>(f * info.channels + c)];
            }
            mono.push_back(static_cast<float>(sum / info.channels));
        }
        inputFramesConsumed += got;
        return true;
    }

    long ReadDecoded(std::span<std::int16_t> out, std::string& error) {
        std::size_t filled = 0;
        if (resampler == nullptr) {
            // Already at 8 kHz: mix in doubles, so a 16-bit mono file passes through exactly.
            frames.resize(out.size() * static_cast<std::size_t>(info.channels));
            const sf_count_t got =
                sndfile->ReadfDouble(sound, frames.data(), static_cast<sf_count_t>(out.size()));
            for (sf_count_t f = 0; f < got; ++f) {
                double sum = 0.0;
                for (int c = 0; c < info.channels; ++c) {
                    sum += frames[static_cast<std::size_t>(f * info.channels + c)];
                }
                out[filled++] = ToSample(sum / info.channels);
            }
            inputFramesConsumed += got;
            return static_cast<long>(filled);
        }
        while (filled < out.size()) {
            if (convertedStart < converted.size()) {
                const std::size_t n = std::min(out.size() - filled, converted.size() - convertedStart);
                for (std::size_t i = 0; i < n; ++i) {
                    out[filled++] = ToSample(converted[convertedStart + i]);
                }
                convertedStart += n;
                continue;
            }
            if (resamplerDrained) {
                break;
            }
            if (!inputEnded && mono.size() - monoStart < kChunkFrames) {
                mono.erase(mono.begin(), mono.begin() + static_cast<std::ptrdiff_t>(monoStart));
                monoStart = 0;
                inputEnded = !ReadMono();
            }
            converted.resize(kChunkFrames);
            convertedStart = 0;
            SRC_DATA data{};
            data.data_in = mono.data() + monoStart;
            data.input_frames = static_cast<long>(mono.size() - monoStart);
            data.data_out = converted.data();
            data.output_frames = static_cast<long>(converted.size());
            data.end_of_input = inputEnded ? 1 : 0;
            data.src_ratio = kSampleRate / inputRate;
            const int failure = samplerate->Process(resampler, &data);
            if (failure != 0) {
                error = std::string("resampling failed: ") + samplerate->StrError(failure);
                return -1;
            }
            monoStart += static_cast<std::size_t>(data.input_frames_used);
            converted.resize(static_cast<std::size_t>(data.output_frames_gen));
            if (inputEnded && data.output_frames_gen == 0 && monoStart == mono.size()) {
                resamplerDrained = true;
            }
        }
        return static_cast<long>(filled);
    }
};

CSpeechInput::CSpeechInput()
    : impl(std::make_unique<Impl>()) {
}

CSpeechInput::~CSpeechInput() = default;

bool CSpeechInput::Open(const std::string& path, bool raw, std::string& error) {
    impl = std::make_unique<Impl>();
    impl->name = path == "-" ? "standard input" : path;
    return raw ? impl->OpenRaw(path, error) : impl->OpenDecoded(path, error);
}

long CSpeechInput::Read(std::span<std::int16_t> out, std::string& error) {
    return impl->raw ? impl->ReadRaw(out, error) : impl->ReadDecoded(out, error);
}

double CSpeechInput::DurationSeconds() const {
    return impl->durationSeconds;
}

double CSpeechInput::ConsumedSeconds() const {
    return static_cast<double>(impl->inputFramesConsumed) / impl->inputRate;
}

} // namespace velmar
