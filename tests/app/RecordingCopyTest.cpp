#include "app/RecordingCopy.h"

#include "RecorderFixture.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

namespace velmar {
namespace {

using test::CTempDir;
using test::FileBytes;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 1000) & 0xFF);
    }
    return bytes;
}

class RecordingCopySizes : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RecordingCopySizes, CopiesByteForByte) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    const auto target = dir.Path() / "kept.prm";
    const std::vector<std::uint8_t> bytes = Pattern(GetParam());
    test::WriteBytes(source, bytes);

    const CopyOutcome outcome = CopyRecording(source.string(), target.string());

    ASSERT_TRUE(outcome.Succeeded()) << static_cast<int>(outcome.failure);
    EXPECT_EQ(FileBytes(target), bytes);
    EXPECT_EQ(FileBytes(source), bytes) << "the recording itself is left as it was";
}

// Empty, less than one chunk, whole chunks, whole chunks and a rest, a recording of 37 blocks.
INSTANTIATE_TEST_SUITE_P(RecordingCopy, RecordingCopySizes,
                         ::testing::Values(0u, 1u, 999u, 1000u, 2000u, 2500u, 1998u, 100001u),
                         [](const auto& testInfo) { return "Bytes" + std::to_string(testInfo.param); });

TEST(RecordingCopy, ReplacesALongerFile) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    const auto target = dir.Path() / "kept.prm";
    test::WriteBytes(source, Pattern(540));
    test::WriteBytes(target, std::vector<std::uint8_t>(5000, 0xAA));
    ASSERT_TRUE(CopyRecording(source.string(), target.string()).Succeeded());
    EXPECT_EQ(FileBytes(target), Pattern(540));
}

TEST(RecordingCopy, RefusesToCopyTheRecordingOntoItself) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    test::WriteBytes(source, Pattern(2500));
    std::filesystem::create_hard_link(source, dir.Path() / "alias.prm");

    for (const auto& target : {source, dir.Path() / "." / "prm.tmp", dir.Path() / "alias.prm"}) {
        SCOPED_TRACE(target.string());
        EXPECT_EQ(CopyRecording(source.string(), target.string()).failure, CopyFailure::SameFile);
        EXPECT_EQ(FileBytes(source), Pattern(2500)) << "the recording must survive";
    }
}

TEST(RecordingCopy, AMissingRecordingIsReportedWithTheSystemsReason) {
    CTempDir dir;
    const CopyOutcome outcome =
        CopyRecording((dir.Path() / "prm.tmp").string(), (dir.Path() / "kept.prm").string());
    EXPECT_EQ(outcome.failure, CopyFailure::OpenSource);
    EXPECT_EQ(outcome.systemError, ENOENT);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "kept.prm"));
}

TEST(RecordingCopy, ATargetThatCannotBeCreatedLeavesNothing) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    test::WriteBytes(source, Pattern(100));
    const auto target = dir.Path() / "no-such-folder" / "kept.prm";
    const CopyOutcome outcome = CopyRecording(source.string(), target.string());
    EXPECT_EQ(outcome.failure, CopyFailure::CreateTarget);
    EXPECT_EQ(outcome.systemError, ENOENT);
    EXPECT_EQ(FileBytes(source), Pattern(100));
}

using test::Listing;

// A disk that fills up half-way through the copy, with and without a file of that name already.
TEST(RecordingCopy, AFailedWriteLeavesAnExistingTargetAsItWasAndNoPartialCopy) {
    for (const bool existing : {false, true}) {
        SCOPED_TRACE(existing ? "replacing a file" : "a new file");
        CTempDir dir;
        const auto source = dir.Path() / "prm.tmp";
        const auto target = dir.Path() / "kept.prm";
        test::WriteBytes(source, Pattern(2500));
        if (existing) {
            test::WriteBytes(target, std::vector<std::uint8_t>(700, 0xAA));
        }
        const auto before = Listing(dir.Path());
        CopyOutcome outcome;
        {
            const test::CFileSizeLimit limit(1500);
            outcome = CopyRecording(source.string(), target.string());
        }
        EXPECT_EQ(outcome.failure, CopyFailure::Write);
        EXPECT_EQ(outcome.systemError, EFBIG);
        EXPECT_EQ(Listing(dir.Path()), before) << "no partial copy stays behind";
        EXPECT_EQ(FileBytes(target),
                  existing ? std::vector<std::uint8_t>(700, 0xAA) : std::vector<std::uint8_t>{})
            << "the old file is untouched";
        EXPECT_EQ(FileBytes(source), Pattern(2500));
    }
}

TEST(RecordingCopy, ReplacingKeepsTheFilesPermissionsAndTheLinkThatLeadsToIt) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    test::WriteBytes(source, Pattern(540));
    std::filesystem::create_directory(dir.Path() / "archive");
    const auto real = dir.Path() / "archive" / "memo.prm";
    test::WriteBytes(real, Pattern(90));
    std::filesystem::permissions(real, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    const auto link = dir.Path() / "memo.prm";
    std::filesystem::create_symlink(real, link);

    ASSERT_TRUE(CopyRecording(source.string(), link.string()).Succeeded());
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << "the link still leads to the file";
    EXPECT_EQ(FileBytes(real), Pattern(540));
    EXPECT_EQ(std::filesystem::status(real).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
    EXPECT_EQ(Listing(dir.Path() / "archive"), std::vector<std::string>{"memo.prm"});
}

TEST(RecordingCopy, NeverWritesIntoOrRemovesATargetThatIsNotARegularFile) {
    CTempDir dir;
    const auto source = dir.Path() / "prm.tmp";
    test::WriteBytes(source, Pattern(2500));
    // A name that leads to a device (through a link in the test's folder, so a faulty clean-up could
    // only ever remove the link), and a folder.
    const auto device = dir.Path() / "kept.prm";
    std::filesystem::create_symlink("/dev/full", device);
    std::filesystem::create_directory(dir.Path() / "folder.prm");
    for (const auto& target : {device, dir.Path() / "folder.prm"}) {
        SCOPED_TRACE(target.string());
        EXPECT_EQ(CopyRecording(source.string(), target.string()).failure, CopyFailure::TargetNotFile);
    }
    EXPECT_TRUE(std::filesystem::is_symlink(device));
    EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "folder.prm"));
    EXPECT_EQ(Listing(dir.Path()), (std::vector<std::string>{"folder.prm", "kept.prm", "prm.tmp"}));
}

} // namespace
} // namespace velmar
