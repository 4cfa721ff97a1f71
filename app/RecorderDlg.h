// The recorder's one window, "Velmar Voice Recorder/Player": seven bitmap buttons, the position
// slider, the time display and the file name. It owns the pipeline that records and plays, turns
// clicks, slider moves and the close request into pipeline calls and changes of its controls, and
// applies the pipeline's reports to them. It does no audio or frame work and converts no units: the
// pipeline does that and its conversions; the window only writes the times it is given as text.
//
// Threads: everything runs on the window's thread except the four report entries, which the
// pipeline's worker threads call. Those only queue the report and wake the window's thread, which
// applies the reports in the order they were made; once the close handling has begun, or after the
// window is gone, a report changes nothing.
#pragma once

#include "app/ButtonStates.h"
#include "app/DialogTemplate.h"
#include "app/EncoderSpeed.h"
#include "app/ModalDialogs.h"
#include "app/PositionSlider.h"
#include "app/WorkingFile.h"
#include "pipeline/Pipeline.h"
#include "pipeline/PipelineReports.h"

#include <QDialog>
#include <QIcon>
#include <QMetaObject>
#include <QString>

#include <array>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QAction;
class QLabel;
class QMimeData;

namespace velmar {

class CAudioBackend;
class CBitmapButton;
class CLevelMeter;
struct CopyOutcome;

// True for a name Save writes as a WAV file rather than as a recording.
bool IsWavName(const QString& path);

class CRecorderDlg : public QDialog, public CPipelineReports {
    Q_OBJECT

public:
    // `backend` is the sound service the pipeline uses (the machine's devices, or the tests' virtual
    // device); `modalDialogs` opens the prompt, file dialogs and message boxes.
    explicit CRecorderDlg(std::unique_ptr<CAudioBackend> backend,
                          ModalDialogs modalDialogs = PlatformDialogs());
    ~CRecorderDlg() override;
    CRecorderDlg(const CRecorderDlg&) = delete;
    CRecorderDlg& operator=(const CRecorderDlg&) = delete;

    // --- Reports of the pipeline; called on its worker threads, never on the window's. ---
    void OnPipelineStopped() override;
    void ShowDuration(int durationTenths) override;
    void ShowElapsed(int elapsedTenths) override;
    void SetSliderPercent(int positionPercent) override;
    // Queued as the other reports, but at most one waits at a time: a new peak joins the waiting one.
    void ShowInputLevel(int peak) override;

    // --- Handlers, on the window's thread. ---
    void OnPlay();
    void OnRecord();
    void OnPause();
    void OnStop();
    void OnOpen();
    // Opens and plays `path` as Open does with a file chosen in its dialog (the save prompt first, the
    // same checks): a file given on the command line or dropped on the window.
    void OpenFile(const QString& path);
    // True when the recording was saved.
    bool OnSave();
    void OnAbout();
    void OnHScroll(SliderCode code);
    // The OK command (Enter): does nothing during a run; with an unsaved recording it is the close
    // request, otherwise it ends the dialog.
    void OnOK();
    // The cancel command (Escape): the close request while there is a recording to lose, otherwise
    // it ends the dialog at once.
    void OnCancel();
    // Asks whether to save the recording; true unless the prompt ended with No, Escape or its close box.
    bool PromptSave();

    // --- What the window shows and holds, for tests and screenshots (window's thread). ---
    bool IsPlaying() const { return playing; }
    bool IsRecording() const { return recording; }
    bool HasRecording() const { return hasRecording; }
    bool IsPaused() const { return paused; }
    bool IsClosing() const { return closing; }
    int TotalTenths() const { return totalTenths; }
    int PositionTenths() const { return positionTenths; }
    int SliderPos() const { return sliderPos; }
    const std::string& TempPath() const { return tempPath; }
    const std::string& FilePath() const { return filePath; }
    const QString& FileName() const { return fileName; }
    QString TimeDisplayText() const;
    QString FileNameText() const;
    const CButtonStates& ButtonStates() const { return buttonStates; }
    CBitmapButton& Button(ControlId id) const;
    CPositionSlider& Slider() const { return *slider; }
    const QIcon& Icon() const { return icon; }
    const CPipeline& Pipeline() const { return pipeline; }
    CLevelMeter& LevelMeter() const { return *levelMeter; }
    // The checkable "Enhanced playback" entry of the window's context menu.
    QAction& EnhancedPlaybackAction() const { return *enhancedPlayback; }
    // The choice of how hard the encoder searches while recording ("Standard", "Better", "Best").
    QAction& EffortAction(int effort) const { return *effortActions[static_cast<std::size_t>(effort)]; }
    // The effort the next recording is made at.
    int RecordingEffortInUse() const;
    // Reports queued by the worker threads and not yet applied.
    std::size_t PendingReportCount();

protected:
    // The close request (close box, system menu, Alt+F4): OnClose, then the dialog ends.
    void closeEvent(QCloseEvent* event) override;
    // Enter runs OnOK, Escape OnCancel.
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // A single local file dropped while Open is enabled is opened as Open opens it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    enum class ReportKind { Stopped, Duration, Elapsed, SliderPercent, InputLevel };
    struct Report {
        ReportKind kind;
        int value;
    };

    void OnInitDialog();
    // The close handling; false when the window stays open because a recording the user wants to
    // keep was not saved (the save dialog was cancelled or the save failed).
    bool OnClose();
    // Offers a recording left in the working file by an earlier run, once the window shows.
    void OfferLeftover();
    // The stopped state after a run, or the start state when there is nothing to play.
    void EnterStoppedState(bool ended);
    // False, with the reason shown, when `path` must not be handed to the player.
    bool CheckPlayable(const std::string& path, const QString& shownName);
    void OnFocusChanged(QWidget* previous, QWidget* now);

    // Called on a worker thread: queues the report and wakes the window's thread.
    void QueueReport(ReportKind kind, int value);
    // Applies every queued report, oldest first; then tells the user why a run ended, if it failed.
    // Invokable by name: see QueueReport.
    Q_INVOKABLE void DeliverReports();
    void ApplyStopped();
    void ApplyDuration(int durationTenths);
    void ApplyElapsed(int elapsedTenths);
    void ApplySliderPercent(int positionPercent);
    void ApplyInputLevel(int peak);
    // The file a drop carries, when the window takes it.
    std::optional<QString> DroppedFile(const QMimeData* mime) const;
    void AddShortcuts();
    // Open with the file given, or with the one chosen in the open dialog when none is.
    void OpenChosen(std::optional<QString> given);

    void MoveSlider(int percent);
    void ShowTimeText(const QString& text);
    void ShowFileName();
    void ShowStartFailure(bool started, const QString& what);
    void ShowSaveFailure(const QString& target, const CopyOutcome& outcome);
    void ShowMessage(MessageKind kind, const char* title, const QString& text);

    ModalDialogs dialogs;

    // Reports made by the worker threads and not yet applied, oldest first. Declared before the
    // pipeline so it outlives every thread that may queue into it.
    std::mutex reportMutex;
    std::deque<Report> pendingReports; // guarded by reportMutex
    // Why the last run ended, when it failed; shown once its reports are applied.
    struct RunError {
        const char* title;
        QString text;
    };
    std::optional<RunError> runError;

    // The backend before the pipeline, so the pipeline (and every thread it runs) ends first.
    std::unique_ptr<CAudioBackend> audioBackend;
    CPipeline pipeline;

    std::string filePath;      // path of the file opened or saved last (file-system encoding)
    bool hasRecording = false; // the temporary file holds a recording not yet saved
    bool playing = false;      // set by Play and Open, cleared by the end-of-run report
    bool recording = false;    // set by Record, cleared by the end-of-run report
    bool closing = false;      // the close handling (or teardown) has begun: reports change nothing
    std::string tempPath;      // the working file's path (see CWorkingFile)
    QString totalText;
    QString positionText;
    QString fileName;
    // The seven buttons, the displays and the slider are owned by the dialog as its child widgets.
    CBitmapButton* playButton = nullptr;
    CBitmapButton* recordButton = nullptr;
    CBitmapButton* pauseButton = nullptr;
    CBitmapButton* stopButton = nullptr;
    CBitmapButton* openButton = nullptr;
    CBitmapButton* saveButton = nullptr;
    CBitmapButton* aboutButton = nullptr;
    QLabel* timeDisplay = nullptr;
    QLabel* fileNameDisplay = nullptr;
    CButtonStates buttonStates;
    bool paused = false; // the last press of Pause paused the run
    CPositionSlider* slider = nullptr;
    int totalTenths = 0;
    int positionTenths = 0;
    int sliderPos = 0; // slider position last read, 0 .. 100
    QIcon icon;
    CLevelMeter* levelMeter = nullptr;   // owned by the dialog, shown while recording
    QAction* enhancedPlayback = nullptr; // owned by the dialog
    std::array<QAction*, kWindowEfforts> effortActions{}; // owned by the dialog
    // Which efforts this machine keeps up with, measured once at start-up.
    std::array<bool, kWindowEfforts> effortAllowed{};

    // What a recording replaces, put back when it ends without a single frame.
    struct BeforeRecording {
        QString fileName;
        QString totalText;
        int totalTenths = 0;
    };
    BeforeRecording beforeRecording;

    // Declared after the pipeline: deleted at teardown once the pipeline has stopped writing it.
    CWorkingFile workingFile;

    bool closeHandlingActive = false; // inside OnClose: a second close request waits for it
    QMetaObject::Connection focusConnection;
};

} // namespace velmar
