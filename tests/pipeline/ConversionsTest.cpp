// The pipeline's conversions between frames, bytes, times and slider positions, and the cutting of
// long error texts.
#include "pipeline/Conversions.h"

#include "pipeline/Channels.h"

#include <gtest/gtest.h>

#include <string>

namespace velmar {
namespace {

TEST(Conversions, ElapsedTimeOfEncodedAndPlayedFrames) {
    struct Case {
        int frames;
        int tenths;
    };
    for (const Case c : {Case{0, 0}, Case{3, 0}, Case{6, 1}, Case{9, 2}, Case{10, 3}, Case{12, 3},
                         Case{100, 30}, Case{510, 153}, Case{520, 156}, Case{33333, 9999}}) {
        EXPECT_EQ(FramesToTenths(c.frames), c.tenths) << c.frames << " frames";
    }
}

TEST(Conversions, DurationOfAFileFromItsSize) {
    struct Case {
        std::int64_t bytes;
        int tenths;
    };
    for (const Case c : {Case{0, 0}, Case{17, 0}, Case{59, 0}, Case{60, 1}, Case{190, 3}, Case{600, 10},
                         Case{1800, 30}, Case{18000, 300}}) {
        EXPECT_EQ(FileBytesToTenths(c.bytes), c.tenths) << c.bytes << " bytes";
    }
}

TEST(Conversions, SliderPositionOfAFrame) {
    EXPECT_EQ(FramePercent(500, 1000), 50);
    EXPECT_EQ(FramePercent(999, 1000), 99);
    EXPECT_EQ(FramePercent(1000, 1000), 100);
    EXPECT_EQ(FramePercent(0, 1), 0);
    EXPECT_EQ(FramePercent(-1, 1000), -1) << "a block without a position moves nothing";
    EXPECT_EQ(FramePercent(10, 0), -1) << "an empty file has no positions";
    EXPECT_EQ(FramePercent(30'000'000, 30'000'000), 100) << "no overflow on long files";
}

TEST(Conversions, StartAndSeekFrames) {
    EXPECT_EQ(StartFrame(50, 1000 * 18), 500);
    EXPECT_EQ(StartFrame(0, 1000 * 18), 0);
    EXPECT_EQ(StartFrame(100, 1000 * 18), 1000);
    EXPECT_EQ(StartFrame(33, 10 * 18 + 17), 3) << "the incomplete frame does not count";
    EXPECT_EQ(StartFrame(50, 0), 0);
    EXPECT_EQ(SeekFrame(50, 1000 * 18), 500);
    EXPECT_EQ(SeekFrame(33, 7 * 18), 2);
    EXPECT_EQ(SeekFrame(100, 7 * 18), 7);
    EXPECT_EQ(SeekFrame(50, 17), 0);
}

TEST(ErrorText, ShortTextsAreKeptAndLongOnesCutToTheBuffer) {
    EXPECT_EQ(CutErrorText("No such file or directory: a.prm", kErrorTextSize),
              "No such file or directory: a.prm");
    const std::string exact(kErrorTextSize - 1, 'x');
    EXPECT_EQ(CutErrorText(exact, kErrorTextSize), exact);

    const std::string longText = "Permission denied: /" + std::string(400, 'd') + "/rec.prm";
    const std::string cut = CutErrorText(longText, kErrorTextSize);
    EXPECT_EQ(cut.size(), static_cast<std::size_t>(kErrorTextSize - 1));
    EXPECT_EQ(cut.substr(0, 20), longText.substr(0, 20));
    EXPECT_EQ(cut.substr(cut.size() - 3), "...");
}

TEST(ErrorText, ACutNeverSplitsACharacter) {
    // Two-byte characters from an offset that makes the plain cut fall inside one of them.
    for (int offset = 0; offset < 2; ++offset) {
        std::string text(static_cast<std::size_t>(offset), 'a');
        for (int i = 0; i < 300; ++i) {
            text += "\xC3\xA9"; // e with acute accent
        }
        const std::string cut = CutErrorText(text, kErrorTextSize);
        ASSERT_LE(cut.size(), static_cast<std::size_t>(kErrorTextSize - 1));
        const std::string body = cut.substr(0, cut.size() - 3);
        const std::size_t characters = body.size() - static_cast<std::size_t>(offset);
        EXPECT_EQ(characters % 2, 0u) << "offset " << offset;
        EXPECT_NE(static_cast<unsigned char>(body.back()), 0xC3u) << "offset " << offset;
    }
}

TEST(InputLevel, PeaksReadInDecibelsBelowFullScaleWithTheClipMarkOnlyAtTheEdge) {
    struct Case {
        int peak;
        double dbfs;
        bool clips;
    };
    for (const Case& c : {Case{32768, 0.0, true}, Case{32767, -0.000265, true}, Case{32766, -0.00053, false},
                          Case{16384, -6.0206, false}, Case{328, -39.9915, false}, Case{1, -90.309, false}}) {
        EXPECT_NEAR(PeakToDbfs(c.peak), c.dbfs, 0.001) << c.peak;
        EXPECT_EQ(PeakClips(c.peak), c.clips) << c.peak;
    }
    EXPECT_TRUE(std::isinf(PeakToDbfs(0)) && PeakToDbfs(0) < 0) << "digital silence has no level";
}

} // namespace
} // namespace velmar
