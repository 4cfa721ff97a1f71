#include "audio/SharedLibrary.h"

#include <dlfcn.h>

namespace velmar {

CSharedLibrary::CSharedLibrary(const char* title, const char* soname)
    : name(title) {
    name += " (";
    name += soname;
    name += ")";
    // RTLD_NOW: a library too old for us fails here, not at its first call in the middle of a run.
    handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* reason = ::dlerror();
        error = name;
        error += " could not be loaded: ";
        error += reason != nullptr ? reason : "unknown error";
    }
}

void* CSharedLibrary::Find(const char* symbol) {
    if (handle == nullptr) {
        return nullptr;
    }
    void* address = ::dlsym(handle, symbol);
    if (address == nullptr && error.empty()) {
        error = name;
        error += " could not be loaded: it lacks ";
        error += symbol;
    }
    return address;
}

} // namespace velmar
