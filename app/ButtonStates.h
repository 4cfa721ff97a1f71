// Which of the recorder's seven buttons can be pressed, and where the keyboard focus goes, at each
// step of the window's life. One table (EnabledButtons) gives the buttons of each dialog state; the
// Set operations pick a state, apply it and move the focus as that step requires.
//
// Focus: a disabled widget cannot take Qt's focus, yet the recorder lets the focus rest on a
// disabled button (after Pause the focus goes to Record or Play, which stay disabled). Such a button
// carries a focus mark instead, shows its focused face, and takes the real focus as soon as it is
// enabled again; any other widget taking the focus clears the mark. Used on the window's thread only.
#pragma once

#include <array>
#include <cstddef>

class QWidget;

namespace velmar {

class CBitmapButton;

// The dialog's states as far as the buttons are concerned: a recording or a playback, running or
// paused, is Running.
enum class DialogState {
    Idle,           // start: nothing recorded or opened yet
    Running,        // recording or playing
    StoppedUnsaved, // stopped with a recording that has not been saved
    StoppedFile,    // stopped with a file opened or saved
};

struct EnabledButtonSet {
    bool play = false;
    bool record = false;
    bool pause = false;
    bool stop = false;
    bool open = false;
    bool save = false;
    bool about = false;

    bool operator==(const EnabledButtonSet&) const = default;
};

// The one table of the buttons each state enables.
constexpr EnabledButtonSet EnabledButtons(DialogState state) {
    switch (state) {
    case DialogState::Idle:
        return {.record = true, .open = true, .about = true};
    case DialogState::Running:
        return {.pause = true, .stop = true, .about = true};
    case DialogState::StoppedUnsaved:
        return {.play = true, .record = true, .open = true, .save = true, .about = true};
    case DialogState::StoppedFile:
        return {.play = true, .record = true, .open = true, .about = true};
    }
    return {};
}

constexpr DialogState StoppedState(bool canSave) {
    return canSave ? DialogState::StoppedUnsaved : DialogState::StoppedFile;
}

class CButtonStates {
public:
    // Takes the seven buttons (not owned) and the slider, then enables the start state's buttons and
    // gives the focus to Open.
    void Attach(CBitmapButton* playButton, CBitmapButton* recordButton, CBitmapButton* pauseButton,
                CBitmapButton* stopButton, CBitmapButton* openButton, CBitmapButton* saveButton,
                CBitmapButton* aboutButton, QWidget* positionSlider);

    void SetPlaying();                   // Play: sets playStarted
    void SetRecording();                 // Record: sets recordStarted, focus to the slider
    void SetPauseToggled(bool isPaused); // Pause: focus as the run kinds say
    void SetStopped(bool canSave);       // Stop: clears both run kinds afterwards
    void SetOpened();                    // Open: focus to the slider
    void SetSaved();                     // Save: focus to the slider
    void SetEnded(bool canSave);         // end of a run: focus to Play first
    // Nothing to play or save (a recording that captured nothing, a leftover recording the user did
    // not want): the start state again, both run kinds cleared, focus to Open.
    void SetIdle();

    // Enables the buttons whose flag is set (clearing their pushed look) and disables the others;
    // the focus stays where it was, on a mark if its holder is now disabled.
    void Apply();

    // Moves the keyboard focus to `target`, or marks it when it is a disabled button.
    void MoveFocus(QWidget* target);
    // The widget that holds the keyboard focus: the marked button, else the window's focus widget.
    QWidget* FocusHolder() const;
    // Another widget has taken the focus: no button keeps a mark.
    void ClearFocusMarks();

    DialogState State() const { return state; }
    EnabledButtonSet Enabled() const { return enabled; }
    bool PlayStarted() const { return playStarted; }
    bool RecordStarted() const { return recordStarted; }

private:
    void Enter(DialogState next);

    DialogState state = DialogState::Idle;
    EnabledButtonSet enabled;
    bool playStarted = false;   // a playback was started with Play since the last Stop
    bool recordStarted = false; // a recording was started with Record since the last Stop
    CBitmapButton* play = nullptr;
    CBitmapButton* record = nullptr;
    CBitmapButton* pause = nullptr;
    CBitmapButton* stop = nullptr;
    CBitmapButton* open = nullptr;
    CBitmapButton* save = nullptr;
    CBitmapButton* about = nullptr;
    QWidget* slider = nullptr;
};

} // namespace velmar
