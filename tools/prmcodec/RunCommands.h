// prmcodec's live commands: recording from the machine's default input device into a ".prm" file
// and playing one through its default output device, both through the recorder's own pipeline.
#pragma once

#include "codec/PostFilter.h"

#include <string>

namespace velmar {

// Records into `outPath` until Ctrl+C (or SIGTERM), or for `seconds` of speech when above 0.
// Returns the process exit status: 0 when a recording was made, 1 on failure.
int RecordCommand(const std::string& outPath, int seconds);

// Plays `inPath` from `fromPercent` (0 .. 100) of its frames to its end or until Ctrl+C, as `mode`
// asks. Returns the process exit status.
int PlayCommand(const std::string& inPath, int fromPercent, DecodeMode mode);

} // namespace velmar
