// Which lines of standard error are the sound libraries' chatter: dropping one of ours (or a
// sanitizer's, or Qt's) would hide a real report; keeping theirs floods the terminal.
#include "audio/LibraryNoise.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

struct NoiseCase {
    const char* line;
    bool noise;
};

TEST(LibraryNoise, DropsTheSoundLibrariesLinesAndKeepsEveryOtherLine) {
    const NoiseCase cases[] = {
        {"Expression 'alsa_snd_pcm_poll_descriptors_revents( self->pcm, pfds, self->nfds, &revents )' "
         "failed in 'src/hostapi/alsa/pa_linux_alsa.c', line: 3665\n",
         true},
        {"ALSA lib pcm.c:2664:(snd_pcm_open_noupdate) Unknown PCM cards.pcm.rear\n", true},
        {"PaAlsaStreamComponent_EndPolling: revents error\n", true},
        {"Cannot connect to server socket err = No such file or directory\n", true},
        {"jack server is not running or cannot be started\n", true},
        {"prmcodec: recording failed: The sound device reported an unspecified error.\n", false},
        {"prmcodec: warning: 0.9 s of audio could not be stored in time and is missing\n", false},
        {"==1234==ERROR: AddressSanitizer: heap-use-after-free on address 0x602000000010\n", false},
        {"WARNING: ThreadSanitizer: data race (pid=42)\n", false},
        {"qt.qpa.xcb: could not connect to display\n", false},
        {"Recording out.prm  0:03.1  (Ctrl+C stops)\r", false},
        {"", false},
    };
    for (const NoiseCase& c : cases) {
        EXPECT_EQ(IsSoundLibraryNoise(c.line), c.noise) << c.line;
    }
}

} // namespace
} // namespace velmar
