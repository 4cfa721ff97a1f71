// What a desktop user expects of the window besides its transport: enhanced playback and its menu
// entry, the input level while recording, files given on the command line or dropped on the window,
// the keys and tooltips of the buttons, the folder the file dialogs start in, and Save as WAV.
#include "RecorderFixture.h"
#include "app/BitmapButton.h"
#include "app/ButtonFaceDrawing.h"
#include "app/EncoderSpeed.h"
#include "app/LevelMeter.h"
#include "app/RecorderApp.h"
#include "app/RecorderSettings.h"
#include "codec/PostFilter.h"
#include "codec/SpeechCodec.h"

#include <QAction>
#include <QDir>
#include <QMimeData>
#include <QSettings>
#include <QShortcut>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>
#include <utility>

namespace velmar::test {
namespace {

QString Text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

// What the listener should hear of `frames`: every whole frame through a fresh decoder.
std::vector<std::int16_t> Decode(const std::vector<std::uint8_t>& frames, DecodeMode mode) {
    const auto codec = std::make_unique<CSpeechCodec>();
    CPostFilter postFilter;
    const std::size_t count = frames.size() / kPackedFrameBytes;
    std::vector<std::int16_t> samples(count * kFrameSamples);
    for (std::size_t i = 0; i < count; ++i) {
        const ConstPackedFrameView frame(frames.data() + i * kPackedFrameBytes, kPackedFrameBytes);
        const SampleFrame out(samples.data() + i * kFrameSamples, kFrameSamples);
        if (mode == DecodeMode::Enhanced) {
            DecodeEnhancedFrame(*codec, postFilter, frame, out);
        } else {
            codec->DecodeFrame(frame, out, 0);
        }
    }
    return samples;
}

std::uint32_t LittleEndian(const std::vector<std::uint8_t>& bytes, std::size_t at, int count) {
    std::uint32_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

TEST(RecorderSettings, TheTestsNeverUseTheUsersSettings) {
    const QString file = QSettings().fileName();
    const QString userConfig = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    EXPECT_FALSE(file.startsWith(userConfig)) << file.toStdString();
    EXPECT_TRUE(file.contains(QStringLiteral("velmar-tests"))) << file.toStdString();
}

TEST(RecorderArgumentsTest, AFileToOpenOrWhyTheCommandLineIsRefused) {
    struct Case {
        QStringList arguments;
        std::optional<QString> file;
        bool refused;
    };
    const Case cases[] = {
        {{}, std::nullopt, false},
        {{"talk.prm"}, QStringLiteral("talk.prm"), false},
        {{"--", "-odd name.prm"}, QStringLiteral("-odd name.prm"), false},
        {{"-"}, QStringLiteral("-"), false}, // a file named "-", not an option
        {{"--bogus"}, std::nullopt, true},
        {{"a.prm", "b.prm"}, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const RecorderArguments parsed = ParseRecorderArguments(c.arguments);
        EXPECT_EQ(!parsed.error.isEmpty(), c.refused);
        if (!c.refused) {
            EXPECT_EQ(parsed.file, c.file);
        }
    }
}

TEST(IsWavNameTest, OnlyAWavExtensionMakesSaveWriteSound) {
    const struct {
        const char* name;
        bool wav;
    } cases[] = {{"/tmp/a.wav", true}, {"/tmp/a.WAV", true},      {"a.prm", false},
                 {"wav", false},       {"/tmp/a.wav.prm", false}, {"/tmp/x.wave", false}};
    for (const auto& c : cases) {
        EXPECT_EQ(IsWavName(QString::fromUtf8(c.name)), c.wav) << c.name;
    }
}

TEST(FaceForRatioTest, FacesGrowInWholeBlocksAndKeepTheirSizeOnScreen) {
    // A picture whose neighbouring pixels all differ: any blur between them would show.
    QImage picture(4, 3, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            picture.setPixel(x, y, (x + y) % 2 == 0 ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        }
    }
    const QPixmap face = QPixmap::fromImage(picture);
    const struct {
        qreal ratio;
        QSize device;
        bool wholeBlocks; // every device pixel is exactly one of the picture's
    } cases[] = {{1.0, {4, 3}, true}, {2.0, {8, 6}, true}, {3.0, {12, 9}, true}, {1.5, {6, 5}, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ratio);
        const QPixmap drawn = FaceForRatio(face, c.ratio);
        EXPECT_EQ(drawn.size(), c.device);
        EXPECT_EQ(drawn.devicePixelRatio(), c.ratio);
        if (!c.wholeBlocks) {
            continue;
        }
        const QImage image = drawn.toImage();
        const int block = static_cast<int>(c.ratio);
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, picture.pixel(x / block, y / block) & 0xFFFFFF)
                    << x << "," << y;
            }
        }
    }
}

// True when some 2 x 2 block of device pixels at an even place is not one colour: the picture was
// drawn finer than its pixels, not merely grown.
bool HasDetailFinerThanAPixel(const QImage& image) {
    for (int y = 0; y + 1 < image.height(); y += 2) {
        for (int x = 0; x + 1 < image.width(); x += 2) {
            const QRgb corner = image.pixel(x, y);
            if (image.pixel(x + 1, y) != corner || image.pixel(x, y + 1) != corner ||
                image.pixel(x + 1, y + 1) != corner) {
                return true;
            }
        }
    }
    return false;
}

TEST(ButtonFaceDrawingTest, EveryFaceIsDrawnAtTheScreensResolutionAndTheStatesDiffer) {
    const struct {
        ControlId id;
        const char* caption;
    } buttons[] = {{ControlId::Play, "Play"},  {ControlId::Record, "Record"}, {ControlId::Pause, "Pause"},
                   {ControlId::Stop, "Stop"},  {ControlId::Open, "Open"},     {ControlId::Save, "Save"},
                   {ControlId::About, "About"}};
    const struct {
        qreal ratio;
        QSize device;
    } ratios[] = {{2.0, {122, 60}}, {1.5, {92, 45}}, {3.0, {183, 90}}};
    using Face = CBitmapButton::Face;
    for (const auto& button : buttons) {
        for (const auto& r : ratios) {
            SCOPED_TRACE(::testing::Message() << button.caption << " at " << r.ratio);
            std::vector<QImage> faces;
            for (const Face face : {Face::Normal, Face::Selected, Face::Focused, Face::Disabled}) {
                const QPixmap drawn =
                    DrawButtonFace(button.id, QString::fromUtf8(button.caption), face, r.ratio);
                ASSERT_FALSE(drawn.isNull());
                EXPECT_EQ(drawn.size(), r.device);
                EXPECT_EQ(drawn.devicePixelRatio(), r.ratio);
                faces.push_back(drawn.toImage());
            }
            if (r.ratio == 2.0) {
                EXPECT_TRUE(HasDetailFinerThanAPixel(faces[0]));
            }
            for (std::size_t i = 0; i < faces.size(); ++i) {
                for (std::size_t j = i + 1; j < faces.size(); ++j) {
                    EXPECT_NE(faces[i], faces[j]) << "faces " << i << " and " << j << " look the same";
                }
            }
        }
    }
    // A control without a drawing is left to its picture.
    EXPECT_TRUE(DrawButtonFace(ControlId::TimeDisplay, QStringLiteral("x"), Face::Normal, 2.0).isNull());
}

TEST(LevelMeterTest, ShowsThePeakInDbfsAndMarksOnlyFullScale) {
    const struct {
        int peak;
        const char* text;
        double fraction;
        bool clip;
    } cases[] = {
        {0, "-inf dBFS", 0.0, false},  // silence: an empty bar, not a NaN or a huge number
        {1, "-90.3 dBFS", 0.0, false}, // below the bar's floor
        {32, "-60.2 dBFS", 0.0, false},   {3277, "-20.0 dBFS", 2.0 / 3.0, false},
        {16384, "-6.0 dBFS", 0.9, false}, {32766, "-0.0 dBFS", 1.0, false}, // loud but not clipped
        {32767, "-0.0 dBFS", 1.0, true},                                    // the end of the 16-bit range
        {32768, "0.0 dBFS", 1.0, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peak);
        CLevelMeter meter;
        meter.ShowPeak(c.peak);
        EXPECT_EQ(meter.LevelText().toStdString(), c.text);
        EXPECT_NEAR(meter.BarFraction(), c.fraction, 0.002);
        EXPECT_EQ(meter.ClipShown(), c.clip);
        // A quiet peak after a clipped one leaves the mark lit for a moment.
        meter.ShowPeak(100);
        EXPECT_EQ(meter.ClipShown(), c.clip);
        meter.Reset();
        EXPECT_FALSE(meter.ClipShown());
        EXPECT_EQ(meter.BarFraction(), 0.0);
    }
}

TEST_F(RecorderTest, PlayAndOpenPlayEnhancedUnlessTheMenuEntryIsOff) {
    const std::filesystem::path file = WriteFrameFile("speech.prm", 40);
    const std::vector<std::uint8_t> frames = FileBytes(file);
    const struct {
        bool enhancedChecked;
        DecodeMode heard;
    } cases[] = {{true, DecodeMode::Enhanced}, {false, DecodeMode::Plain}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.enhancedChecked);
        for (const bool viaOpen : {true, false}) {
            SCOPED_TRACE(viaOpen ? "Open" : "Play");
            Open();
            EXPECT_TRUE(dialog->EnhancedPlaybackAction().isCheckable());
            EXPECT_EQ(dialog->EnhancedPlaybackAction().text().toStdString(), "Enhanced playback");
            dialog->EnhancedPlaybackAction().setChecked(c.enhancedChecked);
            if (viaOpen) {
                script.openAnswers.push_back(Text(file));
                dialog->OnOpen();
            } else {
                dialog->OpenFile(Text(file));
                ASSERT_TRUE(WaitForRunEnd());
                dialog->OnPlay();
            }
            ASSERT_TRUE(WaitForRunEnd());
            std::vector<std::int16_t> played = backend->PlayedSamples();
            // Only the last run's samples: the one before (Play's case) played the same file.
            const std::vector<std::int16_t> expected = Decode(frames, c.heard);
            ASSERT_GE(played.size(), expected.size());
            played.erase(played.begin(), played.end() - static_cast<std::ptrdiff_t>(expected.size()));
            EXPECT_EQ(played, expected);
            EXPECT_NE(expected, Decode(frames, c.heard == DecodeMode::Plain ? DecodeMode::Enhanced
                                                                            : DecodeMode::Plain));
            Close();
            // Remembered: the next window starts with the entry as it was left.
            Open();
            EXPECT_EQ(dialog->EnhancedPlaybackAction().isChecked(), c.enhancedChecked);
            Close();
        }
    }
}

// The recording effort: Better by default, remembered, and what the working file holds; an effort
// the machine cannot keep up with is never used.
TEST_F(RecorderTest, RecordsAtTheChosenEffortBetterByDefaultAndRemembersTheChoice) {
    Open();
    if (!dialog->EffortAction(1).isEnabled()) {
        GTEST_SKIP() << "this build encodes Better below 10x real time (a sanitizer build on a busy machine)";
    }
    EXPECT_TRUE(dialog->EffortAction(1).isChecked());
    EXPECT_EQ(dialog->EffortAction(0).text().toStdString(), "Standard");
    EXPECT_EQ(dialog->RecordingEffortInUse(), 1);
    RecordBlocks(2);
    StopRun();
    // The virtual input's tone, encoded as the effort-1 encoder does.
    const std::vector<std::uint8_t> bytes = FileBytes(dialog->TempPath());
    ASSERT_EQ(bytes.size(), 2u * kEncodedBlockBytes);
    CSpeechCodec codec;
    codec.encoderEffort = 1;
    const VirtualAudioConfig source = CaptureOnRequest();
    std::vector<std::uint8_t> expected;
    PackedFrame frame{};
    for (std::size_t at = 0; at < 6 * static_cast<std::size_t>(kFrameSamples); at += kFrameSamples) {
        (void)codec.EncodeFrame(ConstSampleFrame(source.captureSource.data() + at, kFrameSamples), frame, 50);
        expected.insert(expected.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(bytes, expected);
    // Standard is offered on every machine, so the choice is remembered whatever this one measures.
    dialog->EffortAction(0).trigger();
    Close();
    Open();
    EXPECT_TRUE(dialog->EffortAction(0).isChecked());
    EXPECT_EQ(dialog->RecordingEffortInUse(), 0);
}

TEST(EncoderSpeed, AnEffortTooSlowForTenTimesRealTimeIsRefusedAndTheNextOneDownUsed) {
    struct Case {
        std::array<double, kWindowEfforts> factors;
        int wanted;
        int used;
    };
    for (const Case& c : {Case{{1000, 400, 59}, 2, 2}, Case{{1000, 400, 9.9}, 2, 1}, Case{{1000, 9.9, 12}, 2, 2},
                          Case{{1000, 9.9, 9.9}, 1, 0}, Case{{3, 3, 3}, 0, 0}, Case{{1000, 400, 59}, 7, 2}}) {
        const std::array<bool, kWindowEfforts> allowed = AllowedEfforts(c.factors);
        EXPECT_TRUE(allowed[0]) << "the plain encoder is always offered";
        EXPECT_EQ(UsableEffort(c.wanted, allowed), c.used) << c.factors[1] << " " << c.factors[2];
    }
}

TEST_F(RecorderTest, EnhancedPlaybackIsTheDefault) {
    Open();
    EXPECT_TRUE(dialog->EnhancedPlaybackAction().isChecked());
    EXPECT_EQ(PlaybackMode(), DecodeMode::Enhanced);
}

TEST_F(RecorderTest, TheLevelStripShowsTheCapturedPeakOnlyWhileRecording) {
    Open();
    EXPECT_FALSE(dialog->LevelMeter().isVisible());
    RecordBlocks(3);
    EXPECT_TRUE(dialog->LevelMeter().isVisible());
    // The test input is a tone of amplitude 6000: about -14.7 dBFS.
    ASSERT_TRUE(WaitFor([&] { return std::isfinite(dialog->LevelMeter().PeakDbfs()); }));
    EXPECT_NEAR(dialog->LevelMeter().PeakDbfs(), 20.0 * std::log10(6000.0 / 32768.0), 0.2);
    EXPECT_FALSE(dialog->LevelMeter().ClipShown());
    // A full-scale peak lights the clip mark.
    dialog->ShowInputLevel(32767);
    ASSERT_TRUE(WaitFor([&] { return dialog->LevelMeter().ClipShown(); }));
    StopRun();
    EXPECT_FALSE(dialog->LevelMeter().isVisible());
    // A level report that arrives after the recording shows nothing.
    dialog->ShowInputLevel(20000);
    ASSERT_TRUE(WaitFor([&] { return dialog->PendingReportCount() == 0; }));
    EXPECT_FALSE(dialog->LevelMeter().isVisible());
    // Playing shows no level.
    dialog->OnPlay();
    EXPECT_FALSE(dialog->LevelMeter().isVisible());
    ASSERT_TRUE(WaitForRunEnd());
}

TEST_F(RecorderTest, LevelReportsOfABusyWindowJoinIntoOneWithTheLoudestPeak) {
    Open();
    RecordBlocks(1);
    // The window's thread is busy here; the capture thread's reports must not pile up meanwhile.
    std::thread capture([&] {
        for (int i = 0; i < 5000; ++i) {
            dialog->ShowInputLevel(i == 1234 ? 30000 : i % 1000);
        }
    });
    capture.join();
    EXPECT_LE(dialog->PendingReportCount(), 3u) << "one level report, and perhaps the recording's own";
    ASSERT_TRUE(WaitFor([&] { return dialog->PendingReportCount() == 0; }));
    EXPECT_NEAR(dialog->LevelMeter().PeakDbfs(), 20.0 * std::log10(30000.0 / 32768.0), 0.01);
    StopRun();
}

TEST_F(RecorderTest, EveryButtonNamesItselfAndItsKeyAndNoneTakesEnterEscapeOrSpace) {
    Open();
    const struct {
        ControlId id;
        const char* name;
        const char* tip;
    } cases[] = {
        {ControlId::Play, "Play", "Play (Ctrl+P)"},          {ControlId::Record, "Record", "Record (Ctrl+R)"},
        {ControlId::Pause, "Pause", "Pause (Ctrl+Shift+P)"}, {ControlId::Stop, "Stop", "Stop (Ctrl+T)"},
        {ControlId::Open, "Open", "Open (Ctrl+O)"},          {ControlId::Save, "Save", "Save (Ctrl+S)"},
        {ControlId::About, "About", "About (F1)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Button(c.id).accessibleName().toStdString(), c.name);
        EXPECT_EQ(Button(c.id).toolTip().toStdString(), c.tip);
    }
    EXPECT_EQ(dialog->Slider().accessibleName().toStdString(), "Position");
    for (const QShortcut* shortcut : dialog->findChildren<QShortcut*>()) {
        for (const QKeySequence& key : shortcut->keys()) {
            for (const int taken :
                 {int(Qt::Key_Return), int(Qt::Key_Enter), int(Qt::Key_Escape), int(Qt::Key_Space)}) {
                EXPECT_NE(key[0].key(), taken) << key.toString().toStdString();
            }
        }
    }
}

class RecorderKeysTest : public RecorderTest {
protected:
    void Press(const char* key) {
        const QKeySequence sequence(QString::fromLatin1(key));
        QTest::keySequence(dialog.get(), sequence);
    }
};

TEST_F(RecorderKeysTest, TheKeysPressTheirButtonsOnlyWhenTheyAreEnabled) {
    Open();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get(), 5000));

    // Disabled in the idle state: nothing happens.
    Press("Ctrl+P");
    Press("Ctrl+S");
    Press("Ctrl+T");
    EXPECT_FALSE(dialog->IsPlaying());
    EXPECT_EQ(script.saveDialogs, 0);
    ExpectButtons(kIdleButtons);

    Press("Ctrl+R");
    ASSERT_TRUE(dialog->IsRecording());
    recordingBlocks = std::exchange(initialCredit, 0); // as RecordBlocks counts a recording
    CaptureMore(2);
    Press("Ctrl+Shift+P");
    EXPECT_TRUE(dialog->IsPaused());
    Press("Ctrl+Shift+P");
    EXPECT_FALSE(dialog->IsPaused());
    Press("Ctrl+T");
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_TRUE(dialog->HasRecording());

    Press("Ctrl+P");
    EXPECT_TRUE(dialog->IsPlaying() || backend->PlayedSamples().size() > 0);
    ASSERT_TRUE(WaitForRunEnd());

    script.saveAnswers.push_back(std::nullopt);
    Press("Ctrl+S");
    EXPECT_EQ(script.saveDialogs, 1);

    script.promptAnswers.push_back(QDialog::Rejected);
    script.openAnswers.push_back(std::nullopt);
    Press("Ctrl+O");
    EXPECT_EQ(script.openDialogs, 1);

    Press("F1");
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "About");
}

TEST_F(RecorderTest, TheFileDialogsStartInTheFolderOfTheFileOpenedOrSavedLast) {
    std::filesystem::create_directories(InFolder("talks"));
    std::filesystem::create_directories(InFolder("saved"));
    const std::filesystem::path talk = WriteFrameFile("talks/a.prm", 10);
    Open();
    EXPECT_TRUE(LastFolder().isEmpty());

    script.openAnswers.push_back(Text(talk));
    dialog->OnOpen();
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(QDir(LastFolder()), QDir(Text(InFolder("talks"))));

    RecordBlocks(2);
    StopRun();
    script.saveAnswers.push_back(Text(InFolder("saved/b.prm")));
    ASSERT_TRUE(dialog->OnSave());
    EXPECT_EQ(QDir(LastFolder()), QDir(Text(InFolder("saved"))));

    // A folder removed since is not offered.
    std::filesystem::remove_all(InFolder("saved"));
    EXPECT_TRUE(LastFolder().isEmpty());
}

QMimeData* FileDrop(const QList<QUrl>& urls) {
    auto* data = new QMimeData; // owned by the caller's event
    data->setUrls(urls);
    return data;
}

// Sends a drag onto the window and, when it is taken, the drop; true when the window took it.
bool DropOnto(QWidget& window, const QList<QUrl>& urls) {
    const std::unique_ptr<QMimeData> data(FileDrop(urls));
    const QPoint at = window.rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(at), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&window, &drop);
    return drop.isAccepted();
}

TEST_F(RecorderTest, ADroppedRecordingPlaysAsOpenPlaysIt) {
    const std::filesystem::path talk = WriteFrameFile("dropped.prm", 20);
    Open();
    ASSERT_TRUE(DropOnto(*dialog, {QUrl::fromLocalFile(Text(talk))}));
    ASSERT_TRUE(WaitFor([&] { return dialog->FileNameText() == QStringLiteral("dropped.prm"); }));
    ASSERT_TRUE(WaitForRunEnd());
    EXPECT_EQ(dialog->FilePath(), talk.string());
    ExpectButtons(kStoppedFileButtons);
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(RecorderTest, DropsTheWindowMustNotTake) {
    const std::filesystem::path talk = WriteFrameFile("talk.prm", 20);
    const std::filesystem::path other = WriteFrameFile("other.prm", 20);
    Open();
    EXPECT_FALSE(DropOnto(*dialog, {QUrl::fromLocalFile(Text(talk)), QUrl::fromLocalFile(Text(other))}))
        << "two files at once";
    EXPECT_FALSE(DropOnto(*dialog, {QUrl(QStringLiteral("https://example.org/talk.prm"))}))
        << "not a local file";
    RecordBlocks(1);
    EXPECT_FALSE(DropOnto(*dialog, {QUrl::fromLocalFile(Text(talk))})) << "while recording";
    StopRun();
    QTest::qWait(0);
    EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
    EXPECT_EQ(script.openDialogs, 0);
}

TEST_F(RecorderTest, AFileGivenToTheWindowGetsOpensChecksAndPrompt) {
    // Not a recording: refused with the reason, as Open refuses it.
    const std::filesystem::path wav = InFolder("song.wav");
    WriteBytes(wav, std::vector<std::uint8_t>{'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                              'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                              1,   0,   0x40, 0x1f, 0,   0,   0x80, 0x3e, 0,   0,   2,
                                              0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0});
    Open();
    dialog->OpenFile(Text(wav));
    EXPECT_FALSE(dialog->IsPlaying());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "Not played");

    // An unsaved recording is offered first; Yes goes to the save dialog and the file waits.
    RecordBlocks(2);
    StopRun();
    const std::filesystem::path talk = WriteFrameFile("talk.prm", 10);
    script.promptAnswers.push_back(QDialog::Accepted);
    script.saveAnswers.push_back(std::nullopt);
    dialog->OpenFile(Text(talk));
    EXPECT_EQ(script.prompts, 1);
    EXPECT_FALSE(dialog->IsPlaying());
    EXPECT_TRUE(dialog->HasRecording());
    EXPECT_EQ(script.openDialogs, 0) << "the file dialog is never shown for a file given";
}

TEST_F(RecorderTest, SaveAsWavWritesTheSoundAsHeardAndKeepsTheRecordingUnsaved) {
    for (const bool enhanced : {true, false}) {
        SCOPED_TRACE(enhanced);
        Open();
        dialog->EnhancedPlaybackAction().setChecked(enhanced);
        RecordBlocks(4);
        StopRun();
        const std::vector<std::uint8_t> frames = FileBytes(dialog->TempPath());
        ASSERT_EQ(frames.size(), 4u * 3u * kPackedFrameBytes);

        const std::filesystem::path wav = InFolder(enhanced ? "share.wav" : "plain.WAV");
        script.saveAnswers.push_back(Text(wav));
        EXPECT_FALSE(dialog->OnSave()) << "a WAV file is not the recording saved";

        const std::vector<std::uint8_t> bytes = FileBytes(wav);
        const std::vector<std::int16_t> expected =
            Decode(frames, enhanced ? DecodeMode::Enhanced : DecodeMode::Plain);
        ASSERT_EQ(bytes.size(), 44 + expected.size() * 2);
        EXPECT_EQ(std::memcmp(bytes.data(), "RIFF", 4), 0);
        EXPECT_EQ(LittleEndian(bytes, 4, 4), bytes.size() - 8);
        EXPECT_EQ(std::memcmp(bytes.data() + 8, "WAVEfmt ", 8), 0);
        EXPECT_EQ(LittleEndian(bytes, 16, 4), 16u);
        EXPECT_EQ(LittleEndian(bytes, 20, 2), 1u) << "PCM";
        EXPECT_EQ(LittleEndian(bytes, 22, 2), 1u) << "mono";
        EXPECT_EQ(LittleEndian(bytes, 24, 4), 8000u);
        EXPECT_EQ(LittleEndian(bytes, 28, 4), 16000u);
        EXPECT_EQ(LittleEndian(bytes, 32, 2), 2u);
        EXPECT_EQ(LittleEndian(bytes, 34, 2), 16u);
        EXPECT_EQ(std::memcmp(bytes.data() + 36, "data", 4), 0);
        EXPECT_EQ(LittleEndian(bytes, 40, 4), expected.size() * 2);
        std::vector<std::int16_t> samples(expected.size());
        for (std::size_t i = 0; i < samples.size(); ++i) {
            samples[i] = static_cast<std::int16_t>(LittleEndian(bytes, 44 + 2 * i, 2));
        }
        EXPECT_EQ(samples, expected);

        // Nothing else changed: the recording is still the window's, unsaved, and still offered.
        EXPECT_TRUE(dialog->HasRecording());
        EXPECT_EQ(FileBytes(dialog->TempPath()), frames);
        EXPECT_EQ(dialog->FileNameText().toStdString(), "Noname.prm");
        ExpectButtons(kStoppedUnsavedButtons);
        EXPECT_TRUE(script.messages.empty());
        script.promptAnswers.push_back(QDialog::Rejected);
        dialog->close();
        EXPECT_EQ(script.prompts, 1);
        Close();
        script.prompts = 0;
    }
}

TEST_F(RecorderTest, ClosingWithOnlyAWavSavedKeepsTheWindowAndTheRecording) {
    Open();
    RecordBlocks(2);
    StopRun();
    // Yes at the close prompt, then WAV in the save dialog: the recording itself is still unsaved.
    script.promptAnswers.push_back(QDialog::Accepted);
    script.saveAnswers.push_back(Text(InFolder("share.wav")));
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(dialog->HasRecording());
    EXPECT_TRUE(std::filesystem::exists(InFolder("share.wav")));
    // Saved as a recording, it closes.
    script.promptAnswers.push_back(QDialog::Accepted);
    script.saveAnswers.push_back(Text(InFolder("kept.prm")));
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(FileBytes(InFolder("kept.prm")).size(), 2u * 3u * kPackedFrameBytes);
}

TEST_F(RecorderTest, AWavSaveThatFailsSaysWhyAndKeepsTheRecording) {
    Open();
    RecordBlocks(2);
    StopRun();
    script.saveAnswers.push_back(Text(InFolder("missing-folder/x.wav")));
    EXPECT_FALSE(dialog->OnSave());
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].title.toStdString(), "Recording not saved");
    EXPECT_TRUE(dialog->HasRecording());
    ExpectButtons(kStoppedUnsavedButtons);
    EXPECT_FALSE(std::filesystem::exists(InFolder("missing-folder")));
}

} // namespace
} // namespace velmar::test
