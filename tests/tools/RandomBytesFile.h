// The decoder's random-bytes vector as the info tests use it: plainly no recording, with frames the
// decoder counts as invalid and five stray bytes after the last whole frame.
#pragma once

#include "codec/SpeechCodec.h"
#include "support/TestData.h"

#include <cstdint>
#include <vector>

namespace velmar::test {

struct RandomBytesFile {
    std::vector<std::uint8_t> bytes;
    std::size_t invalidFrames = 0;
};

inline RandomBytesFile RandomBytesWithIncompleteTail() {
    RandomBytesFile file;
    file.bytes = ReadBytes(DataDir() / "vectors" / "decoder" / "random_bytes.prm");
    for (std::size_t at = 0; at + kPackedFrameBytes <= file.bytes.size(); at += kPackedFrameBytes) {
        file.invalidFrames +=
            UnpackFrame(ConstPackedFrameView(file.bytes.data() + at, kPackedFrameBytes), 0).erased;
    }
    file.bytes.insert(file.bytes.end(), 5, 0);
    return file;
}

} // namespace velmar::test
