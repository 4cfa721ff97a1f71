#include "codec/FrameFormat.h"

#include <cassert>

namespace velmar {
namespace {

// The frame is read as little-endian words (four 32-bit, one 16-bit), so bit b of the word that
// starts at byte k is bit 8k + b of the frame as a whole: one list of absolute bit offsets
// describes the layout.
enum class Field {
    Spare,
    LspIndex,
    LagCode0,
    LagCode1,
    LagDelta1,
    LagDelta3,
    Signs0,
    Signs1,
    Signs2,
    Signs3,
    Positions0,
    Positions1,
    Positions2,
    Positions3,
    Gain0,
    Gain1,
    Gain2,
    Gain3,
    Count
};

struct FieldPlace {
    Field field;
    int bitOffset;
    int width;
};

constexpr int kWord0 = 0;
constexpr int kWord1 = 32;
constexpr int kWord2 = 64;
constexpr int kWord3 = 96;
constexpr int kHalfWord = 128;

constexpr std::array<FieldPlace, static_cast<int>(Field::Count)> kLayout = {{
    {Field::Spare, kWord0 + 0, 2},
    {Field::LagDelta1, kWord0 + 2, 2},
    {Field::Signs0, kWord0 + 4, 4},
    {Field::LspIndex, kWord0 + 8, 24},
    {Field::Positions0, kWord1 + 0, 11},
    {Field::Positions2, kWord1 + 11, 11},
    {Field::Gain1, kWord1 + 22, 10},
    {Field::Signs3, kWord2 + 0, 4},
    {Field::Signs2, kWord2 + 4, 4},
    {Field::Signs1, kWord2 + 8, 4},
    {Field::Gain0, kWord2 + 12, 10},
    {Field::Gain2, kWord2 + 22, 10},
    {Field::Gain3, kWord3 + 0, 10},
    {Field::Positions3, kWord3 + 10, 11},
    {Field::Positions1, kWord3 + 21, 11},
    {Field::LagDelta3, kHalfWord + 0, 2},
    {Field::LagCode1, kHalfWord + 2, 7},
    {Field::LagCode0, kHalfWord + 9, 7},
}};

constexpr bool LayoutCoversFrameOnce() {
    std::array<int, kFrameBits> used{};
    for (const FieldPlace& place : kLayout) {
        for (int b = place.bitOffset; b < place.bitOffset + place.width; ++b) {
            if (b >= kFrameBits || used[b]++ != 0) {
                return false;
            }
        }
    }
    for (int u : used) {
        if (u != 1) {
            return false;
        }
    }
    return true;
}
static_assert(LayoutCoversFrameOnce(), "every bit of the frame belongs to exactly one field");

using FieldValues = std::array<std::uint32_t, static_cast<int>(Field::Count)>;

std::uint32_t& At(FieldValues& values, Field field) {
    return values[static_cast<int>(field)];
}

constexpr int Index(Field first, int i) {
    return static_cast<int>(first) + i;
}

// Every field lies inside one 32-bit word of the frame, so fields are placed and read a word at
// a time; the frame's 144 bits are five words, the last one half used.
constexpr int kWordBits = 32;
constexpr int kWords = (kFrameBits + kWordBits - 1) / kWordBits;
using FrameWords = std::array<std::uint32_t, kWords>;

constexpr bool FieldsStayInsideWords() {
    for (const FieldPlace& place : kLayout) {
        if (place.bitOffset / kWordBits != (place.bitOffset + place.width - 1) / kWordBits) {
            return false;
        }
    }
    return true;
}
static_assert(FieldsStayInsideWords());

FrameWords ReadWords(std::span<const std::uint8_t, kPackedFrameBytes> in) {
    FrameWords words{};
    for (int byte = 0; byte < kPackedFrameBytes; ++byte) {
        words[byte / 4] |= static_cast<std::uint32_t>(in[byte]) << (8 * (byte % 4));
    }
    return words;
}

void WriteWords(const FrameWords& words, std::span<std::uint8_t, kPackedFrameBytes> out) {
    for (int byte = 0; byte < kPackedFrameBytes; ++byte) {
        out[byte] = static_cast<std::uint8_t>(words[byte / 4] >> (8 * (byte % 4)));
    }
}

FieldValues FieldsOf(const FrameParams& params) {
    FieldValues values{};
    At(values, Field::LspIndex) = static_cast<std::uint32_t>(params.lspIndex);
    At(values, Field::LagCode0) = static_cast<std::uint32_t>(params.pitchLag[0] - kMinPitchLag);
    At(values, Field::LagCode1) = static_cast<std::uint32_t>(params.pitchLag[1] - kMinPitchLag);
    At(values, Field::LagDelta1) = static_cast<std::uint32_t>(params.sub[1].lagDelta);
    At(values, Field::LagDelta3) = static_cast<std::uint32_t>(params.sub[3].lagDelta);
    for (int i = 0; i < kSubframes; ++i) {
        const SubframeParams& s = params.sub[i];
        values[Index(Field::Signs0, i)] = static_cast<std::uint32_t>(s.pulseSigns);
        values[Index(Field::Positions0, i)] = static_cast<std::uint32_t>(s.pulsePositions);
        values[Index(Field::Gain0, i)] =
            static_cast<std::uint32_t>(s.pitchGainIndex * kPulseGainLevels + s.pulseGainIndex);
    }
    return values;
}

} // namespace

void PackFrame(const FrameParams& params, std::span<std::uint8_t, kPackedFrameBytes> out) noexcept {
    const FieldValues values = FieldsOf(params);
    FrameWords words{};
    for (const FieldPlace& place : kLayout) {
        const std::uint32_t value = values[static_cast<int>(place.field)];
        const std::uint32_t mask = place.width == kWordBits ? ~0U : (1U << place.width) - 1U;
        assert((value & ~mask) == 0 && "frame field out of range");
        words[place.bitOffset / kWordBits] |= (value & mask) << (place.bitOffset % kWordBits);
    }
    WriteWords(words, out);
}

FrameParams UnpackFrame(std::span<const std::uint8_t, kPackedFrameBytes> frame,
                        std::int16_t erased) noexcept {
    FrameParams params;
    if (erased != 0) {
        // Nothing is read from a frame the caller has already given up; the record keeps its
        // defaults (all gains off, lags at the invalid-frame fallback).
        params.erased = erased;
        params.pitchLag = {kInvalidFramePitchLag, kInvalidFramePitchLag};
        return params;
    }

    const FrameWords words = ReadWords(frame);
    FieldValues values{};
    for (const FieldPlace& place : kLayout) {
        const std::uint32_t mask = place.width == kWordBits ? ~0U : (1U << place.width) - 1U;
        values[static_cast<int>(place.field)] =
            (words[place.bitOffset / kWordBits] >> (place.bitOffset % kWordBits)) & mask;
    }

    params.lspIndex = static_cast<std::int32_t>(At(values, Field::LspIndex));
    params.sub[1].lagDelta = static_cast<std::int32_t>(At(values, Field::LagDelta1));
    params.sub[3].lagDelta = static_cast<std::int32_t>(At(values, Field::LagDelta3));
    for (int i = 0; i < kSubframes; ++i) {
        SubframeParams& s = params.sub[i];
        s.pulseSigns = static_cast<std::int32_t>(values[Index(Field::Signs0, i)]);
        s.pulsePositions = static_cast<std::int32_t>(values[Index(Field::Positions0, i)]);
    }

    // An undefined gain code silences the pitch contribution of its subframe and all later ones;
    // the lags of such a frame are not trusted either.
    for (int i = 0; i < kSubframes; ++i) {
        const auto gainCode = static_cast<std::int32_t>(values[Index(Field::Gain0, i)]);
        const std::int32_t row = gainCode / kPulseGainLevels;
        if (row >= kPitchGainRows) {
            for (int j = i; j < kSubframes; ++j) {
                params.sub[j].pitchGainIndex = 0;
                params.sub[j].pulseGainIndex = 0;
            }
            params.pitchLag = {kInvalidFramePitchLag, kInvalidFramePitchLag};
            params.erased = 1;
            return params;
        }
        params.sub[i].pitchGainIndex = row;
        params.sub[i].pulseGainIndex = gainCode % kPulseGainLevels;
    }

    const auto lagCode0 = static_cast<std::int32_t>(At(values, Field::LagCode0));
    const auto lagCode1 = static_cast<std::int32_t>(At(values, Field::LagCode1));
    if (lagCode0 > kMaxPitchLagCode) {
        params.pitchLag = {kInvalidFramePitchLag, kInvalidFramePitchLag};
        params.erased = 1;
        return params;
    }
    params.pitchLag[0] = lagCode0 + kMinPitchLag;
    if (lagCode1 > kMaxPitchLagCode) {
        params.pitchLag[1] = kInvalidFramePitchLag;
        params.erased = 1;
    } else {
        params.pitchLag[1] = lagCode1 + kMinPitchLag;
    }
    return params;
}

} // namespace velmar
