// velmar-recorder: the Velmar Voice Recorder/Player window.
#include "app/DialogTexts.h"
#include "app/RecorderApp.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(velmar::texts::kUsage, stdout);
            return 0;
        }
    }
    velmar::CRecorderApp app(argc, argv);
    app.InitInstance();
    return app.ExitCode();
}
