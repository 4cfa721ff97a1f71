#include "app/ButtonStates.h"

#include "app/BitmapButton.h"

#include <QWidget>

namespace velmar {

void CButtonStates::Attach(CBitmapButton* playButton, CBitmapButton* recordButton, CBitmapButton* pauseButton,
                           CBitmapButton* stopButton, CBitmapButton* openButton, CBitmapButton* saveButton,
                           CBitmapButton* aboutButton, QWidget* positionSlider) {
    play = playButton;
    record = recordButton;
    pause = pauseButton;
    stop = stopButton;
    open = openButton;
    save = saveButton;
    about = aboutButton;
    slider = positionSlider;
    playStarted = false;
    recordStarted = false;
    Enter(DialogState::Idle);
    MoveFocus(open);
}

void CButtonStates::SetPlaying() {
    Enter(DialogState::Running);
    playStarted = true;
}

void CButtonStates::SetRecording() {
    Enter(DialogState::Running);
    recordStarted = true;
    MoveFocus(slider);
}

void CButtonStates::SetPauseToggled(bool isPaused) {
    Enter(DialogState::Running);
    // With both run kinds set, the playback's move comes second and wins.
    if (recordStarted) {
        MoveFocus(isPaused ? static_cast<QWidget*>(record) : slider);
    }
    if (playStarted) {
        MoveFocus(isPaused ? static_cast<QWidget*>(play) : slider);
    }
}

void CButtonStates::SetStopped(bool canSave) {
    Enter(StoppedState(canSave));
    playStarted = false;
    recordStarted = false;
}

void CButtonStates::SetOpened() {
    Enter(DialogState::Running);
    MoveFocus(slider);
}

void CButtonStates::SetSaved() {
    Enter(DialogState::StoppedFile);
    MoveFocus(slider);
}

void CButtonStates::SetEnded(bool canSave) {
    // The focus moves before the buttons change, so Play takes it as it becomes enabled.
    MoveFocus(play);
    Enter(StoppedState(canSave));
}

void CButtonStates::SetIdle() {
    Enter(DialogState::Idle);
    playStarted = false;
    recordStarted = false;
    MoveFocus(open);
}

void CButtonStates::Enter(DialogState next) {
    state = next;
    enabled = EnabledButtons(next);
    Apply();
}

void CButtonStates::Apply() {
    if (play == nullptr) {
        return;
    }
    QWidget* holder = FocusHolder();
    const std::array<std::pair<CBitmapButton*, bool>, 7> buttons{{{play, enabled.play},
                                                                  {record, enabled.record},
                                                                  {pause, enabled.pause},
                                                                  {stop, enabled.stop},
                                                                  {open, enabled.open},
                                                                  {save, enabled.save},
                                                                  {about, enabled.about}}};
    for (const auto& [button, on] : buttons) {
        button->setEnabled(on);
        if (on) {
            button->setDown(false);
        }
    }
    // Disabling the focused button made Qt pass the focus on; it belongs where it was.
    MoveFocus(holder);
}

void CButtonStates::MoveFocus(QWidget* target) {
    ClearFocusMarks();
    if (target == nullptr) {
        return;
    }
    if (target->isEnabled()) {
        target->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (QWidget* current = target->window()->focusWidget()) {
        current->clearFocus();
    }
    for (CBitmapButton* button : {play, record, pause, stop, open, save, about}) {
        if (button == target) {
            button->SetFocusMark(true);
        }
    }
}

QWidget* CButtonStates::FocusHolder() const {
    if (play == nullptr) {
        return nullptr;
    }
    for (CBitmapButton* button : {play, record, pause, stop, open, save, about}) {
        if (button->HasFocusMark()) {
            return button;
        }
    }
    return play->window()->focusWidget();
}

void CButtonStates::ClearFocusMarks() {
    for (CBitmapButton* button : {play, record, pause, stop, open, save, about}) {
        if (button != nullptr) {
            button->SetFocusMark(false);
        }
    }
}

} // namespace velmar
