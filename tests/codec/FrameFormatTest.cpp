#include "codec/FrameFormat.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

PackedFrame Pack(const FrameParams& params) {
    PackedFrame frame{};
    PackFrame(params, frame);
    return frame;
}

FrameParams Unpack(const PackedFrame& frame) {
    return UnpackFrame(frame, 0);
}

FrameParams WorkedExample() {
    FrameParams p;
    p.lspIndex = 0xABCDEF;
    p.pitchLag = {60, 141};
    p.sub[0] = {1, 5, 7, 0b1010, 0x5A3};
    p.sub[1] = {2, 41, 23, 1, 0x7FF};
    p.sub[2] = {1, 0, 0, 0, 0};
    p.sub[3] = {3, 20, 12, 15, 0x123};
    return p;
}

// Sets the 10-bit gain code of subframe i directly in the packed bytes.
void SetGainCode(PackedFrame& frame, int subframe, int code) {
    constexpr int kGainBit[kSubframes] = {64 + 12, 32 + 22, 64 + 22, 96};
    for (int b = 0; b < 10; ++b) {
        const int bit = kGainBit[subframe] + b;
        frame[bit / 8] = static_cast<std::uint8_t>((frame[bit / 8] & ~(1 << (bit % 8))) |
                                                   (((code >> b) & 1) << (bit % 8)));
    }
}

// Lag codes sit in the last two bytes: bits 2-8 the second lag, 9-15 the first.
void SetLagCodes(PackedFrame& frame, int code0, int code1) {
    const int half = (frame[16] | (frame[17] << 8)) & 0x3;
    const int value = half | (code1 << 2) | (code0 << 9);
    frame[16] = static_cast<std::uint8_t>(value & 0xFF);
    frame[17] = static_cast<std::uint8_t>(value >> 8);
}

TEST(FrameFormat, WorkedExamplePacksToTheKnownBytes) {
    const PackedFrame expected = {0xa8, 0xef, 0xcd, 0xab, 0xa3, 0x05, 0xc0, 0xfb, 0x0f,
                                  0xf1, 0x07, 0x00, 0xec, 0x8d, 0xe4, 0xff, 0xef, 0x55};
    EXPECT_EQ(Pack(WorkedExample()), expected);
    EXPECT_EQ(Unpack(expected), WorkedExample());
}

TEST(FrameFormat, AllZeroFrameIsValidWithShortestLags) {
    const FrameParams p = Unpack(PackedFrame{});
    EXPECT_EQ(p.erased, 0);
    EXPECT_EQ(p.lspIndex, 0);
    EXPECT_EQ(p.pitchLag[0], 18);
    EXPECT_EQ(p.pitchLag[1], 18);
    EXPECT_EQ(p.sub[0].lagDelta, 1);
    EXPECT_EQ(p.sub[1].lagDelta, 0);
    EXPECT_EQ(p.sub[2].lagDelta, 1);
    EXPECT_EQ(p.sub[3].lagDelta, 0);
    for (const SubframeParams& s : p.sub) {
        EXPECT_EQ(s.pitchGainIndex, 0);
        EXPECT_EQ(s.pulseGainIndex, 0);
        EXPECT_EQ(s.pulseSigns, 0);
        EXPECT_EQ(s.pulsePositions, 0);
    }
}

TEST(FrameFormat, GainCodeValidityInEverySubframe) {
    for (int i = 0; i < kSubframes; ++i) {
        SCOPED_TRACE(i);
        PackedFrame frame = Pack(WorkedExample());
        SetGainCode(frame, i, 1007);
        FrameParams p = Unpack(frame);
        EXPECT_EQ(p.erased, 0);
        EXPECT_EQ(p.sub[i].pitchGainIndex, 41);
        EXPECT_EQ(p.sub[i].pulseGainIndex, 23);

        for (int code : {1008, 1015, 1023}) {
            SetGainCode(frame, i, code);
            p = Unpack(frame);
            const FrameParams original = WorkedExample();
            EXPECT_EQ(p.erased, 1);
            EXPECT_EQ(p.pitchLag[0], 82);
            EXPECT_EQ(p.pitchLag[1], 82);
            for (int j = 0; j < kSubframes; ++j) {
                const bool zeroed = j >= i;
                EXPECT_EQ(p.sub[j].pitchGainIndex, zeroed ? 0 : original.sub[j].pitchGainIndex) << j;
                EXPECT_EQ(p.sub[j].pulseGainIndex, zeroed ? 0 : original.sub[j].pulseGainIndex) << j;
                // The rest of an invalid frame is kept as unpacked.
                EXPECT_EQ(p.sub[j].pulsePositions, original.sub[j].pulsePositions);
                EXPECT_EQ(p.sub[j].pulseSigns, original.sub[j].pulseSigns);
                EXPECT_EQ(p.sub[j].lagDelta, original.sub[j].lagDelta);
            }
            EXPECT_EQ(p.lspIndex, original.lspIndex);
        }
    }
}

TEST(FrameFormat, LagCodeValidity) {
    PackedFrame frame = Pack(WorkedExample());
    SetLagCodes(frame, 123, 0);
    FrameParams p = Unpack(frame);
    EXPECT_EQ(p.erased, 0);
    EXPECT_EQ(p.pitchLag[0], 141);
    EXPECT_EQ(p.pitchLag[1], 18);

    for (int code = 124; code <= 127; ++code) {
        SCOPED_TRACE(code);
        SetLagCodes(frame, code, 5);
        p = Unpack(frame);
        EXPECT_EQ(p.erased, 1);
        EXPECT_EQ(p.pitchLag[0], 82);
        EXPECT_EQ(p.pitchLag[1], 82);

        SetLagCodes(frame, 5, code);
        p = Unpack(frame);
        EXPECT_EQ(p.erased, 1);
        EXPECT_EQ(p.pitchLag[0], 23);
        EXPECT_EQ(p.pitchLag[1], 82);
        EXPECT_EQ(p.sub[3].lagDelta, 3) << "the lag delta beside the lag codes is kept";
    }
}

TEST(FrameFormat, SpareBitsAreWrittenZeroAndIgnoredOnReading) {
    FrameParams p = WorkedExample();
    p.sub[0].pulseSigns = 15;
    p.sub[1].lagDelta = 3;
    PackedFrame frame = Pack(p);
    EXPECT_EQ(frame[0] & 0x3, 0);
    PackedFrame withSpare = frame;
    withSpare[0] |= 0x3;
    EXPECT_EQ(Unpack(withSpare), Unpack(frame));
}

TEST(FrameFormat, ErasedFlagFromTheCallerSkipsTheFrame) {
    const PackedFrame frame = Pack(WorkedExample());
    const FrameParams p = UnpackFrame(frame, 1);
    EXPECT_EQ(p.erased, 1);
    EXPECT_EQ(p.lspIndex, 0);
}

TEST(FrameFormat, UnpackOfPackReturnsEveryFieldOfRandomValidRecords) {
    test::Rng rng(test::kDefaultSeed);
    SCOPED_TRACE(test::kDefaultSeed);
    auto uniform = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int n = 0; n < 20000; ++n) {
        FrameParams p;
        p.lspIndex = uniform(0, 0xFFFFFF);
        p.pitchLag = {uniform(18, 141), uniform(18, 141)};
        for (int i = 0; i < kSubframes; ++i) {
            p.sub[i] = {i % 2 == 1 ? uniform(0, 3) : 1, uniform(0, 41), uniform(0, 23), uniform(0, 15),
                        uniform(0, 2047)};
        }
        const PackedFrame frame = Pack(p);
        ASSERT_EQ(Unpack(frame), p) << "record " << n;
        ASSERT_EQ(Pack(Unpack(frame)), frame) << "record " << n;
    }
}

TEST(FrameFormat, LagDeltaOfEvenSubframesIsNotStored) {
    FrameParams p = WorkedExample();
    p.sub[0].lagDelta = 3;
    p.sub[2].lagDelta = 0;
    EXPECT_EQ(Pack(p), Pack(WorkedExample()));
    EXPECT_EQ(Unpack(Pack(p)).sub[0].lagDelta, 1);
    EXPECT_EQ(Unpack(Pack(p)).sub[2].lagDelta, 1);
}

} // namespace
} // namespace velmar
