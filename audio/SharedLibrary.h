// A library of the system opened with dlopen when first needed rather than linked: the sound
// libraries pull in a score of others (ALSA, JACK, codecs of every format), and a program that never
// touches them should not pay for loading them. Once opened, a library stays for the rest of the
// process: a call still running in it (one given up as wedged, say) must never find it gone.
#pragma once

#include <string>

namespace velmar {

class CSharedLibrary {
public:
    // Opens `soname` (e.g. "libportaudio.so.2"); `title` names the library in the failure text.
    CSharedLibrary(const char* title, const char* soname);
    // Never closes the library; see above.
    ~CSharedLibrary() = default;
    CSharedLibrary(const CSharedLibrary&) = delete;
    CSharedLibrary& operator=(const CSharedLibrary&) = delete;

    // Points `function` at the library's `symbol`. A symbol the library lacks leaves it null and
    // makes the whole library count as not loaded: a caller never reaches half a library.
    template <typename Function> void Resolve(Function*& function, const char* symbol) {
        function = reinterpret_cast<Function*>(Find(symbol));
    }

    bool Loaded() const { return error.empty(); }
    // Why the library cannot be used, in words for the user: "PortAudio (libportaudio.so.2) could
    // not be loaded: ..."; empty when it is loaded.
    const std::string& Error() const { return error; }

private:
    void* Find(const char* symbol);

    std::string name; // "title (soname)"
    void* handle = nullptr;
    std::string error;
};

// The function table `Table` of one library, filled the first time any thread asks for it and the
// same ever after. `Table` names its library (kTitle, kSoname), points its members at the functions
// in Resolve(CSharedLibrary&) and holds the failure in `error` (empty when every function is there).
template <typename Table> const Table& LibraryTable() {
    // Never freed, like the library: a call given up as wedged may still be running as the process
    // ends.
    static const Table* const table = [] {
        auto* filled = new Table{};
        CSharedLibrary library(Table::kTitle, Table::kSoname);
        filled->Resolve(library);
        filled->error = library.Error();
        return filled;
    }();
    return *table;
}

} // namespace velmar
