#include "codec/RecordingCheck.h"

#include "codec/FrameFormat.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace velmar {
namespace {

struct ContainerSignature {
    std::string_view magic;
    const char* format;
};

// Formats a user may plausibly pick instead of a recording, each recognised by its first bytes.
constexpr std::array<ContainerSignature, 11> kContainerSignatures = {{
    {"RIFF", "WAV (RIFF)"},
    {"RIFX", "WAV (RIFX)"},
    {"RF64", "WAV (RF64)"},
    {"OggS", "Ogg"},
    {"fLaC", "FLAC"},
    {"ID3", "MP3 (ID3)"},
    {"FORM", "AIFF (FORM)"},
    {"caff", "Core Audio (caff)"},
    {"#!AMR", "AMR"},
    {".snd", "Sun audio (.snd)"},
    {"\x1A\x45\xDF\xA3", "Matroska/WebM"},
}};

// The two spare bits sit at the bottom of a frame's first byte and the encoder always clears them,
// so none of these signatures can open a recording the encoder made.
constexpr bool SignaturesSetASpareBit() {
    for (const ContainerSignature& signature : kContainerSignatures) {
        if ((static_cast<unsigned char>(signature.magic[0]) & 0x03U) == 0) {
            return false;
        }
    }
    return true;
}
static_assert(SignaturesSetASpareBit(), "a container signature must not be able to start a recording");

const char* ContainerAtStart(std::span<const std::uint8_t> bytes) {
    for (const ContainerSignature& signature : kContainerSignatures) {
        if (bytes.size() >= signature.magic.size() &&
            std::equal(signature.magic.begin(), signature.magic.end(), bytes.begin(),
                       [](char expected, std::uint8_t actual) {
                           return static_cast<std::uint8_t>(expected) == actual;
                       })) {
            return signature.format;
        }
    }
    return nullptr;
}

} // namespace

LeadingFramesVerdict JudgeLeadingFrames(std::span<const std::uint8_t> leadingBytes) noexcept {
    LeadingFramesVerdict verdict;
    const auto wholeFrames = static_cast<int>(leadingBytes.size() / kPackedFrameBytes);
    verdict.framesJudged = std::min(wholeFrames, kJudgedFrames);
    for (int i = 0; i < verdict.framesJudged; ++i) {
        const auto frame =
            leadingBytes.subspan(static_cast<std::size_t>(i) * kPackedFrameBytes).first<kPackedFrameBytes>();
        if (UnpackFrame(frame, 0).erased != 0) {
            ++verdict.invalidFrames;
        }
    }
    if (const char* container = ContainerAtStart(leadingBytes)) {
        verdict.judgement = FrameJudgement::ContainerSignature;
        verdict.container = container;
    } else if (verdict.invalidFrames >= kInvalidFramesOfNonRecording) {
        verdict.judgement = FrameJudgement::InvalidFrames;
    }
    return verdict;
}

} // namespace velmar
