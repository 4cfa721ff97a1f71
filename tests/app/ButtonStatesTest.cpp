// CButtonStates over real buttons and a slider in a window of their own: which buttons each step
// enables, the run-kind flags and where the keyboard focus goes.
#include "app/ButtonStates.h"

#include "app/BitmapButton.h"

#include <QSlider>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace velmar {
namespace {

struct Enabled {
    bool play, record, pause, stop, open, save, about;
};

class ButtonStatesTest : public ::testing::Test {
protected:
    ButtonStatesTest() {
        for (CBitmapButton*& button : buttons) {
            button = new CBitmapButton(&window); // owned by window
        }
        slider = new QSlider(Qt::Horizontal, &window); // owned by window
        slider->setFocusPolicy(Qt::ClickFocus);
        window.show();
        states.Attach(play(), record(), pause(), stop(), open(), save(), about(), slider);
    }

    CBitmapButton* play() const { return buttons[0]; }
    CBitmapButton* record() const { return buttons[1]; }
    CBitmapButton* pause() const { return buttons[2]; }
    CBitmapButton* stop() const { return buttons[3]; }
    CBitmapButton* open() const { return buttons[4]; }
    CBitmapButton* save() const { return buttons[5]; }
    CBitmapButton* about() const { return buttons[6]; }

    void ExpectEnabled(const Enabled& expected) const {
        const std::array<bool, 7> want{expected.play, expected.record, expected.pause, expected.stop,
                                       expected.open, expected.save,   expected.about};
        const std::array<const char*, 7> names{"Play", "Record", "Pause", "Stop", "Open", "Save", "About"};
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i]->isEnabled(), want[i]) << names[i];
        }
    }

    QWidget window;
    std::array<CBitmapButton*, 7> buttons{};
    QSlider* slider = nullptr;
    CButtonStates states;
};

struct StepCase {
    const char* name;
    std::function<void(CButtonStates&)> step;
    Enabled enabled;
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const StepCase& c, std::ostream* os) {
    *os << c.name;
}

class ButtonStatesSteps : public ButtonStatesTest, public ::testing::WithParamInterface<StepCase> {};

TEST_P(ButtonStatesSteps, EnableExactlyTheirButtons) {
    // From a running state, so that every step changes something.
    states.SetRecording();
    GetParam().step(states);
    ExpectEnabled(GetParam().enabled);
}

INSTANTIATE_TEST_SUITE_P(ButtonStates, ButtonStatesSteps,
                         ::testing::Values(StepCase{"SetPlaying",
                                                    [](CButtonStates& s) { s.SetPlaying(); },
                                                    {false, false, true, true, false, false, true}},
                                           StepCase{"SetRecording",
                                                    [](CButtonStates& s) { s.SetRecording(); },
                                                    {false, false, true, true, false, false, true}},
                                           StepCase{"SetPauseToggledPaused",
                                                    [](CButtonStates& s) { s.SetPauseToggled(true); },
                                                    {false, false, true, true, false, false, true}},
                                           StepCase{"SetPauseToggledResumed",
                                                    [](CButtonStates& s) { s.SetPauseToggled(false); },
                                                    {false, false, true, true, false, false, true}},
                                           StepCase{"SetStoppedCanSave",
                                                    [](CButtonStates& s) { s.SetStopped(true); },
                                                    {true, true, false, false, true, true, true}},
                                           StepCase{"SetStoppedNothingToSave",
                                                    [](CButtonStates& s) { s.SetStopped(false); },
                                                    {true, true, false, false, true, false, true}},
                                           StepCase{"SetOpened",
                                                    [](CButtonStates& s) { s.SetOpened(); },
                                                    {false, false, true, true, false, false, true}},
                                           StepCase{"SetSaved",
                                                    [](CButtonStates& s) { s.SetSaved(); },
                                                    {true, true, false, false, true, false, true}},
                                           StepCase{"SetEndedCanSave",
                                                    [](CButtonStates& s) { s.SetEnded(true); },
                                                    {true, true, false, false, true, true, true}},
                                           StepCase{"SetEndedNothingToSave",
                                                    [](CButtonStates& s) { s.SetEnded(false); },
                                                    {true, true, false, false, true, false, true}}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ButtonStatesTest, AttachEnablesRecordOpenAboutAndFocusesOpen) {
    ExpectEnabled({false, true, false, false, true, false, true});
    EXPECT_EQ(states.FocusHolder(), open());
    EXPECT_FALSE(states.PlayStarted());
    EXPECT_FALSE(states.RecordStarted());
}

TEST_F(ButtonStatesTest, EnabledButtonsLoseTheirPushedLook) {
    states.SetRecording();
    play()->setDown(true);
    states.SetStopped(true);
    EXPECT_FALSE(play()->isDown());
    EXPECT_EQ(play()->CurrentFace(), CBitmapButton::Face::Normal);
}

TEST_F(ButtonStatesTest, RunKindsAreSetByPlayAndRecordAndClearedOnlyByStop) {
    states.SetRecording();
    states.SetEnded(true);
    EXPECT_TRUE(states.RecordStarted()) << "a run that ends by itself keeps its kind";
    states.SetPlaying();
    states.SetOpened();
    states.SetSaved();
    EXPECT_TRUE(states.RecordStarted());
    EXPECT_TRUE(states.PlayStarted());
    states.SetStopped(false);
    EXPECT_FALSE(states.RecordStarted());
    EXPECT_FALSE(states.PlayStarted());
}

TEST_F(ButtonStatesTest, OpenSetsNeitherRunKind) {
    states.SetOpened();
    EXPECT_FALSE(states.PlayStarted());
    EXPECT_FALSE(states.RecordStarted());
}

struct PauseFocusCase {
    const char* name;
    bool recordStarted;
    bool playStarted;
    bool paused;
    int expectedHolder; // index into buttons, or -1 for the slider, -2 for unchanged (Stop)
};

// The test log names the case instead of dumping its bytes.
void PrintTo(const PauseFocusCase& c, std::ostream* os) {
    *os << c.name;
}

class PauseFocus : public ButtonStatesTest, public ::testing::WithParamInterface<PauseFocusCase> {};

TEST_P(PauseFocus, FollowsTheRunKinds) {
    const PauseFocusCase& c = GetParam();
    states.SetStopped(false); // clears both kinds
    if (c.recordStarted) {
        states.SetRecording();
        if (c.playStarted) {
            states.SetEnded(true);
        }
    }
    if (c.playStarted) {
        states.SetPlaying();
    }
    if (!c.recordStarted && !c.playStarted) {
        states.SetOpened();
    }
    states.MoveFocus(stop());
    states.SetPauseToggled(c.paused);

    QWidget* expected = c.expectedHolder == -1 ? static_cast<QWidget*>(slider)
                        : c.expectedHolder == -2
                            ? static_cast<QWidget*>(stop())
                            : static_cast<QWidget*>(buttons[static_cast<std::size_t>(c.expectedHolder)]);
    EXPECT_EQ(states.FocusHolder(), expected);
    ExpectEnabled({false, false, true, true, false, false, true});
    if (c.paused && c.expectedHolder >= 0) {
        // Play and Record stay disabled, yet the one holding the focus shows its focused face.
        auto* holder = buttons[static_cast<std::size_t>(c.expectedHolder)];
        EXPECT_FALSE(holder->isEnabled());
        EXPECT_EQ(holder->CurrentFace(), CBitmapButton::Face::Focused);
    }
}

INSTANTIATE_TEST_SUITE_P(ButtonStates, PauseFocus,
                         ::testing::Values(PauseFocusCase{"RecordingPaused", true, false, true, 1},
                                           PauseFocusCase{"RecordingResumed", true, false, false, -1},
                                           PauseFocusCase{"PlaybackPaused", false, true, true, 0},
                                           PauseFocusCase{"PlaybackResumed", false, true, false, -1},
                                           PauseFocusCase{"BothPausedPlayWins", true, true, true, 0},
                                           PauseFocusCase{"BothResumed", true, true, false, -1},
                                           PauseFocusCase{"NeitherPausedUnchanged", false, false, true, -2},
                                           PauseFocusCase{"NeitherResumedUnchanged", false, false, false,
                                                          -2}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ButtonStatesTest, FocusMovesOfEachStep) {
    states.SetRecording();
    EXPECT_EQ(states.FocusHolder(), slider) << "Record";
    states.MoveFocus(about());
    states.SetPlaying();
    EXPECT_EQ(states.FocusHolder(), about()) << "Play leaves the focus";
    states.SetStopped(true);
    EXPECT_EQ(states.FocusHolder(), about()) << "Stop leaves the focus";
    states.SetOpened();
    EXPECT_EQ(states.FocusHolder(), slider) << "Open";
    states.MoveFocus(about());
    states.SetSaved();
    EXPECT_EQ(states.FocusHolder(), slider) << "Save";
}

TEST_F(ButtonStatesTest, EndOfRunFocusesPlayWhichThenTakesTheRealFocus) {
    states.SetPlaying();
    states.MoveFocus(stop());
    states.SetEnded(false);
    EXPECT_EQ(states.FocusHolder(), play());
    EXPECT_TRUE(play()->isEnabled());
    EXPECT_FALSE(play()->HasFocusMark()) << "an enabled button holds the real focus, not a mark";
    EXPECT_EQ(window.focusWidget(), play());
}

TEST_F(ButtonStatesTest, DisablingTheFocusedButtonKeepsTheFocusOnIt) {
    states.SetStopped(true);
    states.MoveFocus(play());
    states.SetPlaying(); // Play is disabled while it plays; the focus stays where it was
    EXPECT_EQ(states.FocusHolder(), play());
    EXPECT_EQ(play()->CurrentFace(), CBitmapButton::Face::Focused);
    // Another widget taking the focus removes the mark.
    states.MoveFocus(slider);
    EXPECT_FALSE(play()->HasFocusMark());
    EXPECT_EQ(play()->CurrentFace(), CBitmapButton::Face::Disabled);
}

} // namespace
} // namespace velmar
