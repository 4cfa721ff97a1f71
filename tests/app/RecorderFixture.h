// The recorder window over the real pipeline and the virtual sound device, in a folder of its own,
// with the modal windows answered by the test: each prompt, file dialog and message is taken from
// a script or recorded, and a window the script does not expect fails the test.
#pragma once

#include "app/ButtonStates.h"
#include "app/ModalDialogs.h"
#include "app/RecorderDlg.h"
#include "audio/VirtualAudioDevice.h"
#include "support/TestData.h"

#include <QString>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace velmar::test {

using namespace std::chrono_literals;

// Long enough that only a failure reaches it, also under the sanitizers.
inline constexpr std::chrono::milliseconds kGuiTimeout{30000};

struct ShownMessage {
    MessageKind kind;
    QString title;
    QString text;
};

// Answers to the modal windows, in order, and what was asked.
class CScriptedDialogs {
public:
    std::deque<int> promptAnswers; // QDialog::Accepted or QDialog::Rejected
    std::deque<std::optional<QString>> openAnswers;
    std::deque<std::optional<QString>> saveAnswers;
    int prompts = 0;
    int openDialogs = 0;
    int saveDialogs = 0;
    std::vector<ShownMessage> messages;
    // Runs while a prompt is open (after it is counted), as a user looking at it would wait.
    std::function<void()> duringPrompt;

    ModalDialogs Make();
};

// The buttons each state of the window enables, written out as the window's states table.
struct ExpectedButtons {
    bool play, record, pause, stop, open, save, about;
};
inline constexpr ExpectedButtons kIdleButtons{false, true, false, false, true, false, true};
inline constexpr ExpectedButtons kRunningButtons{false, false, true, true, false, false, true};
inline constexpr ExpectedButtons kStoppedUnsavedButtons{true, true, false, false, true, true, true};
inline constexpr ExpectedButtons kStoppedFileButtons{true, true, false, false, true, false, true};

class RecorderTest : public ::testing::Test {
protected:
    RecorderTest();
    ~RecorderTest() override;

    // Creates and shows the window over a virtual device with `config`.
    void Open(VirtualAudioConfig config = CaptureOnRequest());
    // Destroys the window (its teardown runs).
    void Close();

    // Input that captures only the buffers granted, so recordings have exactly the length asked
    // for; output as fast as the engine takes it.
    static VirtualAudioConfig CaptureOnRequest();
    // Capture and playback take as long as the sound lasts, so a run is still going when a test
    // looks at it; recordings are then at least as long as asked for.
    static VirtualAudioConfig RealTimePlayback();

    // Waits, serving the window's events, until `done` holds; false on time-out.
    static bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = kGuiTimeout);

    // Presses Record and lets `blocks` capture blocks (three frames each) be captured and encoded
    // (at least that many in real time).
    void RecordBlocks(int blocks);
    // Captures and encodes `blocks` more blocks of a running recording.
    void CaptureMore(int blocks);
    // Presses Stop and waits for the end-of-run report.
    void StopRun();
    // Waits until the pipeline has ended the run by itself and the window has applied its report.
    bool WaitForRunEnd();
    // Waits until the output device plays the run just started (Pause acts only from then on).
    void WaitUntilPlaying();

    // A .prm file of `frames` frames in the test's folder.
    std::filesystem::path WriteFrameFile(const std::string& name, int frames);
    std::filesystem::path InFolder(const std::string& name) const { return folder.Path() / name; }

    void ExpectButtons(const ExpectedButtons& expected) const;
    QWidget* FocusHolder() const { return dialog->ButtonStates().FocusHolder(); }
    CBitmapButton& Button(ControlId id) const { return dialog->Button(id); }

    CTempDir folder;
    std::filesystem::path previousFolder;
    CScriptedDialogs script;
    CVirtualAudioBackend* backend = nullptr; // owned by the dialog
    std::unique_ptr<CRecorderDlg> dialog;
    bool captureOnRequest = true;
    int initialCredit = 0;   // capture buffers granted by the configuration, not yet recorded
    int recordingBlocks = 0; // blocks captured by the current recording
};

// Makes every write past `bytes` of any file fail with EFBIG, as a full disk would, for the life of
// the object (the whole process is limited, so only while nothing else writes).
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes);
    ~CFileSizeLimit();
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

private:
    rlimit saved{};
    void (*previousHandler)(int) = nullptr;
};

// Reads a whole file (empty when it does not exist).
std::vector<std::uint8_t> FileBytes(const std::filesystem::path& path);

} // namespace velmar::test
