// libsndfile and libsamplerate, opened when an input first needs them rather than linked: with the
// codecs of every format beneath them they cost more to load than a short decode takes, and raw
// input, decode and info never use them. A table that could not be loaded has `error` set, naming
// the library and why.
#pragma once

#include "audio/SharedLibrary.h"

#include <samplerate.h>
#include <sndfile.h>

#include <string>

namespace velmar {

struct SndfileFunctions {
    static constexpr const char* kTitle = "libsndfile";
    static constexpr const char* kSoname = "libsndfile.so.1";

    decltype(&sf_open_fd) OpenFd = nullptr;
    decltype(&sf_open_virtual) OpenVirtual = nullptr;
    decltype(&sf_readf_double) ReadfDouble = nullptr;
    decltype(&sf_close) Close = nullptr;
    decltype(&sf_strerror) StrError = nullptr;
    std::string error;

    void Resolve(CSharedLibrary& library);
};

struct SamplerateFunctions {
    static constexpr const char* kTitle = "libsamplerate";
    static constexpr const char* kSoname = "libsamplerate.so.0";

    decltype(&src_new) New = nullptr;
    decltype(&src_process) Process = nullptr;
    decltype(&src_delete) Delete = nullptr;
    decltype(&src_strerror) StrError = nullptr;
    std::string error;

    void Resolve(CSharedLibrary& library);
};

// Each loads its library on the first call from any thread.
inline const SndfileFunctions& Sndfile() {
    return LibraryTable<SndfileFunctions>();
}
inline const SamplerateFunctions& Samplerate() {
    return LibraryTable<SamplerateFunctions>();
}

} // namespace velmar
