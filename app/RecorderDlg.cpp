#include "app/RecorderDlg.h"

#include "app/BitmapButton.h"
#include "app/DialogLayout.h"
#include "app/DialogTexts.h"
#include "app/LevelMeter.h"
#include "app/RecorderSettings.h"
#include "app/RecordingCopy.h"
#include "app/TimeText.h"
#include "audio/AudioDevice.h"
#include "pipeline/Conversions.h"
#include "pipeline/RecordingFileCheck.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QActionGroup>
#include <QMenu>
#include <QMimeData>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cassert>
#include <chrono>
#include <filesystem>
#include <system_error>

// The artwork is compiled into the app library; a static library's resources must be registered by
// name, outside any namespace.
static void RegisterRecorderArtwork() {
    static const bool registered = [] {
        Q_INIT_RESOURCE(recorder);
        return true;
    }();
    (void)registered;
}

namespace velmar {
namespace {

// After stopping a playback, the close handling waits this long before the window goes.
constexpr std::chrono::milliseconds kClosePlaybackWait{500};

constexpr Qt::WindowFlags kDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// The folder the program started in; the working file stays there whatever the file dialogs do to
// the current folder later. "." when it cannot be read.
std::filesystem::path StartFolder() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::current_path(error);
    return error ? std::filesystem::path(".") : folder;
}

QIcon LoadApplicationIcon() {
    QIcon loaded;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        loaded.addFile(QStringLiteral(":/icons/%1/%2.png").arg(kIconResource).arg(size), QSize(size, size));
    }
    return loaded;
}

std::string ToFileSystemPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

const char* SaveFailureText(CopyFailure failure) {
    switch (failure) {
    case CopyFailure::SameFile:
        return texts::kSaveOntoRecording;
    case CopyFailure::OpenSource:
        return texts::kSaveOpenRecordingFailed;
    case CopyFailure::CreateTarget:
        return texts::kSaveCreateFailed;
    case CopyFailure::TargetNotFile:
        return texts::kSaveTargetNotFile;
    case CopyFailure::Read:
        return texts::kSaveReadFailed;
    case CopyFailure::Write:
    case CopyFailure::None:
        break;
    }
    return texts::kSaveWriteFailed;
}

} // namespace

CRecorderDlg::CRecorderDlg(std::unique_ptr<CAudioBackend> backend, ModalDialogs modalDialogs)
    : QDialog(nullptr, kDialogFlags)
    , dialogs(std::move(modalDialogs))
    , audioBackend(std::move(backend))
    , pipeline(*this, *audioBackend)
    , workingFile(StartFolder()) {
    RegisterRecorderArtwork();

    // The dialog template: font, title, size and controls in tab order.
    setFont(DialogFont());
    setWindowTitle(QString::fromUtf8(texts::kDialogTitle));
    setFixedSize(DialogUnitsToPixels(kRecorderDialogWithStripSize, font()).size());
    for (const TemplateControl& control : kRecorderTemplate) {
        if (control.kind != ControlKind::BitmapButton) {
            CreateTemplateControl(*this, control);
            continue;
        }
        auto* button = new CBitmapButton(this); // owned by the dialog
        button->setText(QString::fromUtf8(control.caption));
        button->move(DialogUnitsToPixels(control.place, font()).topLeft());
        SetControlId(*button, control.id);
    }
    playButton = &Button(ControlId::Play);
    recordButton = &Button(ControlId::Record);
    pauseButton = &Button(ControlId::Pause);
    stopButton = &Button(ControlId::Stop);
    openButton = &Button(ControlId::Open);
    saveButton = &Button(ControlId::Save);
    aboutButton = &Button(ControlId::About);
    timeDisplay = qobject_cast<QLabel*>(FindControl(*this, ControlId::TimeDisplay));
    fileNameDisplay = qobject_cast<QLabel*>(FindControl(*this, ControlId::FileName));

    levelMeter = new CLevelMeter(this); // owned by the dialog
    levelMeter->setGeometry(DialogUnitsToPixels(kLevelStrip, font()));
    levelMeter->hide();

    enhancedPlayback = new QAction(QString::fromUtf8(texts::kEnhancedPlayback), this);
    enhancedPlayback->setCheckable(true);
    enhancedPlayback->setChecked(PlaybackMode() == DecodeMode::Enhanced);
    connect(enhancedPlayback, &QAction::toggled, this,
            [](bool on) { SetPlaybackMode(on ? DecodeMode::Enhanced : DecodeMode::Plain); });
    // The recording effort: measured here once, so that a slow machine never records at an effort
    // whose encoder would fall behind the sound card.
    std::array<double, kWindowEfforts> factors{};
    for (int effort = 0; effort < kWindowEfforts; ++effort) {
        factors[static_cast<std::size_t>(effort)] = effort == 0 ? kRequiredRealTime : MeasureRealTimeFactor(effort);
    }
    effortAllowed = AllowedEfforts(factors);
    auto* efforts = new QActionGroup(this); // owned by the dialog
    for (int effort = 0; effort < kWindowEfforts; ++effort) {
        const QString name = QString::fromUtf8(texts::kEffortNames[effort]);
        QAction* action = efforts->addAction(effortAllowed[static_cast<std::size_t>(effort)]
                                                 ? name
                                                 : QString::fromUtf8(texts::kEffortTooSlow).arg(name));
        action->setCheckable(true);
        action->setEnabled(effortAllowed[static_cast<std::size_t>(effort)]);
        connect(action, &QAction::triggered, this, [effort] { SetRecordingEffort(effort); });
        effortActions[static_cast<std::size_t>(effort)] = action;
    }
    effortActions[static_cast<std::size_t>(RecordingEffortInUse())]->setChecked(true);
    setAcceptDrops(true);

    icon = LoadApplicationIcon();

    // The window's own working file. An empty or fragment-only one left by an earlier run has been
    // emptied; one that holds a recording is offered below.
    tempPath = workingFile.Path();
    hasRecording = false;
    playing = false;
    recording = false;

    for (const ButtonFaces& faces : kButtonFaces) {
        Button(faces.id).LoadBitmaps(faces);
    }

    totalTenths = 0;
    positionTenths = 0;
    sliderPos = 0;
    totalText = QString::fromUtf8(texts::kZeroTime);
    fileName = QString::fromUtf8(texts::kNoFileName);
    closing = false;
    paused = false;

    OnInitDialog();

    if (workingFile.LeftoverBytes() > 0) {
        // An unsaved recording of a run that ended without its teardown: the window holds it as its
        // own unsaved recording, and asks about it as soon as it shows.
        hasRecording = true;
        totalTenths = FileBytesToTenths(workingFile.LeftoverBytes());
        totalText = FormatTenths(totalTenths);
        ShowTimeText(totalText);
        buttonStates.SetStopped(true);
        QTimer::singleShot(0, this, &CRecorderDlg::OfferLeftover);
    }
}

void CRecorderDlg::OnInitDialog() {
    setWindowIcon(icon);

    for (CBitmapButton* button :
         {playButton, recordButton, pauseButton, stopButton, openButton, saveButton, aboutButton}) {
        button->SizeToContent();
    }

    // The slider lies over the black frame and takes its id.
    QWidget* frame = FindControl(*this, ControlId::SliderFrame);
    slider = new CPositionSlider(this); // owned by the dialog
    slider->setGeometry(frame->geometry());
    SetControlId(*slider, ControlId::SliderFrame);
    slider->setRange(0, 100);
    slider->setTickPosition(QSlider::TicksBothSides);
    slider->setTickInterval(10);
    slider->setPageStep(10);
    slider->setFocusPolicy(Qt::ClickFocus);
    slider->setAutoFillBackground(true); // covers the frame, as a trackbar paints its whole place
    // Screen readers name the controls that have no caption of their own.
    slider->setAccessibleName(QString::fromUtf8(texts::kPositionName));
    timeDisplay->setAccessibleName(QString::fromUtf8(texts::kTimeLabel));
    fileNameDisplay->setAccessibleName(QString::fromUtf8(texts::kFileNameLabel));
    slider->show();

    connect(openButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnOpen);
    connect(playButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnPlay);
    connect(stopButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnStop);
    connect(pauseButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnPause);
    connect(recordButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnRecord);
    connect(saveButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnSave);
    connect(slider, &CPositionSlider::Notified, this, &CRecorderDlg::OnHScroll);
    connect(aboutButton, &QAbstractButton::clicked, this, &CRecorderDlg::OnAbout);
    focusConnection = connect(qApp, &QApplication::focusChanged, this, &CRecorderDlg::OnFocusChanged);
    AddShortcuts();

    buttonStates.Attach(playButton, recordButton, pauseButton, stopButton, openButton, saveButton,
                        aboutButton, slider);

    ShowTimeText(totalText);
    ShowFileName();
}

CRecorderDlg::~CRecorderDlg() {
    // From here on no report may touch the window, and no thread of a run may outlive it: the pipeline
    // joins them before Stop returns. Reports still queued are dropped with the dialog.
    closing = true;
    disconnect(focusConnection);
    pipeline.Stop();
    {
        std::lock_guard lock(reportMutex);
        pendingReports.clear();
    }
    // The working file goes with workingFile: a recording that was not saved is lost here, which
    // only a window ended without the close handling (by the program, never by a key) can reach.
}

// ---- Reports ----------------------------------------------------------------------------------

void CRecorderDlg::OnPipelineStopped() {
    QueueReport(ReportKind::Stopped, 0);
}

void CRecorderDlg::ShowDuration(int durationTenths) {
    QueueReport(ReportKind::Duration, durationTenths);
}

void CRecorderDlg::ShowElapsed(int elapsedTenths) {
    QueueReport(ReportKind::Elapsed, elapsedTenths);
}

void CRecorderDlg::SetSliderPercent(int positionPercent) {
    QueueReport(ReportKind::SliderPercent, positionPercent);
}

void CRecorderDlg::ShowInputLevel(int peak) {
    QueueReport(ReportKind::InputLevel, peak);
}

void CRecorderDlg::QueueReport(ReportKind kind, int value) {
    bool wake = false;
    {
        std::lock_guard lock(reportMutex);
        wake = pendingReports.empty();
        const auto waitingLevel =
            kind != ReportKind::InputLevel
                ? pendingReports.end()
                : std::find_if(pendingReports.begin(), pendingReports.end(),
                               [](const Report& report) { return report.kind == ReportKind::InputLevel; });
        if (waitingLevel != pendingReports.end()) {
            // A busy window thread sees the loudest peak since it last looked, not a backlog of them.
            waitingLevel->value = std::max(waitingLevel->value, value);
        } else {
            pendingReports.push_back({kind, value});
        }
    }
    // One wake-up per batch: the window's thread takes everything queued when it runs. The method is
    // named rather than given as a member pointer so that the queued call is built inside Qt; a
    // member pointer's call object would be built here and handed over through Qt's event queue,
    // whose lock the thread checker cannot see. The reports themselves pass under reportMutex.
    if (wake) {
        const bool queued = QMetaObject::invokeMethod(this, "DeliverReports", Qt::QueuedConnection);
        assert(queued);
        (void)queued;
    }
}

void CRecorderDlg::DeliverReports() {
    std::deque<Report> batch;
    {
        std::lock_guard lock(reportMutex);
        batch.swap(pendingReports);
    }
    for (const Report& report : batch) {
        switch (report.kind) {
        case ReportKind::Stopped:
            ApplyStopped();
            break;
        case ReportKind::Duration:
            ApplyDuration(report.value);
            break;
        case ReportKind::Elapsed:
            ApplyElapsed(report.value);
            break;
        case ReportKind::SliderPercent:
            ApplySliderPercent(report.value);
            break;
        case ReportKind::InputLevel:
            ApplyInputLevel(report.value);
            break;
        }
    }
    // The message box runs its own event loop, so it comes after the whole batch is applied.
    if (runError && !closing) {
        const RunError error = *runError;
        runError.reset();
        ShowMessage(MessageKind::Warning, error.title, error.text);
    }
}

void CRecorderDlg::ApplyStopped() {
    levelMeter->hide();
    if (!closing) {
        const bool wasRecording = recording;
        if (wasRecording) {
            // Only a recording that holds a frame is one: a run that captured nothing (a device that
            // would not open) leaves the window as it was before Record.
            hasRecording = workingFile.HasWholeFrame();
            if (hasRecording) {
                // The recording's last elapsed time is its length.
                totalText = positionText;
                totalTenths = positionTenths;
            } else {
                fileName = beforeRecording.fileName;
                totalText = beforeRecording.totalText;
                totalTenths = beforeRecording.totalTenths;
                ShowFileName();
            }
        }
        EnterStoppedState(true);
        MoveSlider(0);
        playing = false;
        recording = false;
        ShowTimeText(totalText);
        if (pipeline.HasError()) {
            // A run that failed says why; the error text is the one its direction recorded.
            std::string reason = wasRecording ? pipeline.CaptureErrorText() : pipeline.PlaybackErrorText();
            if (reason.empty()) {
                reason = wasRecording ? pipeline.PlaybackErrorText() : pipeline.CaptureErrorText();
            }
            const QString why = reason.empty() ? QString::fromUtf8(texts::kUnknownRunError)
                                               : QString::fromUtf8(reason.c_str()).trimmed();
            runError = RunError{
                wasRecording ? texts::kRecordingErrorTitle : texts::kPlaybackErrorTitle,
                QString::fromUtf8(wasRecording ? texts::kRecordingError : texts::kPlaybackError).arg(why)};
        }
        if (const std::string loss = wasRecording ? pipeline.CaptureLossText() : std::string(); !loss.empty()) {
            // Holes in a recording are told as surely as an error, with the error when there is one.
            const QString told = QString::fromUtf8(texts::kRecordingLoss).arg(QString::fromUtf8(loss.c_str()));
            if (runError) {
                runError->text += "\n\n" + told;
            } else {
                runError = RunError{texts::kRecordingLossTitle, told};
            }
        }
    }
    paused = false;
}

void CRecorderDlg::ApplyDuration(int durationTenths) {
    if (closing) {
        return;
    }
    totalTenths = durationTenths;
    totalText = FormatTenths(durationTenths);
    ShowTimeText(totalText);
}

void CRecorderDlg::ApplyElapsed(int elapsedTenths) {
    if (closing) {
        return;
    }
    positionTenths = elapsedTenths;
    positionText = FormatTenths(elapsedTenths);
    if (recording && !hasRecording) {
        // The recording is one from its first frame on.
        hasRecording = workingFile.HasWholeFrame();
    }
    ShowTimeText(totalText.isEmpty() ? positionText
                                     : positionText + QString::fromUtf8(texts::kTotalSeparator) + totalText);
}

void CRecorderDlg::ApplySliderPercent(int positionPercent) {
    // A thumb the user holds stays under the mouse: the position they drag to is the one to seek to.
    if (closing || slider->isSliderDown()) {
        return;
    }
    MoveSlider(positionPercent);
}

void CRecorderDlg::ApplyInputLevel(int peak) {
    if (closing || !recording) {
        return;
    }
    levelMeter->ShowPeak(peak);
}

std::size_t CRecorderDlg::PendingReportCount() {
    std::lock_guard lock(reportMutex);
    return pendingReports.size();
}

// ---- Transport --------------------------------------------------------------------------------

void CRecorderDlg::OnPlay() {
    sliderPos = slider->value();
    const std::string& path = hasRecording ? tempPath : filePath;
    const QString shownName = QFile::decodeName(QByteArray::fromStdString(path));
    // The file opened or saved last may have been replaced since; the recording is the window's own.
    if (!hasRecording && !CheckPlayable(path, shownName)) {
        return;
    }
    if (!pipeline.StartPlayback(path, sliderPos, PlaybackMode())) {
        ShowStartFailure(false, shownName);
        return;
    }
    playing = true;
    buttonStates.SetPlaying();
    paused = false;
}

void CRecorderDlg::OnRecord() {
    if (!workingFile.Reclaim()) {
        ShowMessage(
            MessageKind::Warning, texts::kRecordingErrorTitle,
            QString::fromUtf8(texts::kRecordingNoWorkingFile)
                .arg(QDir::toNativeSeparators(QFileInfo(QString::fromStdString(tempPath)).path()),
                     QString::fromStdString(std::generic_category().message(workingFile.HoldError()))));
        return;
    }
    tempPath = workingFile.Path();
    beforeRecording = {fileName, totalText, totalTenths};
    // The pipeline creates the file anew: an earlier recording not yet saved is overwritten.
    if (!pipeline.StartRecording(tempPath, RecordingEffortInUse())) {
        ShowMessage(MessageKind::Warning, texts::kRecordingErrorTitle,
                    QString::fromUtf8(texts::kRecordingNotStarted));
        return;
    }
    if (hasRecording) {
        // What the earlier recording showed is gone with it; Play would play the file opened or
        // saved last, if any, whose length is not known before it plays.
        beforeRecording = {filePath.empty()
                               ? QString::fromUtf8(texts::kNoFileName)
                               : QFileInfo(QFile::decodeName(QByteArray::fromStdString(filePath))).fileName(),
                           QString::fromUtf8(texts::kZeroTime), 0};
    }
    paused = false;
    recording = true;
    // A recording again from its first frame on (see ApplyElapsed).
    hasRecording = false;
    totalTenths = 0;
    // Until the first elapsed report the recording is empty; its length must not be an earlier one.
    positionTenths = 0;
    positionText = FormatTenths(0);
    buttonStates.SetRecording();
    levelMeter->Reset();
    levelMeter->show();
    MoveSlider(0);
    totalText.clear();
    fileName = QString::fromUtf8(texts::kNoFileName);
    ShowFileName();
}

void CRecorderDlg::OnPause() {
    paused = pipeline.TogglePause();
    buttonStates.SetPauseToggled(paused);
}

void CRecorderDlg::OnStop() {
    pipeline.Stop();
    // Stop has joined the run's threads, so the run's last reports are queued by now; applying them
    // here lets the end of the run act before the stopped state, as a direct report would.
    DeliverReports();
    if (!closing) {
        EnterStoppedState(false);
    }
    paused = false;
}

void CRecorderDlg::EnterStoppedState(bool ended) {
    if (!hasRecording && filePath.empty()) {
        buttonStates.SetIdle();
    } else if (ended) {
        buttonStates.SetEnded(hasRecording);
    } else {
        buttonStates.SetStopped(hasRecording);
    }
}

// ---- Files ------------------------------------------------------------------------------------

void CRecorderDlg::OnOpen() {
    OpenChosen(std::nullopt);
}

void CRecorderDlg::OpenFile(const QString& path) {
    OpenChosen(path);
}

void CRecorderDlg::OpenChosen(std::optional<QString> given) {
    if (hasRecording && PromptSave()) {
        // The user presses Open again once the recording is saved.
        OnSave();
        return;
    }
    sliderPos = 0;
    MoveSlider(0);
    const std::optional<QString> chosen = given ? given : dialogs.chooseOpenFile(*this);
    if (chosen) {
        const std::string path = ToFileSystemPath(*chosen);
        sliderPos = slider->value();
        RememberFolderOf(*chosen);
        // Refused or not started, the window stays as it was, an unsaved recording included.
        if (CheckPlayable(path, *chosen)) {
            if (pipeline.StartPlayback(path, sliderPos, PlaybackMode())) {
                filePath = path;
                fileName = QFileInfo(*chosen).fileName();
                buttonStates.SetOpened();
                playing = true;
                ShowFileName();
                hasRecording = false;
            } else {
                ShowStartFailure(false, *chosen);
            }
        }
    }
    paused = false;
}

bool CRecorderDlg::CheckPlayable(const std::string& path, const QString& shownName) {
    const RecordingFileCheck check = CheckRecordingFile(path);
    if (check.IsPlayable()) {
        return true;
    }
    ShowMessage(MessageKind::Warning, texts::kNotPlayedTitle,
                QString::fromUtf8(texts::kNotPlayed)
                    .arg(QDir::toNativeSeparators(shownName),
                         QString::fromUtf8(RecordingFileProblemText(check).c_str())));
    return false;
}

bool CRecorderDlg::OnSave() {
    bool saved = false;
    if (const std::optional<QString> chosen = dialogs.chooseSaveFile(*this)) {
        const std::string target = ToFileSystemPath(*chosen);
        RememberFolderOf(*chosen);
        if (IsWavName(*chosen)) {
            // Sound to share, decoded as the window plays it; the recording itself is still to be
            // saved as a recording, so everything else stays as it was.
            const CopyOutcome outcome = ExportRecordingAsWav(tempPath, target, PlaybackMode());
            if (!outcome.Succeeded()) {
                ShowSaveFailure(*chosen, outcome);
            }
            paused = false;
            return false;
        }
        const CopyOutcome outcome = CopyRecording(tempPath, target);
        if (outcome.Succeeded()) {
            // The saved copy is on the disk; the working file stays the window's, empty.
            workingFile.Empty();
            saved = true;
            filePath = target;
            fileName = QFileInfo(*chosen).fileName();
            sliderPos = slider->value();
            ShowFileName();
            hasRecording = false;
            buttonStates.SetSaved();
        } else {
            // The recording stays where it is, still unsaved, and Save stays enabled.
            ShowSaveFailure(*chosen, outcome);
        }
    }
    paused = false;
    return saved;
}

bool CRecorderDlg::PromptSave() {
    return dialogs.runSavePrompt(*this) != QDialog::Rejected;
}

void CRecorderDlg::OnAbout() {
    ShowMessage(MessageKind::Plain, texts::kAboutTitle, QString::fromUtf8(texts::kAboutText));
}

// ---- Closing ----------------------------------------------------------------------------------

void CRecorderDlg::closeEvent(QCloseEvent* event) {
    if (closeHandlingActive) {
        // A second request while the prompts of the first are open: the first one ends the dialog.
        event->ignore();
        return;
    }
    closeHandlingActive = true;
    const bool mayClose = OnClose();
    closeHandlingActive = false;
    if (!mayClose) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

bool CRecorderDlg::OnClose() {
    // A recording, or a playback of one, ends as Stop ends it, so that the window is in its stopped
    // state should it stay open.
    if (recording || (playing && hasRecording)) {
        OnStop();
    }
    closing = true;
    if (playing) {
        OnStop();
        QEventLoop wait;
        QTimer::singleShot(kClosePlaybackWait, &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }
    // Asked once. Yes with the save dialog cancelled, or a save that failed, keeps the window and the
    // recording: the user wanted it kept.
    if (hasRecording && PromptSave() && !OnSave()) {
        closing = false;
        return false;
    }
    return true;
}

void CRecorderDlg::OfferLeftover() {
    if (closing || recording || playing || !hasRecording) {
        return; // already decided by the close handling, or the user has recorded or opened since
    }
    // A close request meanwhile waits for the answer, as it would for the close handling's prompt.
    closeHandlingActive = true;
    const bool keep = PromptSave();
    if (keep) {
        // Saved, or kept as the window's unsaved recording when the save did not happen.
        OnSave();
    }
    closeHandlingActive = false;
    if (keep) {
        return;
    }
    workingFile.Empty();
    hasRecording = false;
    totalTenths = 0;
    totalText = QString::fromUtf8(texts::kZeroTime);
    ShowTimeText(totalText);
    buttonStates.SetIdle();
}

void CRecorderDlg::OnOK() {
    if (recording || playing) {
        return;
    }
    if (hasRecording) {
        close();
        return;
    }
    accept();
}

void CRecorderDlg::OnCancel() {
    if (recording || hasRecording) {
        close();
        return;
    }
    reject();
}

int CRecorderDlg::RecordingEffortInUse() const {
    return UsableEffort(RecordingEffort(), effortAllowed);
}

void CRecorderDlg::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(enhancedPlayback);
    menu.addSeparator();
    for (QAction* action : effortActions) {
        menu.addAction(action);
    }
    menu.exec(event->globalPos());
}

std::optional<QString> CRecorderDlg::DroppedFile(const QMimeData* mime) const {
    // Only when Open could be pressed, and only one file: the window plays one file at a time.
    if (mime == nullptr || !mime->hasUrls() || mime->urls().size() != 1 || !openButton->isEnabled()) {
        return std::nullopt;
    }
    const QUrl url = mime->urls().constFirst();
    if (!url.isLocalFile()) {
        return std::nullopt;
    }
    return url.toLocalFile();
}

void CRecorderDlg::dragEnterEvent(QDragEnterEvent* event) {
    if (DroppedFile(event->mimeData())) {
        event->acceptProposedAction();
    }
}

void CRecorderDlg::dropEvent(QDropEvent* event) {
    const std::optional<QString> file = DroppedFile(event->mimeData());
    if (!file) {
        return;
    }
    event->acceptProposedAction();
    // Opened once the drop has ended: the prompt or a message must not run inside the drag.
    QTimer::singleShot(0, this, [this, path = *file] {
        if (openButton->isEnabled() && !closing) {
            OpenFile(path);
        }
    });
}

void CRecorderDlg::AddShortcuts() {
    for (const ButtonShortcut& shortcut : kButtonShortcuts) {
        CBitmapButton& button = Button(shortcut.id);
        const QKeySequence key(QString::fromLatin1(shortcut.key));
        QList<QKeySequence> keys{key};
        if (shortcut.mediaKey != nullptr) {
            keys.append(QKeySequence(QString::fromLatin1(shortcut.mediaKey)));
        }
        auto* action = new QShortcut(this); // owned by the dialog
        action->setKeys(keys);
        // As a click: only an enabled button acts, and the focus stays where it is.
        connect(action, &QShortcut::activated, &button, [&button] {
            if (button.isEnabled()) {
                button.click();
            }
        });
        button.setToolTip(
            QString::fromUtf8(texts::kButtonTip).arg(button.text(), key.toString(QKeySequence::NativeText)));
        button.setAccessibleName(button.text());
    }
}

void CRecorderDlg::keyPressEvent(QKeyEvent* event) {
    // Bitmap buttons never take Enter (Space presses them): Enter is always the OK command.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        OnOK();
        return;
    }
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        OnCancel();
        return;
    }
    QDialog::keyPressEvent(event);
}

// ---- Slider -----------------------------------------------------------------------------------

void CRecorderDlg::OnHScroll(SliderCode code) {
    const bool active = (fileName != QString::fromUtf8(texts::kNoFileName) || hasRecording) && !recording;
    if (!active) {
        // The thumb can be dragged but returns to the start when it is let go.
        if (code == SliderCode::EndTrack) {
            MoveSlider(0);
        }
        return;
    }
    sliderPos = slider->sliderPosition();
    const auto preview = [this] { ApplyElapsed(PercentOfTenths(totalTenths, sliderPos)); };
    if (!playing) {
        // Shows where a later Play will start.
        preview();
        return;
    }
    switch (code) {
    case SliderCode::PageUp:
    case SliderCode::PageDown:
        pipeline.Seek(sliderPos);
        pipeline.Hold(true);
        preview();
        break;
    case SliderCode::ThumbPosition:
        pipeline.Seek(sliderPos);
        preview();
        break;
    case SliderCode::ThumbTrack:
        pipeline.Hold(true);
        preview();
        break;
    case SliderCode::EndTrack:
        pipeline.Hold(false);
        pipeline.Seek(sliderPos);
        break;
    case SliderCode::LineUp:
    case SliderCode::LineDown:
    case SliderCode::Top:
    case SliderCode::Bottom:
        break;
    }
    if (paused) {
        buttonStates.MoveFocus(pauseButton);
    }
}

// ---- Helpers ----------------------------------------------------------------------------------

void CRecorderDlg::OnFocusChanged(QWidget* /*previous*/, QWidget* now) {
    if (now != nullptr && isAncestorOf(now)) {
        buttonStates.ClearFocusMarks();
    }
}

void CRecorderDlg::MoveSlider(int percent) {
    // Never taken for a move of the user's.
    const QSignalBlocker blocker(slider);
    slider->setValue(percent);
}

void CRecorderDlg::ShowTimeText(const QString& text) {
    timeDisplay->setText(text);
}

void CRecorderDlg::ShowFileName() {
    fileNameDisplay->setText(fileName);
}

bool IsWavName(const QString& path) {
    return QFileInfo(path).suffix().compare(QString::fromUtf8(texts::kWavSuffix), Qt::CaseInsensitive) == 0;
}

QString CRecorderDlg::TimeDisplayText() const {
    return timeDisplay->text();
}

QString CRecorderDlg::FileNameText() const {
    return fileNameDisplay->text();
}

CBitmapButton& CRecorderDlg::Button(ControlId id) const {
    return *qobject_cast<CBitmapButton*>(FindControl(*this, id));
}

void CRecorderDlg::ShowStartFailure(bool started, const QString& what) {
    if (!started) {
        ShowMessage(MessageKind::Warning, texts::kPlaybackErrorTitle,
                    QString::fromUtf8(texts::kPlaybackNotStarted).arg(what));
    }
}

void CRecorderDlg::ShowSaveFailure(const QString& target, const CopyOutcome& outcome) {
    const QString reason =
        outcome.systemError == 0
            ? QString()
            : QString::fromUtf8(texts::kSaveReasonSeparator) +
                  QString::fromStdString(std::generic_category().message(outcome.systemError));
    ShowMessage(MessageKind::Warning, texts::kSaveFailedTitle,
                QString::fromUtf8(texts::kSaveFailed)
                    .arg(QDir::toNativeSeparators(target),
                         QString::fromUtf8(SaveFailureText(outcome.failure)), reason));
}

void CRecorderDlg::ShowMessage(MessageKind kind, const char* title, const QString& text) {
    dialogs.showMessage(*this, kind, QString::fromUtf8(title), text);
}

} // namespace velmar
