// The working file of a window: which name it takes, what it leaves alone, and when it goes.
#include "app/WorkingFile.h"

#include "support/TestData.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace velmar {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;
using test::WriteBytes;

const std::vector<std::uint8_t> kTwoFrames(36, 0x11);

TEST(WorkingFile, WindowsInOneFolderTakeSeparateNamesAndEachDeletesOnlyItsOwn) {
    test::CTempDir dir;
    auto first = std::make_unique<CWorkingFile>(dir.Path());
    const CWorkingFile second(dir.Path());
    EXPECT_TRUE(first->IsHeld());
    EXPECT_TRUE(second.IsHeld());
    EXPECT_EQ(fs::path(first->Path()), dir.Path() / "prm.tmp");
    EXPECT_EQ(fs::path(second.Path()), dir.Path() / "prm-2.tmp");
    WriteBytes(second.Path(), kTwoFrames);
    first.reset();
    EXPECT_FALSE(fs::exists(dir.Path() / "prm.tmp"));
    EXPECT_EQ(ReadBytes(second.Path()), kTwoFrames);
    // The freed name is taken again, and the held one is not offered as a leftover.
    const CWorkingFile third(dir.Path());
    EXPECT_EQ(fs::path(third.Path()), dir.Path() / "prm.tmp");
    EXPECT_EQ(third.LeftoverBytes(), 0);
}

TEST(WorkingFile, ALeftoverIsKeptForTheOfferAndAFragmentIsEmptied) {
    test::CTempDir dir;
    WriteBytes(dir.Path() / "prm.tmp", kTwoFrames);
    {
        CWorkingFile file(dir.Path());
        EXPECT_EQ(file.LeftoverBytes(), 36);
        EXPECT_EQ(ReadBytes(file.Path()), kTwoFrames) << "nothing is discarded before the user answers";
        file.Empty();
        EXPECT_TRUE(ReadBytes(file.Path()).empty());
        EXPECT_FALSE(file.HasWholeFrame());
    }
    WriteBytes(dir.Path() / "prm.tmp", {1, 2, 3});
    const CWorkingFile file(dir.Path());
    EXPECT_EQ(file.LeftoverBytes(), 0);
    EXPECT_TRUE(ReadBytes(file.Path()).empty());
}

// Names that are not plain files of ours: a link is never followed, and a recording that appears
// under the name later is never overwritten by a window that lost its file.
TEST(WorkingFile, NeverWritesThroughALinkOrOverAnotherRecording) {
    test::CTempDir dir;
    WriteBytes(dir.Path() / "precious.prm", kTwoFrames);
    fs::create_symlink(dir.Path() / "precious.prm", dir.Path() / "prm.tmp");
    CWorkingFile file(dir.Path());
    EXPECT_EQ(fs::path(file.Path()), dir.Path() / "prm-2.tmp");
    EXPECT_EQ(ReadBytes(dir.Path() / "precious.prm"), kTwoFrames);

    // Someone deletes the window's file and a recording appears under its name.
    fs::remove(dir.Path() / "prm-2.tmp");
    WriteBytes(dir.Path() / "prm-2.tmp", kTwoFrames);
    ASSERT_TRUE(file.Reclaim());
    EXPECT_EQ(fs::path(file.Path()), dir.Path() / "prm-3.tmp");
    EXPECT_EQ(ReadBytes(dir.Path() / "prm-2.tmp"), kTwoFrames);
    EXPECT_TRUE(file.Reclaim()) << "still its own";
    EXPECT_EQ(fs::path(file.Path()), dir.Path() / "prm-3.tmp");
}

} // namespace
} // namespace velmar
