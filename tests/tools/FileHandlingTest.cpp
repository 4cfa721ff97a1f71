// The tool's file handling below the command line: frames from a live pipe, WAV headers past
// 4 GiB, temporary names and JSON text.
#include "FrameFile.h"
#include "JsonText.h"
#include "OutputFile.h"
#include "RemoveOnSignal.h"
#include "WavHeader.h"
#include "support/TestData.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <future>
#include <memory>
#include <numeric>

namespace velmar {
namespace {

namespace fs = std::filesystem;

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
           static_cast<std::uint32_t>(bytes[at + 3]) << 24;
}

std::uint64_t U64At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return U32At(bytes, at) | static_cast<std::uint64_t>(U32At(bytes, at + 4)) << 32;
}

std::string TagAt(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::string(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(at) + 4);
}

struct HeaderCase {
    std::uint64_t dataBytes;
    WavRoom room;
    std::string riff; // "RIFF" or "RF64"
    std::size_t size;
};

void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.dataBytes << " data bytes, " << (c.room == WavRoom::Plain ? "plain" : "reserved");
}

class WavHeaders : public testing::TestWithParam<HeaderCase> {};

// 32-bit sizes that wrap past 4 GiB made a 74.5-hour file claim 8 seconds.
TEST_P(WavHeaders, SwitchToRf64InsteadOfWrappingTheSizes) {
    const HeaderCase c = GetParam();
    const std::vector<std::uint8_t> h = WavHeader(8000, c.dataBytes, c.room);
    ASSERT_EQ(h.size(), c.size);
    EXPECT_EQ(TagAt(h, 0), c.riff);
    EXPECT_EQ(TagAt(h, 8), "WAVE");
    EXPECT_EQ(TagAt(h, h.size() - 8), "data");
    EXPECT_EQ(TagAt(h, h.size() - 32), "fmt ");
    EXPECT_EQ(U32At(h, h.size() - 24) & 0xFFFF, 1u) << "integer PCM";
    EXPECT_EQ(U32At(h, h.size() - 20), 8000u);
    if (c.riff == "RIFF") {
        EXPECT_EQ(U32At(h, 4), c.size - 8 + c.dataBytes);
        EXPECT_EQ(U32At(h, h.size() - 4), c.dataBytes);
        EXPECT_EQ(TagAt(h, 12), c.room == WavRoom::Plain ? "fmt " : "JUNK");
    } else {
        EXPECT_EQ(U32At(h, 4), 0xFFFFFFFFu);
        EXPECT_EQ(U32At(h, h.size() - 4), 0xFFFFFFFFu);
        EXPECT_EQ(TagAt(h, 12), "ds64");
        EXPECT_EQ(U64At(h, 20), c.size - 8 + c.dataBytes);
        EXPECT_EQ(U64At(h, 28), c.dataBytes);
        EXPECT_EQ(U64At(h, 36), c.dataBytes / 2);
    }
}

constexpr std::uint64_t k4GiB = 1ull << 32;

INSTANTIATE_TEST_SUITE_P(
    Sizes, WavHeaders,
    testing::Values(HeaderCase{0, WavRoom::Plain, "RIFF", 44}, HeaderCase{480, WavRoom::Reserved, "RIFF", 80},
                    HeaderCase{k4GiB - 38, WavRoom::Plain, "RIFF", 44}, // the largest plain size
                    HeaderCase{k4GiB - 36, WavRoom::Plain, "RF64", 80}, // one sample more
                    HeaderCase{k4GiB - 74, WavRoom::Reserved, "RIFF", 80},
                    HeaderCase{k4GiB - 72, WavRoom::Reserved, "RF64", 80},
                    HeaderCase{75ull * 3600 * 16000, WavRoom::Plain, "RF64", 80})); // 75 hours at 8 kHz

// Readers take both forms: libsndfile as WAV and RF64.
TEST(WavHeaderFiles, ReadBackWithTheirSamples) {
    test::CTempDir dir;
    const std::vector<std::uint8_t> samples = {1, 0, 2, 0, 0xFF, 0x7F, 0x00, 0x80};
    for (const auto& [room, big, format] : {std::tuple{WavRoom::Plain, false, SF_FORMAT_WAV},
                                            std::tuple{WavRoom::Reserved, false, SF_FORMAT_WAV},
                                            std::tuple{WavRoom::Reserved, true, SF_FORMAT_RF64}}) {
        SCOPED_TRACE(format);
        std::vector<std::uint8_t> bytes = WavHeader(8000, samples.size(), room);
        if (big) {
            // An RF64 header of these very sizes, built as a huge file's would be.
            std::vector<std::uint8_t> rf64 = WavHeader(8000, k4GiB, room);
            for (int i = 0; i < 8; ++i) {
                rf64[20 + i] = static_cast<std::uint8_t>((72 + samples.size()) >> (8 * i));
                rf64[28 + i] = static_cast<std::uint8_t>(samples.size() >> (8 * i));
                rf64[36 + i] = static_cast<std::uint8_t>(samples.size() / 2 >> (8 * i));
            }
            bytes = rf64;
        }
        bytes.insert(bytes.end(), samples.begin(), samples.end());
        const fs::path path = dir.Path() / "x.wav";
        test::WriteBytes(path, bytes);
        SF_INFO info{};
        SNDFILE* sound = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(sound, nullptr) << sf_strerror(nullptr);
        std::int16_t read[4] = {};
        EXPECT_EQ(sf_read_short(sound, read, 4), 4);
        sf_close(sound);
        EXPECT_EQ(info.format, format | SF_FORMAT_PCM_16);
        EXPECT_EQ(info.samplerate, 8000);
        EXPECT_EQ(read[2], 32767);
        EXPECT_EQ(read[3], -32768);
    }
}

TEST(TemporaryPatterns, StayWithinTheFileNameLimitAndBesideTheTarget) {
    const struct {
        std::string destination;
        std::string expected;
    } cases[] = {
        {"out.wav", "./.out.wav.XXXXXX"},
        {"dir/out.wav", "dir/.out.wav.XXXXXX"},
        {std::string(NAME_MAX - 8, 'a'), "./." + std::string(NAME_MAX - 8, 'a') + ".XXXXXX"},
        {"dir/" + std::string(NAME_MAX - 7, 'a'), "dir/.prmcodec-output.XXXXXX"},
        {std::string(NAME_MAX, 'a'), "./.prmcodec-output.XXXXXX"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.destination.size());
        EXPECT_EQ(TemporaryPattern(c.destination), c.expected);
        EXPECT_LE(fs::path(TemporaryPattern(c.destination)).filename().string().size(),
                  std::size_t{NAME_MAX});
    }
}

// Room is set aside for the length known in advance; an output that ends shorter must not keep
// the rest (as zeros in the file or as disk space), and room the disk cannot give fails at once.
TEST(ReservedOutputs, EndWhereTheirDataEndsAndFailBeforeWritingWhenTheDiskLacksRoom) {
    test::CTempDir dir;
    const std::string path = (dir.Path() / "short.wav").string();
    std::string error;
    {
        COutputFile output;
        ASSERT_TRUE(output.Create(path, error)) << error;
        ASSERT_TRUE(output.Reserve(std::uint64_t{1} << 20, error)) << error;
        const std::vector<std::uint8_t> bytes(100, 7);
        ASSERT_TRUE(output.Write(bytes, error)) << error;
        ASSERT_TRUE(output.Commit(error)) << error;
    }
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, 100);
    EXPECT_LT(info.st_blocks * 512, 65536) << "the unwritten room was kept";

    const std::string huge = (dir.Path() / "huge.wav").string();
    {
        COutputFile output;
        ASSERT_TRUE(output.Create(huge, error)) << error;
        EXPECT_FALSE(output.Reserve(std::uint64_t{1} << 62, error));
        EXPECT_EQ(error.rfind("cannot write '" + huge + "': ", 0), 0u) << error;
    }
    EXPECT_EQ(test::Listing(dir.Path()), std::vector<std::string>{"short.wav"});
}

// A regular file goes out in whole blocks; pieces of any size must arrive in order and whole, and a
// rewrite of the start must not be overwritten by a block still pending.
TEST(BlockWrittenOutputs, KeepEveryPieceInOrderAndLetARewriteOfTheStartStand) {
    constexpr std::size_t kBlock = COutputFile::kFileBlock;
    const std::vector<std::vector<std::size_t>> cases = {
        {44, 100}, // all of it still pending at the rewrite
        {44, 1, kBlock - 45, kBlock, 3, 2 * kBlock + 5, kBlock - 3, 7},
    };
    for (const auto& pieces : cases) {
        SCOPED_TRACE(pieces.size());
        test::CTempDir dir;
        const std::string path = (dir.Path() / "blocks.wav").string();
        std::vector<std::uint8_t> expected;
        std::string error;
        {
            COutputFile output;
            ASSERT_TRUE(output.Create(path, error)) << error;
            ASSERT_TRUE(output.CanRewrite());
            for (const std::size_t size : pieces) {
                std::vector<std::uint8_t> piece(size);
                std::iota(piece.begin(), piece.end(), static_cast<std::uint8_t>(expected.size() * 7));
                expected.insert(expected.end(), piece.begin(), piece.end());
                ASSERT_TRUE(output.Write(piece, error)) << error;
            }
            const std::vector<std::uint8_t> start = {0xAA, 0xBB, 0xCC, 0xDD};
            std::copy(start.begin(), start.end(), expected.begin());
            ASSERT_TRUE(output.WriteAt(start, output.StartOffset(), error)) << error;
            ASSERT_TRUE(output.Commit(error)) << error;
        }
        EXPECT_EQ(test::ReadBytes(path), expected);
    }
}

TEST(JsonStrings, EscapeWhatJsonForbidsAndReplaceBytesThatAreNotUtf8) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"plain.prm", "\"plain.prm\""},
        {"a \"b\" \\c", "\"a \\\"b\\\" \\\\c\""},
        {"tab\tnew\nline\x01", "\"tab\\u0009new\\u000aline\\u0001\""},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA4", "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xA4\""},
        {"latin1 \xE9.prm", "\"latin1 \\ufffd.prm\""},
        {"overlong \xC0\xAF", "\"overlong \\ufffd\\ufffd\""},
        {"surrogate \xED\xA0\x80", "\"surrogate \\ufffd\\ufffd\\ufffd\""},
        {"cut \xE2\x82", "\"cut \\ufffd\\ufffd\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(JsonString(c.text), c.json) << c.text;
    }
}

// Every file a batch converts at once holds an armed output; too few slots, or a slot not freed by
// Disarm, would leave temporaries behind when Ctrl+C ends a batch.
TEST(RemoveOnSignalSlots, OneOutputPerParallelConversionCanBeArmedAndSlotsAreReused) {
    std::vector<std::unique_ptr<CRemoveOnSignal>> armed;
    for (int i = 0; i < kMaxArmedOutputs; ++i) {
        armed.push_back(std::make_unique<CRemoveOnSignal>());
        EXPECT_TRUE(armed.back()->Arm("/nonexistent/velmar-slot-" + std::to_string(i))) << i;
    }
    CRemoveOnSignal extra;
    EXPECT_FALSE(extra.Arm("/nonexistent/velmar-slot-extra"));
    armed.front()->Disarm();
    EXPECT_TRUE(extra.Arm("/nonexistent/velmar-slot-extra"));
    armed.pop_back(); // the destructor frees its slot too
    CRemoveOnSignal another;
    EXPECT_TRUE(another.Arm("/nonexistent/velmar-slot-another"));
}

// A recorder writing into a pipe is listened to live: each frame must be handed on once it is
// whole, not after a block of frames, and a frame split across writes must come out joined.
TEST(FrameReaderOfAPipe, HandsOnEachFrameOnceWholeAndJoinsFramesSplitAcrossWrites) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    CFileDescriptor readEnd(fds[0]);
    CFileDescriptor writeEnd(fds[1]);
    std::vector<std::uint8_t> bytes(3 * kPackedFrameBytes + 5);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    CFrameFileReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open("/dev/fd/" + std::to_string(readEnd.Get()), error)) << error;
    ASSERT_TRUE(reader.IsStream());

    // A frame and a third, with the writer still there.
    const std::size_t first = kPackedFrameBytes + 6;
    ASSERT_TRUE(writeEnd.WriteFully(bytes.data(), first));
    PackedFrame frame{};
    auto next = std::async(std::launch::async, [&] { return reader.Next(frame, error); });
    if (next.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ASSERT_TRUE(writeEnd.Close()); // lets the reader go before failing
        FAIL() << "the whole first frame was held back waiting for more input";
    }
    ASSERT_EQ(next.get(), ReadStatus::Frame) << error;
    EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin()));

    ASSERT_TRUE(writeEnd.WriteFully(bytes.data() + first, bytes.size() - first));
    ASSERT_TRUE(writeEnd.Close());
    for (int k = 1; k < 3; ++k) {
        ASSERT_EQ(reader.Next(frame, error), ReadStatus::Frame) << error;
        EXPECT_TRUE(std::equal(frame.begin(), frame.end(), bytes.begin() + k * kPackedFrameBytes)) << k;
    }
    EXPECT_EQ(reader.Next(frame, error), ReadStatus::End);
    EXPECT_EQ(reader.FrameCount(), 3U);
    EXPECT_EQ(reader.TrailingBytes(), 5);
}

} // namespace
} // namespace velmar
