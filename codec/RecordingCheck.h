// Whether the first bytes of a file are plausibly coded frames at all. A ".prm" file has no header
// and any 18 bytes unpack, so a file of another kind (a WAV file, random bytes) would be decoded into
// full-scale noise. Two signs give such a file away: a container signature at its start, which a
// frame made by the encoder can never carry (every signature sets a spare bit, and the encoder
// leaves the spare bits clear), and many invalid frames among its first frames (the encoder makes
// none; random bytes give about 11 in 100, a WAV file about 65).
#pragma once

#include <cstdint>
#include <span>

namespace velmar {

// How many leading frames are judged, and how many invalid ones among them mark a file that is not
// a recording.
inline constexpr int kJudgedFrames = 100;
inline constexpr int kInvalidFramesOfNonRecording = 5;

enum class FrameJudgement {
    Plausible,          // may be a recording
    ContainerSignature, // starts with the signature of another file format
    InvalidFrames,      // too many invalid frames among the first ones
};

struct LeadingFramesVerdict {
    FrameJudgement judgement = FrameJudgement::Plausible;
    const char* container = nullptr; // the format whose signature was found, e.g. "WAV (RIFF)"
    int framesJudged = 0;            // whole frames looked at, at most kJudgedFrames
    int invalidFrames = 0;           // of those, the frames that unpack as invalid

    bool IsPlausible() const { return judgement == FrameJudgement::Plausible; }
};

// Judges `leadingBytes`, the start of a file (whole frames beyond kJudgedFrames are ignored, as is
// an incomplete last frame).
LeadingFramesVerdict JudgeLeadingFrames(std::span<const std::uint8_t> leadingBytes) noexcept;

} // namespace velmar
