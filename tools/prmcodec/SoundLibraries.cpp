#include "SoundLibraries.h"

namespace velmar {

void SndfileFunctions::Resolve(CSharedLibrary& library) {
    library.Resolve(OpenFd, "sf_open_fd");
    library.Resolve(OpenVirtual, "sf_open_virtual");
    library.Resolve(ReadfDouble, "sf_readf_double");
    library.Resolve(Close, "sf_close");
    library.Resolve(StrError, "sf_strerror");
}

void SamplerateFunctions::Resolve(CSharedLibrary& library) {
    library.Resolve(New, "src_new");
    library.Resolve(Process, "src_process");
    library.Resolve(Delete, "src_delete");
    library.Resolve(StrError, "src_strerror");
}

} // namespace velmar
