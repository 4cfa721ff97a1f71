// A recording of a few seconds made, saved, reopened and played to its end through the window, with
// the times it shows on the way; and pictures of the window in its idle, recording and playing
// states (written to $VELMAR_SCREENSHOT_DIR when set, else into the test's folder).
#include "RecorderFixture.h"
#include "app/LevelMeter.h"

#include <QImage>
#include <QPixmap>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdlib>

namespace velmar::test {
namespace {

QString Text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

TEST_F(RecorderTest, ARecordingIsSavedReopenedAndPlayedToItsEndWithItsTimesShown) {
    Open(CaptureOnRequest());
    // 34 blocks, 102 frames: 3.06 s.
    RecordBlocks(34);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "3.0sec ") << "the elapsed time alone while recording";
    StopRun();
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "3.0sec ") << "the recording's length";

    script.saveAnswers.push_back(Text(InFolder("memo.prm")));
    dialog->OnSave();
    ASSERT_EQ(FileBytes(InFolder("memo.prm")).size(), 102u * kPackedFrameBytes);
    EXPECT_EQ(dialog->FileNameText().toStdString(), "memo.prm");

    script.openAnswers.push_back(Text(InFolder("memo.prm")));
    dialog->OnOpen();
    EXPECT_EQ(script.prompts, 0) << "a saved recording is not offered again";
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(backend->PlayedSamples().size(), 102u * kFrameSamples) << "every frame was played";
    EXPECT_EQ(dialog->TotalTenths(), 30);
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "3.0sec ") << "the total alone at the end";
    EXPECT_EQ(dialog->Slider().value(), 0);
    ExpectButtons(kStoppedFileButtons);
    EXPECT_TRUE(script.messages.empty());

    // The recorder started anew plays the file in real time: position / total, and the slider follows.
    Close();
    Open(RealTimePlayback());
    script.openAnswers.push_back(Text(InFolder("memo.prm")));
    dialog->OnOpen();
    ASSERT_TRUE(WaitFor([&] { return dialog->TimeDisplayText().endsWith(QStringLiteral(" / 3.0sec ")); }))
        << dialog->TimeDisplayText().toStdString();
    ASSERT_TRUE(WaitFor([&] { return dialog->Slider().value() > 0; }));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(dialog->TimeDisplayText().toStdString(), "3.0sec ");
    EXPECT_EQ(dialog->Slider().value(), 0);
    EXPECT_TRUE(script.messages.empty());
}

std::filesystem::path ScreenshotFolder(const std::filesystem::path& fallback) {
    const char* dir = std::getenv("VELMAR_SCREENSHOT_DIR");
    return dir != nullptr && *dir != '\0' ? std::filesystem::path(dir) : fallback;
}

// The shots are taken at the screen's scale (QT_SCALE_FACTOR=2 gives 2x shots) and named for it:
// "recorder-idle.png" at 1x, "recorder-idle@2x.png" at 2x.
std::string ShotName(const char* name, const QWidget& window) {
    const qreal ratio = window.devicePixelRatioF();
    return ratio == 1.0 ? std::string(name) + ".png"
                        : std::string(name) + "@" + QString::number(ratio).toStdString() + "x.png";
}

void SaveShot(QWidget& window, const std::filesystem::path& path) {
    const QPixmap shot = window.grab();
    ASSERT_EQ(shot.deviceIndependentSize().toSize(), window.size());
    ASSERT_EQ(shot.size(), window.size() * window.devicePixelRatioF());
    ASSERT_TRUE(shot.save(QString::fromStdString(path.string()), "PNG")) << path;
}

TEST_F(RecorderTest, ScreenshotsOfTheIdleRecordingAndPlayingWindow) {
    const std::filesystem::path out = ScreenshotFolder(folder.Path());
    std::filesystem::create_directories(out);
    Open(RealTimePlayback());
    dialog->activateWindow();
    (void)QTest::qWaitForWindowActive(dialog.get(), 2000);

    SaveShot(*dialog, out / ShotName("recorder-idle", *dialog));

    RecordBlocks(45); // about four seconds
    ASSERT_TRUE(WaitFor([&] { return dialog->LevelMeter().BarFraction() > 0.0; })) << "the level strip shows";
    SaveShot(*dialog, out / ShotName("recorder-recording", *dialog));
    StopRun();

    script.saveAnswers.push_back(Text(InFolder("interview.prm")));
    dialog->OnSave();
    dialog->Slider().setValue(40);
    dialog->OnPlay();
    ASSERT_TRUE(WaitFor([&] { return dialog->Slider().value() >= 45; }));
    SaveShot(*dialog, out / ShotName("recorder-playing", *dialog));
    StopRun();

    for (const char* name : {"recorder-idle", "recorder-recording", "recorder-playing"}) {
        const std::string file = ShotName(name, *dialog);
        const QImage image(QString::fromStdString((out / file).string()));
        EXPECT_EQ(image.size(), dialog->size() * dialog->devicePixelRatioF()) << file;
    }
}

} // namespace
} // namespace velmar::test
